// The few settings a scan run reads from the driver's settings file itself:
// the profile list, whether a profile scans both sides, whether MICR lines
// are recorded, and the stored page format. Section and key names compare
// without regard to case.
#pragma once

#include <string>
#include <vector>

namespace orvo::scanrun {

// "<system directory>/OrvoScan.ini".
std::string SettingsFilePath(const std::string& systemDir);

// The profiles: every section in file order except empty names, "Default"
// and "MISC" (any case, so "Misc" is left out too).
std::vector<std::string> ListProfiles(const std::string& settingsFile);

// Integer key `Side` of the profile's section (default 1); non-zero means
// two-sided.
int ProfileSide(const std::string& settingsFile, const std::string& profile);

// Integer key `MicrDetect` of section "MISC" (default 1).
int MicrDetect(const std::string& settingsFile);

// The first value a batch with `profile` would read that the scanner or the
// page writers cannot take, as the driver's batch start judges it: a message
// naming the file, the profile, the key and the value; empty when there is
// none. Every front end refuses such a run before anything is fed.
std::string RefusedProfileValue(const std::string& settingsFile, const std::string& profile);

// Integer key `ImageFileFormat` of section "MISC" (default 0): the page
// format (0 TIFF, 1 bitmap, 2 raw) the driver takes at a batch start.
int StoredImageFormat(const std::string& settingsFile);

}  // namespace orvo::scanrun
