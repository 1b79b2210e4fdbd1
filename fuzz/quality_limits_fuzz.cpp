// quality.ini as a site writes it: any bytes give limits and the problems
// named, and the limits written out read back without a problem.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "orvo/quality/limits.h"

namespace {

const std::string& Path() {
    static const std::string path = [] {
        std::string pattern = "/tmp/orvo-fuzz-limits-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern + "/quality.ini";
    }();
    return path;
}

void Put(const std::string& text) {
    const int fd = ::open(Path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    if (!text.empty() && ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::abort();
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    Put(std::string(reinterpret_cast<const char*>(input), size));
    orvo::quality::Limits limits;
    std::vector<std::string> problems;
    orvo::quality::ReadLimitsFile(Path(), &limits, &problems);
    Put(orvo::quality::LimitsFileText(limits));
    problems.clear();
    orvo::quality::Limits again;
    orvo::quality::ReadLimitsFile(Path(), &again, &problems);
    if (!problems.empty()) std::abort();
    return 0;
}
