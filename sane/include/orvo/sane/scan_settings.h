// The profile keys a frontend changes through the backend's options, the
// resolution codes with their units, and the frame a scan with those settings
// gives.
#pragma once

#include <cstddef>
#include <string>

namespace orvo::sane {

// The keys of a profile section and of section "Misc" the options stand for.
// Everything else is used as the settings file holds it.
struct ScanSettings {
    int side = 1;          // Side: 0 front only, otherwise front and rear
    int resolution = 0;    // Resolution code 0-5
    int scanMode = 0;      // ScanMode1: 0-2 bilevel, 3 16-level gray, 4 256-level gray
    int compressMode = 0;  // CompressMode: 0 coded data, otherwise plain rows
    int scanWidth = 1728;  // ScanWidth, pixels across the track
    int scanLines = 800;   // ScanLines1, lines along the cheque; 0: every cheque's own length
    int bwSlice = 128;     // BWSlice1, black/white threshold
    // Of section "Misc", shared by every profile:
    int dfDetect = 0;            // DFDetect: double-feed detection, 0 off, modes 1 and 2
    int endorser = 0;            // Endorser: 0 off, modes 1 to 3
    int serialNo = 0;            // SerialNo: the endorser's first serial number
    std::string endorserFormat;  // EndorserFormat: the endorser's pattern

    bool operator==(const ScanSettings&) const = default;
};

// Units of a resolution code, in dots per inch as the page files record them.
struct ResolutionUnits {
    int dpi;            // what the page files record
    int pixelsPerInch;  // ScanWidth pixels per inch across the track (before widening)
    int linesPerInch;   // ScanLines1 lines per inch along the cheque
};
// Codes outside 0-5 have the units of code 0.
ResolutionUnits UnitsOf(int resolutionCode);
// Pixels per inch across the track in the pages delivered (code 1 widens the
// scanned rows by 1.5).
int FramePixelsPerInch(int resolutionCode);

// The code a resolution in dpi selects: 100 -> 2, 200 -> 0, 300 -> 4.
// Codes 1, 3 and 5 of a profile are kept as long as the resolution is not
// set; they show as 300, 200 and 300 dpi.
int CodeForDpi(int dpi);

// Millimetres are converted with 25.4 mm per inch, whatever the resolution.
inline constexpr double kMmPerInch = 25.4;
// `count` dots at `perInch` in millimetres, and the whole number of dots
// nearest to `mm`.
double MmOfDots(int count, int perInch);
int DotsOfMm(double mm, int perInch);

// Bounds of the scan area the backend offers, in dots at 100 dpi (whole
// dots at every resolution): the narrowest and shortest area (8.128 mm), the
// width of the scanner's track (8.64 inches, 1728 pixels at 200 dpi), the
// longest page the driver decodes at every resolution (13.2 inches), and the
// length a scan takes when the whole length of every cheque is no longer
// wanted and no length was set (4 inches, the starter profiles' 800 lines).
inline constexpr int kMinDots100 = 32;
inline constexpr int kMaxWidthDots100 = 864;
inline constexpr int kMaxLengthDots100 = 1320;
inline constexpr int kDefaultLengthDots100 = 400;
// The endorser's modes, its serial numbers (24 bits) and the longest pattern
// the driver takes; the double-feed detection modes.
inline constexpr int kMaxEndorserMode = 3;
inline constexpr int kMaxSerialNo = 16777215;
inline constexpr int kMaxEndorserFormat = 35;
inline constexpr int kMaxDfDetectMode = 2;
// A bound above at `perInch`.
constexpr int DotsAt(int dots100, int perInch) {
    return dots100 * perInch / 100;
}

bool IsGray(const ScanSettings& s);

// What the backend makes of a profile as the driver loads it: a scan mode
// outside 0-4 becomes 0 and a resolution code outside 0-5 becomes 0, width
// and length are held to the offered bounds and rounded the way the driver
// rounds them (widths to whole bytes of 8 pixels, lengths at code 1 to
// multiples of 3), the threshold to 0-255, the double-feed and endorser
// modes and the serial number to their ranges, and a pattern is cut at its
// first control character and after kMaxEndorserFormat characters. A length of 0 or less (none)
// is 0: every cheque is scanned to its own length.
ScanSettings Normalised(ScanSettings s);
// How much of `pattern` an endorser pattern takes: up to its first control
// character, at most kMaxEndorserFormat characters (the settings file holds
// one line per value).
std::size_t EndorserFormatLength(const std::string& pattern);

// ScanWidth for a right edge `mm` from the edge of the track at `code`:
// whole multiples of 8 pixels within the bounds (at code 1 the scanned
// pixels, which the driver widens by 1.5).
int WidthForMm(double mm, int code);
// ScanLines1 for a bottom edge `mm` from the leading edge at `code`: the rows
// up to that edge and the first line, which the driver never hands over
// (multiples of 3 at code 1), within the bounds.
int LinesForMm(double mm, int code);
// ScanWidth for `pixels` scanned, ScanLines1 for `rows` delivered at `code`:
// rounded and bounded as above.
int WidthOfPixels(int pixels, int code);
int LinesOfRows(int rows, int code);
// The bottom edge of ScanLines1 `lines` in millimetres (the rows delivered).
double MmOfLines(int lines, int code);

// The frame the driver's page files have for these settings: bilevel
// (depth 1) or 8-bit gray, the width (widened by 1.5 at code 1) and the rows
// (one fewer than the scanned lines; -1 when every cheque has its own length).
struct FrameShape {
    int depth = 1;
    int pixelsPerLine = 0;
    int bytesPerLine = 0;
    int lines = -1;
};
FrameShape PredictFrame(const ScanSettings& s);

// The settings a profile holds, read by the driver's rules: a section whose
// name equals `profile` byte for byte, otherwise section "Default"; missing
// keys take the driver's defaults (Side 1, everything else 0).
ScanSettings LoadProfile(const std::string& settingsFile, const std::string& profile);

}  // namespace orvo::sane
