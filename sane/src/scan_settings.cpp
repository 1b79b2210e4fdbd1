#include "scan_settings.h"

#include <algorithm>
#include <cmath>

#include "orvo/platform/profile.h"

namespace orvo::sane {

namespace {

int RoundUp(int value, int step) {
    return (value + step - 1) / step * step;
}

}  // namespace

ResolutionUnits UnitsOf(int code) {
    switch (code) {
        case 1:
            return {300, 8, 12};  // widened by 1.5 across the track
        case 2:
            return {100, 4, 4};
        case 4:
            return {300, 12, 12};
        case 5:
            return {300, 12, 4};
        default:  // 0, 3
            return {200, 8, 8};
    }
}

int CodeForDpi(int dpi) {
    if (dpi <= 150) return 2;
    if (dpi <= 250) return 0;
    return 4;
}

bool IsGray(const ScanSettings& s) {
    return s.scanMode == 3 || s.scanMode == 4;
}

int WidthForMm(double mm, int code) {
    const int perMm = UnitsOf(code).pixelsPerMm;
    const double bounded = std::clamp(mm, double{kMinMm}, double{kMaxWidthMm});
    const int pixels = static_cast<int>(std::lround(bounded * perMm));
    return std::clamp(RoundUp(pixels, 8), kMinMm * perMm, kMaxWidthMm * perMm);
}

int LinesForMm(double mm, int code) {
    const int perMm = UnitsOf(code).linesPerMm;
    const double bounded = std::clamp(mm, double{kMinMm}, double{kMaxLengthMm});
    int lines = static_cast<int>(std::lround(bounded * perMm));
    if (code == 1) lines = RoundUp(lines, 3);
    return std::clamp(lines, kMinMm * perMm, kMaxLengthMm * perMm);
}

ScanSettings Normalised(ScanSettings s) {
    if (s.scanMode < 0 || s.scanMode > 4) s.scanMode = 0;
    if (s.resolution < 0 || s.resolution > 5) s.resolution = 0;
    const ResolutionUnits units = UnitsOf(s.resolution);
    s.scanWidth = WidthForMm(s.scanWidth / static_cast<double>(units.pixelsPerMm), s.resolution);
    s.scanLines = s.scanLines <= 0 ? 0
                                   : LinesForMm(s.scanLines / static_cast<double>(units.linesPerMm),
                                                s.resolution);
    s.bwSlice = std::clamp(s.bwSlice, 0, 255);
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
    return s;
}

}  // namespace orvo::sane
