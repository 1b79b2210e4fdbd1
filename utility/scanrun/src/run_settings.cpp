#include "orvo/scanrun/run_settings.h"

#include <strings.h>

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

int MicrDetect(const std::string& settingsFile) {
    return platform::ProfileInt("MISC", "MicrDetect", 1, settingsFile);
}

int StoredImageFormat(const std::string& settingsFile) {
    return platform::ProfileInt("MISC", "ImageFileFormat", 0, settingsFile);
}

}  // namespace orvo::scanrun
