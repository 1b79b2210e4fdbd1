#include "orvo/sane/scan_settings.h"

#include <algorithm>
#include <cmath>

#include "orvo/platform/profile.h"

namespace orvo::sane {

namespace {

int RoundUp(int value, int step) {
    return (value + step - 1) / step * step;
}

// Whole groups of 8 pixels within the track.
int BoundedWidth(int pixels, int code) {
    const int perInch = UnitsOf(code).pixelsPerInch;
    return std::clamp(RoundUp(pixels, 8), DotsAt(kMinDots100, perInch),
                      DotsAt(kMaxWidthDots100, perInch));
}

// At least the shortest area's rows and the first line, at most the longest
// page; multiples of 3 at code 1.
int BoundedLines(int lines, int code) {
    const int perInch = UnitsOf(code).linesPerInch;
    const int step = code == 1 ? 3 : 1;
    return std::clamp(RoundUp(lines, step), RoundUp(DotsAt(kMinDots100, perInch) + 1, step),
                      DotsAt(kMaxLengthDots100, perInch) / step * step);
}

}  // namespace

ResolutionUnits UnitsOf(int code) {
    switch (code) {
        case 1:
            return {300, 200, 300};  // widened by 1.5 across the track
        case 2:
            return {100, 100, 100};
        case 4:
            return {300, 300, 300};
        case 5:
            return {300, 300, 100};
        default:  // 0, 3
            return {200, 200, 200};
    }
}

int FramePixelsPerInch(int code) {
    const int perInch = UnitsOf(code).pixelsPerInch;
    return code == 1 ? perInch * 3 / 2 : perInch;
}

int CodeForDpi(int dpi) {
    if (dpi <= 150) return 2;
    if (dpi <= 250) return 0;
    return 4;
}

bool IsGray(const ScanSettings& s) {
    return s.scanMode == 3 || s.scanMode == 4;
}

double MmOfDots(int count, int perInch) {
    return count * kMmPerInch / perInch;
}

int DotsOfMm(double mm, int perInch) {
    return static_cast<int>(std::lround(mm * perInch / kMmPerInch));
}

int WidthForMm(double mm, int code) {
    const double bounded = std::clamp(mm, 0.0, MmOfDots(kMaxWidthDots100, 100));
    return BoundedWidth(DotsOfMm(bounded, UnitsOf(code).pixelsPerInch), code);
}

int LinesForMm(double mm, int code) {
    const double bounded = std::clamp(mm, 0.0, MmOfDots(kMaxLengthDots100, 100));
    return BoundedLines(DotsOfMm(bounded, UnitsOf(code).linesPerInch) + 1, code);
}

int WidthOfPixels(int pixels, int code) {
    return BoundedWidth(pixels, code);
}

int LinesOfRows(int rows, int code) {
    return BoundedLines(rows + 1, code);
}

double MmOfLines(int lines, int code) {
    return MmOfDots(lines - 1, UnitsOf(code).linesPerInch);
}

std::size_t EndorserFormatLength(const std::string& pattern) {
    std::size_t n = 0;
    while (n < pattern.size() && n < kMaxEndorserFormat &&
           static_cast<unsigned char>(pattern[n]) >= 0x20 && pattern[n] != 0x7F) {
        ++n;
    }
    return n;
}

ScanSettings Normalised(ScanSettings s) {
    if (s.scanMode < 0 || s.scanMode > 4) s.scanMode = 0;
    if (s.resolution < 0 || s.resolution > 5) s.resolution = 0;
    s.scanWidth = BoundedWidth(s.scanWidth, s.resolution);
    s.scanLines = s.scanLines <= 0 ? 0 : BoundedLines(s.scanLines, s.resolution);
    s.bwSlice = std::clamp(s.bwSlice, 0, 255);
    s.dfDetect = std::clamp(s.dfDetect, 0, kMaxDfDetectMode);
    s.endorser = std::clamp(s.endorser, 0, kMaxEndorserMode);
    s.serialNo = std::clamp(s.serialNo, 0, kMaxSerialNo);
    s.endorserFormat = s.endorserFormat.substr(0, EndorserFormatLength(s.endorserFormat));
    return s;
}

FrameShape PredictFrame(const ScanSettings& s) {
    FrameShape f;
    f.depth = IsGray(s) ? 8 : 1;
    // The driver widens Resolution-1 pages by 1.5 (ScanWidth is a multiple of 8 there).
    f.pixelsPerLine = s.resolution == 1 ? s.scanWidth * 3 / 2 : s.scanWidth;
    f.bytesPerLine = f.depth == 1 ? (f.pixelsPerLine + 7) / 8 : f.pixelsPerLine;
    // N lines scanned give N - 1 rows: the driver's first row is never part of the image.
    f.lines = s.scanLines >= 2 ? s.scanLines - 1 : -1;
    return f;
}

ScanSettings LoadProfile(const std::string& file, const std::string& profile) {
    std::string section = "Default";
    for (const std::string& name : platform::ProfileSectionNames(file)) {
        if (name == profile) {
            section = profile;
            break;
        }
    }
    ScanSettings s;
    s.side = platform::ProfileInt(section, "Side", 1, file);
    s.resolution = platform::ProfileInt(section, "Resolution", 0, file);
    s.scanMode = platform::ProfileInt(section, "ScanMode1", 0, file);
    s.compressMode = platform::ProfileInt(section, "CompressMode", 0, file);
    s.scanWidth = platform::ProfileInt(section, "ScanWidth", 0, file);
    s.scanLines = platform::ProfileInt(section, "ScanLines1", 0, file);
    s.bwSlice = platform::ProfileInt(section, "BWSlice1", 0, file);
    s.dfDetect = platform::ProfileInt("Misc", "DFDetect", 0, file);
    s.endorser = platform::ProfileInt("Misc", "Endorser", 0, file);
    s.serialNo = platform::ProfileInt("Misc", "SerialNo", 0, file);
    s.endorserFormat =
        platform::ProfileString("Misc", "EndorserFormat", "", kMaxEndorserFormat + 1, file);
    return s;
}

}  // namespace orvo::sane
