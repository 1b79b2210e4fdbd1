// What the scanner and the page writers take in each key of OrvoScan.ini that
// a batch reads: the driver refuses a batch whose profile holds anything else
// (OrvoScan_StartBatch, -14), and the front ends (orvoscan, orvo_viewer, the
// SANE backend) check the same before anything is fed, naming the key, the
// value and the profile. Header only: the driver and the front ends read the
// file each through their own calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::profile_values {

struct KeyRule {
    std::string_view key;
    bool misc;              // in section "Misc", else in the profile's section
    int64_t min, max;       // the values taken
    int64_t lowestNonZero;  // above `min`: the values between are refused
    int64_t defaultValue;   // what a missing or empty key stands for
    std::string_view meaning;
};

inline constexpr int64_t kInt32Min = -2147483648LL;
inline constexpr int64_t kInt32Max = 2147483647LL;

// Every integer key a batch reads, in the order the driver reads them.
inline constexpr KeyRule kKeyRules[] = {
    {"Side", false, kInt32Min, kInt32Max, kInt32Min, 1, "0 front only, otherwise both sides"},
    {"LED", false, 0, 1, 0, 0, "illumination"},
    {"Resolution", false, 0, 5, 0, 0, "resolution code"},
    {"LeftOffset", false, 0, 255, 0, 0, "left offset of the scan window"},
    {"TopMargin", false, 0, 255, 0, 0, "top margin of the scan window"},
    {"ScanWidth", false, 1, 2592, 1, 0, "pixels across the track"},
    {"ScanMode1", false, 0, 4, 0, 0, "0-2 bilevel, 3 16-level gray, 4 256-level gray"},
    {"BWSlice1", false, 0, 255, 0, 0, "black/white threshold"},
    {"ScanLines1", false, 0, 65535, 2, 0, "lines along the cheque; 0 each cheque's own length"},
    {"ScanMode2", false, 0, 4, 0, 0, "scan mode of set 2"},
    {"BWSlice2", false, 0, 255, 0, 0, "threshold of set 2"},
    {"ScanLines2", false, 0, 65535, 0, 0, "lines of set 2"},
    {"ScanMode3", false, 0, 4, 0, 0, "scan mode of set 3"},
    {"BWSlice3", false, 0, 255, 0, 0, "threshold of set 3"},
    {"ScanLines3", false, 0, 65535, 0, 0, "lines of set 3"},
    {"CompressMode", false, 0, 1, 0, 0, "0 coded, 1 plain image data"},
    {"LimitScanCount", true, 0, 1, 0, 0, "1 stops after ScanCount cheques"},
    {"ScanCount", true, 0, 32767, 0, 0, "cheques to feed"},
    {"SerialNo", true, 0, 16777215, 0, 0, "first endorser serial number"},
    {"DFDetect", true, 0, 2, 0, 0, "double-feed detection"},
    {"MicrDetect", true, 0, 2, 0, 0, "MICR reading"},
    {"Endorser", true, 0, 3, 0, 0, "endorser mode"},
    {"ImageFileFormat", true, 0, 2, 0, 0, "0 TIFF, 1 BMP, 2 raw"},
    {"GrayTifCompress", true, 0, 2, 0, 1, "gray TIFF: 0 none, 1 LZW, 2 PackBits"},
};

// The section a batch loads for `profile` given the file's section names:
// the profile's own when its name is there byte for byte, else "Default".
template <class Names>
std::string LoadedSection(const Names& sectionNames, const std::string& profile) {
    for (const auto& name : sectionNames) {
        if (name == profile) return profile;
    }
    return "Default";
}

// "1-2592", or "0 or 2-65535" where values just above `min` are refused.
inline std::string RangeText(const KeyRule& rule) {
    if (rule.min < 0) return std::to_string(rule.min) + " to " + std::to_string(rule.max);
    const std::string upper = std::to_string(rule.lowestNonZero) + "-" + std::to_string(rule.max);
    if (rule.lowestNonZero > rule.min) return std::to_string(rule.min) + " or " + upper;
    return std::to_string(rule.min) + "-" + std::to_string(rule.max);
}

// Why `text` (a value as read, blanks and quotes removed; empty when the key
// is missing) is refused for `rule`; empty when it is taken.
inline std::string RefusalOf(const KeyRule& rule, std::string_view text) {
    int64_t value = rule.defaultValue;
    if (!text.empty()) {
        std::size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
        if (i == text.size()) return "is not a number";
        bool huge = false;
        value = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return "is not a number";
            value = value * 10 + (text[i] - '0');
            if (value > 99'999'999'999LL) {
                huge = true;
                value = 99'999'999'999LL;
            }
        }
        if (text[0] == '-') value = -value;
        if (huge) return "is out of range";
    }
    if (value >= rule.min && value <= rule.max &&
        (value == rule.min || value >= rule.lowestNonZero))
        return {};
    if (text.empty()) return "is missing or empty (" + std::to_string(value) + " would be used)";
    return "is out of range";
}

// The first value of a batch's settings that is refused, as a message naming
// the file, the profile, the key and the value; empty when every value is
// taken. `read(section, key)` gives a key's text as ProfileString does with
// an empty default.
template <class Read>
std::string FirstRefusal(const std::string& file, const std::string& profile,
                         const std::string& section, Read read) {
    for (const KeyRule& rule : kKeyRules) {
        const std::string key(rule.key);
        const std::string text = read(rule.misc ? std::string("Misc") : section, key);
        const std::string why = RefusalOf(rule, text);
        if (why.empty()) continue;
        std::string where = file + ", ";
        if (rule.misc) {
            where += "section \"Misc\" (used by profile \"" + profile + "\")";
        } else if (section != profile) {
            where += "section \"" + section + "\" (used for profile \"" + profile + "\")";
        } else {
            where += "profile \"" + profile + "\"";
        }
        const std::string shown = text.empty() ? key : key + "=" + text;
        return where + ": " + shown + " " + why + "; it takes " + RangeText(rule) + " (" +
               std::string(rule.meaning) + ")";
    }
    return {};
}

}  // namespace orvo::profile_values
