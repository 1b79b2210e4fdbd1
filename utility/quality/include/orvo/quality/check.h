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
    WidthMismatch,
    Skew,
    TooLight,
    TooDark,
    Blank,
    Streaks,
    SpotNoise,
    CompressedSize,
};
inline constexpr int kDefectCount = 11;

// "undersize", "oversize", "length-mismatch", "width-mismatch", "skew",
// "too-light", "too-dark", "blank", "streaks", "spot-noise",
// "compressed-size".
const char* DefectName(Defect defect);

// What one side measures. In the scanner's pages a row is one scan line:
// the rows follow the feed and the pixels of a row lie across the track.
struct Measures {
    int width = 0;   // the file's pixels per row (across the track)
    int height = 0;  // the file's rows (along the feed)
    int bitsPerPixel = 1;
    double xDpi = 0;  // across the track
    double yDpi = 0;  // along the feed
    bool resolutionAssumed = false;
    int pagesInFile = 1;  // only the first is checked
    // The document on the page: the scanner's dark background beside a
    // narrower document (whole columns dark from a side of the page) is left
    // out of it and of every measure below.
    int alongFeedPixels = 0;    // rows
    int acrossTrackPixels = 0;  // pixels of a row
    double alongFeedMm = 0;
    double acrossTrackMm = 0;
    int backgroundLeftPixels = 0;  // background columns at the start of a row
    int backgroundRightPixels = 0;
    // The content's angle in degrees, counter-clockwise positive; found only
    // where the side has lines of content to measure it by.
    bool skewFound = false;
    double skewDegrees = 0;
    // Share of black pixels of the document (gray pages: darker than the
    // level between the paper's and the ink's), and the same with the
    // streaks left out (what too-light, too-dark and blank judge).
    double blackPercent = 0;
    double inkPercent = 0;
    // Gray pages: mean level, and the paper's level (99th percentile) less
    // the ink's (0.2th percentile), 0-255; the level the page is cut at.
    double brightness = 0;
    double contrast = 0;
    int cutLevel = 0;
    // Streaks: bands of adjacent columns darker (or, on gray pages, lighter)
    // than the paper over most of the length; the first column of each,
    // counted from the page's first column.
    std::vector<int> streakColumns;
    // Isolated specks: black marks within 3 x 2 pixels with white 2 to 3
    // pixels all around.
    int specks = 0;
    double specksPerSquareInch = 0;
    int64_t fileBytes = 0;
    bool compressed = false;
};

// Measures one side; a streak is a column dark (or light) over the limits'
// share of the length.
Measures MeasurePage(const Page& page, const Limits& limits);

struct SideReport {
    Measures measures;
    std::vector<Defect> defects;  // in the order of the Defect list
    // False when the pages were scanned to a fixed length: their length
    // along the feed is the scan's, not the document's, and undersize,
    // oversize and length-mismatch along the feed are not judged.
    bool sizeJudged = true;
    bool Has(Defect d) const;
};

// What an operator is told of a side whose size was not judged.
inline constexpr const char* kSizeNotJudged = "size not judged: fixed length";

struct ChequeReport {
    std::vector<SideReport> sides;  // front, then rear when there is one
    bool HasDefects() const;
};

// How the pages were scanned, as far as it matters to the checks.
enum class ScanLength {
    PerDocument,  // each document to its own length: sizes are judged
    Fixed,        // a fixed number of lines: the length along the feed is not
};

// The defects of one side by its measures (everything but the mismatches).
std::vector<Defect> SideDefects(const Limits& limits, const Measures& measures,
                                ScanLength length = ScanLength::PerDocument);

// Measures and checks a cheque: `rear` may be null (a one-sided cheque, or a
// page checked alone). A length- or width-mismatch is reported on both sides.
ChequeReport CheckCheque(const Limits& limits, const Page* front, const Page* rear,
                         ScanLength length = ScanLength::PerDocument);

// The defects with what was measured, for people: "skew 4.1 degrees,
// streaks 2" ("" when none).
std::string DefectDetails(const SideReport& side);

// The defects' names joined by `separator` ("" when none).
std::string DefectList(const std::vector<Defect>& defects, const char* separator);

}  // namespace orvo::quality
