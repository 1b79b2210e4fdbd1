#include "orvo/scanrun/run_settings.h"

#include <strings.h>

#include "orvo/core/profile_values.h"
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
