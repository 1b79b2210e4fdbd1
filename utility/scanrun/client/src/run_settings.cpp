#include "orvo/scanrun/run_settings.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "orvo/core/profile_values.h"
#include "orvo/platform/dirs.h"
#include "orvo/platform/files.h"
#include "orvo/platform/profile.h"

namespace orvo::scanrun {

std::string SettingsFilePath(const std::string& systemDir) {
    if (systemDir.empty() || systemDir.back() == '/') return systemDir + "OrvoScan.ini";
    return systemDir + "/OrvoScan.ini";
}

std::vector<std::string> ListProfiles(const std::string& settingsFile) {
    std::vector<std::string> profiles;
    for (const std::string& name : platform::ProfileSectionNames(settingsFile)) {
        if (name.empty()) continue;
        if (strcasecmp(name.c_str(), "Default") == 0 || strcasecmp(name.c_str(), "MISC") == 0) {
            continue;
        }
        profiles.push_back(name);
    }
    return profiles;
}

int ProfileSide(const std::string& settingsFile, const std::string& profile) {
    return platform::ProfileInt(profile, "Side", 1, settingsFile);
}

int ProfileScanLines(const std::string& settingsFile, const std::string& profile) {
    const std::string section =
        profile_values::LoadedSection(platform::ProfileSectionNames(settingsFile), profile);
    return platform::ProfileInt(section, "ScanLines1", 0, settingsFile);
}

int MicrDetect(const std::string& settingsFile) {
    return platform::ProfileInt("MISC", "MicrDetect", 1, settingsFile);
}

std::string RefusedProfileValue(const std::string& settingsFile, const std::string& profile) {
    // A file that cannot be read is named as such, not as missing keys.
    std::string text, unreadable;
    if (!platform::ReadProfileText(settingsFile, text, &unreadable)) return unreadable;
    const std::string section =
        profile_values::LoadedSection(platform::ProfileSectionNames(settingsFile), profile);
    return profile_values::FirstRefusal(
        settingsFile, profile, section,
        [&settingsFile](const std::string& sec, const std::string& key) {
            return platform::ProfileString(sec, key, "", 4096, settingsFile);
        });
}

int StoredImageFormat(const std::string& settingsFile) {
    return platform::ProfileInt("MISC", "ImageFileFormat", 0, settingsFile);
}

}  // namespace orvo::scanrun

namespace orvo::scanrun {

std::string LastSettingsWriteFailure(const std::string& traceDir) {
    // Only the end of the log is read: the failure was the latest line.
    constexpr std::size_t kTail = 65536;
    const std::string path = platform::WithTrailingSlash(traceDir) + "log.txt";
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return {};
    struct stat st{};
    std::string tail;
    if (fstat(fd, &st) == 0) {
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        const std::size_t from = size > kTail ? size - kTail : 0;
        tail.resize(size - from);
        const ssize_t n = pread(fd, tail.data(), tail.size(), static_cast<off_t>(from));
        tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    close(fd);
    static const std::string kMark = "settings not written: ";
    const std::size_t at = tail.rfind(kMark);
    if (at == std::string::npos) return {};
    const std::size_t begin = at + kMark.size();
    std::size_t end = tail.find_first_of("\t\n", begin);
    if (end == std::string::npos) end = tail.size();
    std::string reason = tail.substr(begin, end - begin);
    // The line's time stamp, " HH:MM:SS:mmm", is no part of the reason.
    static const std::regex kStamp(" \\d{2}:\\d{2}:\\d{2}:\\d{3}$");
    return std::regex_replace(reason, kStamp, "");
}

}  // namespace orvo::scanrun
