// Profile names as OrvoScan.ini holds them (bytes: UTF-8, or CP949 in files
// written by older tools) and as the profile box shows them, and the last
// used profile (PrevDocu in section "Misc").
#pragma once

#include <QString>
#include <string>

namespace orvo::viewer {

// UTF-8 names as they are; other bytes read as CP949.
QString ProfileDisplayName(const std::string& bytes);

// The last used profile; "" when the file or the key is missing. The name is
// read whole, however long.
std::string ReadPreviousProfile(const std::string& settingsFile);
// Stores the last used profile; false when the file could not be written.
bool WritePreviousProfile(const std::string& settingsFile, const std::string& profile);

}  // namespace orvo::viewer
