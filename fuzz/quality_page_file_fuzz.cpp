// Page files as `orvoscan quality` reads them (TIFF of any coding libtiff
// reads, Windows bitmaps): any bytes are read or refused, and a page read is
// measured and judged, within its buffers.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "orvo/quality/check.h"
#include "orvo/quality/page.h"

namespace {

const std::string& Path() {
    static const std::string path = [] {
        std::string pattern = "/tmp/orvo-fuzz-page-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern + "/A000001F.tif";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    const int fd = ::open(Path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    if (size > 0 && ::write(fd, input, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);
    orvo::quality::Page page;
    std::string error;
    if (orvo::quality::ReadPageFile(Path(), &page, &error)) {
        // Pages too large to measure quickly are read, not measured.
        if (static_cast<int64_t>(page.width) * page.height > 4000000) return 0;
        const orvo::quality::ChequeReport report =
            orvo::quality::CheckCheque(orvo::quality::Limits(), &page, nullptr);
        if (report.sides.size() != 1) std::abort();
    } else if (error.empty()) {
        std::abort();  // a refusal always says why
    }
    return 0;
}
