// The quality checks of one cheque: each side measured, then compared with
// the site's limits. The defects come from one fixed list, each named as
// bank image-quality practice names it.
//
//     Page front, rear;                    // ReadPageFile, or built in memory
//     const ChequeReport report = CheckCheque(limits, &front, &rear);  // rear may be null
//     report.sides[0].defects ...          // front, then rear
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "orvo/quality/limits.h"
#include "orvo/quality/page.h"

namespace orvo::quality {

enum class Defect {
    Undersize,
    Oversize,
    LengthMismatch,
    Skew,
    TooLight,
    TooDark,
    Blank,
    Streaks,
    SpotNoise,
    CompressedSize,
};
inline constexpr int kDefectCount = 10;

// "undersize", "oversize", "length-mismatch", "skew", "too-light",
// "too-dark", "blank", "streaks", "spot-noise", "compressed-size".
const char* DefectName(Defect defect);

// What one side measures.
struct Measures {
    int width = 0;   // pixels per row
    int height = 0;  // rows
    int bitsPerPixel = 1;
    double xDpi = 0;
    double yDpi = 0;
    bool resolutionAssumed = false;
    double lengthMm = 0;  // rows / y resolution
    double heightMm = 0;  // pixels per row / x resolution
    // The content's angle in degrees, counter-clockwise positive; found only
    // where the side has lines of content to measure it by.
    bool skewFound = false;
    double skewDegrees = 0;
    // Share of black pixels (gray pages: darker than the middle level),
    // streak columns left out.
    double blackPercent = 0;
    // Gray pages: mean level, and the paper's level (99th percentile) less
    // the ink's (0.2th percentile), 0-255.
    double brightness = 0;
    double contrast = 0;
    // Streaks: bands of adjacent columns dark over the page's length; the
    // first column of each.
    std::vector<int> streakColumns;
    // Isolated specks: black marks within 3 x 2 pixels with white 2 to 3
    // pixels all around.
    int specks = 0;
    double specksPerSquareInch = 0;
    int64_t fileBytes = 0;
    bool compressed = false;
};

// Measures one side; a streak is a column dark over the limits' share of the
// length.
Measures MeasurePage(const Page& page, const Limits& limits);

struct SideReport {
    Measures measures;
    std::vector<Defect> defects;  // in the order of the Defect list
    bool Has(Defect d) const;
};

struct ChequeReport {
    std::vector<SideReport> sides;  // front, then rear when there is one
    bool HasDefects() const;
};

// The defects of one side by its measures (everything but length-mismatch).
std::vector<Defect> SideDefects(const Limits& limits, const Measures& measures);

// Measures and checks a cheque: `rear` may be null (a one-sided cheque, or a
// page checked alone). A length-mismatch is reported on both sides.
ChequeReport CheckCheque(const Limits& limits, const Page* front, const Page* rear);

// The defects with what was measured, for people: "skew 4.1 degrees,
// streaks 2" ("" when none).
std::string DefectDetails(const SideReport& side);

// The defects' names joined by `separator` ("" when none).
std::string DefectList(const std::vector<Defect>& defects, const char* separator);

}  // namespace orvo::quality
