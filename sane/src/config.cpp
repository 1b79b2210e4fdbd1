#include "orvo/sane/config.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "orvo/platform/files.h"
#include "orvo/sane/log.h"

namespace orvo::sane {

namespace {

// A configuration file is a few lines; anything longer is not one.
constexpr std::size_t kMaxConfigSize = 64 * 1024;

std::string Trim(const std::string& s) {
    const std::size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    const std::size_t end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

}  // namespace

Config ParseConfig(const std::string& text, std::vector<std::string>* problems) {
    Config c;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = Trim(line);
        if (line.empty()) continue;
        const std::size_t gap = line.find_first_of(" \t");
        const std::string key = line.substr(0, gap);
        const std::string value = gap == std::string::npos ? "" : Trim(line.substr(gap));
        if (key == "system-dir" && !value.empty()) {
            c.systemDir = value;
        } else if (key == "profile" && !value.empty()) {
            c.profile = value;
        } else if (key == "aspi" && (value == "sim" || value == "sg")) {
            c.aspi = value;
        } else if (problems != nullptr) {
            problems->push_back("line " + std::to_string(number) + ": " + line);
        }
    }
    return c;
}

std::vector<std::string> ConfigDirs(const char* saneConfigDir, const std::string& defaultDir) {
    std::vector<std::string> dirs;
    if (saneConfigDir == nullptr || *saneConfigDir == '\0') return {defaultDir};
    const std::string list = saneConfigDir;
    std::size_t at = 0;
    for (;;) {
        const std::size_t colon = list.find(':', at);
        const std::string dir = list.substr(at, colon == std::string::npos ? colon : colon - at);
        if (!dir.empty()) dirs.push_back(dir);
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    if (list.back() == ':') dirs.push_back(defaultDir);
    return dirs;
}

Config ReadConfig(const std::vector<std::string>& dirs) {
    for (const std::string& dir : dirs) {
        const std::string path = dir + "/orvoscan.conf";
        // Only a regular file: a FIFO or a device there is refused at once,
        // never waited on or read without end.
        std::string text;
        const platform::ReadResult read = platform::ReadRegularFile(path, kMaxConfigSize, text);
        if (read == platform::ReadResult::Missing) continue;
        if (read != platform::ReadResult::Ok) {
            Log(kLogError, "%s not read: %s", path.c_str(),
                read == platform::ReadResult::NotRegular ? "not a regular file"
                : read == platform::ReadResult::TooLarge ? "larger than 64 KiB"
                                                         : std::strerror(errno));
            continue;
        }
        std::vector<std::string> problems;
        Config c = ParseConfig(text, &problems);
        for (const std::string& p : problems) {
            Log(kLogWarning, "%s: setting not understood, ignored: %s", path.c_str(), p.c_str());
        }
        c.path = path;
        Log(kLogStep, "configuration read from %s", path.c_str());
        return c;
    }
    Log(kLogStep, "no orvoscan.conf found; built-in defaults used");
    return {};
}

}  // namespace orvo::sane
