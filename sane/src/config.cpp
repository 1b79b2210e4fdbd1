#include "config.h"

#include <fstream>
#include <sstream>

#include "log.h"

namespace orvo::sane {

namespace {

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
        std::ifstream in(path);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<std::string> problems;
        Config c = ParseConfig(text.str(), &problems);
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
