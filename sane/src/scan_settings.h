// The profile keys a frontend changes through the backend's options, the
// resolution codes with their units, and the frame a scan with those settings
// gives.
#pragma once

#include <string>

namespace orvo::sane {

// The keys of a profile section the options stand for. Everything else of
// the profile and of section "Misc" is used as the settings file holds it.
struct ScanSettings {
    int side = 1;          // Side: 0 front only, otherwise front and rear
    int resolution = 0;    // Resolution code 0-5
    int scanMode = 0;      // ScanMode1: 0-2 bilevel, 3 16-level gray, 4 256-level gray
    int compressMode = 0;  // CompressMode: 0 coded data, otherwise plain rows
    int scanWidth = 1728;  // ScanWidth, pixels across the track
    int scanLines = 800;   // ScanLines1, lines along the cheque; 0: every cheque's own length
    int bwSlice = 128;     // BWSlice1, black/white threshold

    bool operator==(const ScanSettings&) const = default;
};

// Units of a resolution code, as the driver's settings dialog converts them.
struct ResolutionUnits {
    int dpi;          // what the page files record
    int pixelsPerMm;  // across the track (ScanWidth per mm)
    int linesPerMm;   // along the cheque (ScanLines1 per mm)
};
// Codes outside 0-5 have the units of code 0.
ResolutionUnits UnitsOf(int resolutionCode);

// The code a resolution in dpi selects: 100 -> 2, 200 -> 0, 300 -> 4.
// Codes 1, 3 and 5 of a profile are kept as long as the resolution is not
// set; they show as 300, 200 and 300 dpi.
int CodeForDpi(int dpi);

// Bounds of the scan area the backend offers, in millimetres: the width the
// scanner's track takes and the longest page the driver decodes at every
// resolution; the length a scan takes when the whole length of every cheque
// is no longer wanted and no length was set (that of the starter profiles).
inline constexpr int kMinMm = 8;
inline constexpr int kMaxWidthMm = 216;
inline constexpr int kMaxLengthMm = 330;
inline constexpr int kDefaultLengthMm = 100;

bool IsGray(const ScanSettings& s);

// What the backend makes of a profile as the driver loads it: a scan mode
// outside 0-4 becomes 0 and a resolution code outside 0-5 becomes 0, width
// and length are held to the offered bounds and rounded the way the driver
// rounds them (widths to whole bytes of 8 pixels, lengths at code 1 to
// multiples of 3), and the threshold to 0-255. A length of 0 or less (none)
// is 0: every cheque is scanned to its own length.
ScanSettings Normalised(ScanSettings s);

// ScanWidth for a width in millimetres at `code`: whole multiples of 8
// pixels within the bounds. ScanLines1 likewise.
int WidthForMm(double mm, int code);
int LinesForMm(double mm, int code);

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
