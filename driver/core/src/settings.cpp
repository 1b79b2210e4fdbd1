// Loading and storing the profiles of OrvoScan.ini.
#include "orvo/core/settings.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "orvo/core/profile_values.h"
#include "orvo/core/trace.h"
#include "orvo/platform/profile.h"

namespace orvo {

namespace {

using platform::ProfileEntry;
using platform::ProfileInt;
using platform::ProfileSectionNames;
using platform::ProfileString;
using platform::WriteProfileStrings;

constexpr const char* kDefaultSection = "Default";
constexpr const char* kMiscSection = "Misc";
// Buffer of the endorser template: 35 characters and the terminating zero.
constexpr std::size_t kEndorserFormatBuffer = 36;

// The scanner works in 32-bit integers; values out of range wrap around as
// they do there instead of overflowing.
int Wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Scan widths at resolutions 0 and 1 go up to a multiple of 4 and then to a
// multiple of 8, with integer division truncating toward zero. For
// non-negative widths that is the next multiple of 8.
int RoundScanWidth(int width) {
    int w = Wrap32(int64_t{width} + 3) / 4 * 4;
    w = Wrap32(int64_t{w} + 7) / 8 * 8;
    return w;
}

// Scan lines at resolution 1 go up to the next multiple of 3 unless they are
// one already.
int RoundScanLines(int lines) {
    if (lines % 3 == 0) return lines;
    return Wrap32(int64_t{lines / 3} * 3 + 3);
}

// Document-type names, in the settings file's code page 949 and in UTF-8.
struct DocumentTypeName {
    std::string_view cp949;
    std::string_view utf8;
};

constexpr DocumentTypeName kDocumentTypes[] = {
    {"", ""},  // index 0 never matches
    {"Check", "Check"},
    // general giro form
    {"\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE", "\xEC\x9D\xBC\xEB\xB0\x98\xEC\xA7\x80\xEB\xA1\x9C"},
    // standard giro form
    {"\xC7\xA5\xC1\xD8\xC1\xF6\xB7\xCE", "\xED\x91\x9C\xEC\xA4\x80\xEC\xA7\x80\xEB\xA1\x9C"},
    // MICR form
    {"MICR\xC0\xE5\xC7\xA5", "MICR\xEC\x9E\xA5\xED\x91\x9C"},
    // A form
    {"A\xC0\xE5\xC7\xA5", "A\xEC\x9E\xA5\xED\x91\x9C"},
    // electricity bill
    {"\xC0\xFC\xB1\xE2\xBF\xE4\xB1\xDD", "\xEC\xA0\x84\xEA\xB8\xB0\xEC\x9A\x94\xEA\xB8\x88"},
    // telephone bill
    {"\xC0\xFC\xC8\xAD\xBF\xE4\xB1\xDD", "\xEC\xA0\x84\xED\x99\x94\xEC\x9A\x94\xEA\xB8\x88"},
    // medical insurance
    {"\xC0\xC7\xB7\xE1\xBA\xB8\xC7\xE8", "\xEC\x9D\x98\xEB\xA3\x8C\xEB\xB3\xB4\xED\x97\x98"},
};

bool StartsWith(std::string_view text, std::string_view prefix) {
    return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

// Values that cannot be stored leave a line in the trace log.txt.
bool StoreEntries(const std::vector<ProfileEntry>& entries, const std::string& file) {
    std::string error;
    if (WriteProfileStrings(entries, file, &error)) return true;
    Trace(TraceFile::Log, 0, ("settings not written: " + error).c_str(), 0);
    return false;
}

// The write-backs of a load store only a value the rounding changed: a key
// that already reads as the value (also a missing one whose default it is)
// is left alone, so that loading a profile never edits a shipped file and
// works silently from a file nobody may write; and a value is stored only
// while the key still holds what was read, so that a value another program
// stores meanwhile is not replaced.
void StoreIntIfChanged(const std::string& section, const std::string& key, int value, int read,
                       const std::string& file) {
    if (value == read) return;
    const std::string text = std::to_string(value);
    const std::string now = ProfileString(section, key, "", 64, file);
    if (now != text) StoreEntries({ProfileEntry{section, key, text, now}}, file);
}

}  // namespace

int DocumentTypeIndex(const std::string& sectionName) {
    const std::string_view name(sectionName);
    for (std::size_t i = 0; i < std::size(kDocumentTypes); ++i) {
        if (StartsWith(name, kDocumentTypes[i].cp949) || StartsWith(name, kDocumentTypes[i].utf8)) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

bool StoreInt(const std::string& section, const std::string& key, int value,
              const std::string& file) {
    return StoreEntries({ProfileEntry{section, key, std::to_string(value)}}, file);
}

std::string RefusedProfileValue(const std::string& profile, const std::string& file) {
    // A file that cannot be read is named as such, not as missing keys.
    std::string text, unreadable;
    if (!platform::ReadProfileText(file, text, &unreadable)) return unreadable;
    const std::string section = profile_values::LoadedSection(ProfileSectionNames(file), profile);
    return profile_values::FirstRefusal(file, profile, section,
                                        [&file](const std::string& sec, const std::string& key) {
                                            return ProfileString(sec, key, "", 4096, file);
                                        });
}

void LoadProfile(const std::string& profile, const std::string& file, Settings& settings) {
    // The profile's own section only when its name is there byte for byte;
    // otherwise "Default" stands in for it everywhere below.
    const std::vector<std::string> names = ProfileSectionNames(file);
    const std::string section = std::find(names.begin(), names.end(), profile) != names.end()
                                    ? profile
                                    : std::string(kDefaultSection);

    settings.Side = ProfileInt(section, "Side", 1, file);
    settings.LED = ProfileInt(section, "LED", 0, file);
    settings.Resolution = ProfileInt(section, "Resolution", 0, file);
    settings.LeftOffset = ProfileInt(section, "LeftOffset", 0, file);
    settings.TopMargin = ProfileInt(section, "TopMargin", 0, file);
    const int readWidth = ProfileInt(section, "ScanWidth", 0, file);
    settings.ScanWidth = readWidth;
    if (settings.Resolution == 0 || settings.Resolution == 1) {
        settings.ScanWidth = RoundScanWidth(settings.ScanWidth);
    }
    StoreIntIfChanged(section, "ScanWidth", settings.ScanWidth, readWidth, file);

    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i + 1);
        settings.ScanMode[i] = ProfileInt(section, "ScanMode" + n, 0, file);
        settings.BWSlice[i] = ProfileInt(section, "BWSlice" + n, 0, file);
        const int readLines = ProfileInt(section, "ScanLines" + n, 0, file);
        settings.ScanLines[i] = readLines;
        if (settings.Resolution == 1) settings.ScanLines[i] = RoundScanLines(readLines);
        StoreIntIfChanged(section, "ScanLines" + n, settings.ScanLines[i], readLines, file);
    }

    settings.CompressMode = ProfileInt(section, "CompressMode", 0, file);
    settings.DocumentType = DocumentTypeIndex(section);

    settings.LimitScanCount = ProfileInt(kMiscSection, "LimitScanCount", 0, file);
    settings.ScanCount = ProfileInt(kMiscSection, "ScanCount", 0, file);
    settings.SerialNo = ProfileInt(kMiscSection, "SerialNo", 0, file);
    settings.DFDetect = ProfileInt(kMiscSection, "DFDetect", 0, file);
    settings.MicrDetect = ProfileInt(kMiscSection, "MicrDetect", 0, file);
    settings.Endorser = ProfileInt(kMiscSection, "Endorser", 0, file);
    settings.EndorserFormat =
        ProfileString(kMiscSection, "EndorserFormat", "", kEndorserFormatBuffer, file);
    settings.ImageFileFormat = ProfileInt(kMiscSection, "ImageFileFormat", 0, file);
    settings.GrayTifCompress = ProfileInt(kMiscSection, "GrayTifCompress", 1, file);
}

bool StoreProfile(const std::string& profile, const std::string& file, const Settings& settings,
                  const Settings* loaded) {
    const Settings& was = loaded != nullptr ? *loaded : settings;
    std::vector<ProfileEntry> entries;
    // A value as it was loaded is written only where its key is missing.
    auto add = [&](const std::string& section, const char* key, const std::string& value,
                   const std::string& before) {
        entries.push_back(ProfileEntry{section, key, value});
        if (loaded != nullptr && value == before) entries.back().onlyIf = std::string();
    };
    auto addInt = [&](const std::string& section, const char* key, int value, int before) {
        add(section, key, std::to_string(value), std::to_string(before));
    };
    const Settings& s = settings;
    addInt(profile, "Side", s.Side, was.Side);
    addInt(profile, "LED", s.LED, was.LED);
    addInt(profile, "ScanWidth", s.ScanWidth, was.ScanWidth);
    addInt(profile, "Resolution", s.Resolution, was.Resolution);
    addInt(profile, "ScanMode1", s.ScanMode[0], was.ScanMode[0]);
    addInt(profile, "CompressMode", s.CompressMode, was.CompressMode);
    addInt(profile, "BWSlice1", s.BWSlice[0], was.BWSlice[0]);
    addInt(profile, "ScanLines1", s.ScanLines[0], was.ScanLines[0]);
    addInt(profile, "LeftOffset", s.LeftOffset, was.LeftOffset);
    addInt(profile, "TopMargin", s.TopMargin, was.TopMargin);

    addInt(kMiscSection, "Endorser", s.Endorser, was.Endorser);
    addInt(kMiscSection, "DFDetect", s.DFDetect, was.DFDetect);
    addInt(kMiscSection, "MicrDetect", s.MicrDetect, was.MicrDetect);
    addInt(kMiscSection, "SerialNo", s.SerialNo, was.SerialNo);
    addInt(kMiscSection, "ImageFileFormat", s.ImageFileFormat, was.ImageFileFormat);
    addInt(kMiscSection, "GrayTifCompress", s.GrayTifCompress, was.GrayTifCompress);
    addInt(kMiscSection, "LimitScanCount", s.LimitScanCount, was.LimitScanCount);
    addInt(kMiscSection, "ScanCount", s.ScanCount, was.ScanCount);
    add(kMiscSection, "EndorserFormat", s.EndorserFormat, was.EndorserFormat);
    return StoreEntries(entries, file);
}

}  // namespace orvo
