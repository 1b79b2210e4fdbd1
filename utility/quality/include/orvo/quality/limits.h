// The limits of the quality checks: one value per defect, with defaults that
// flag real defects and not ordinary cheques. A site keeps its own in a
// limits file (INI, one section per defect, e.g. quality.ini in the driver's
// system directory); every key it leaves out keeps its default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::quality {

struct Limits {
    // undersize / oversize: the document's length along the feed (the page's
    // rows) and its width across the track (the pixels of a row, the
    // scanner's dark background beside a narrower document left out), mm.
    // The keys keep their first names: MinLengthMm, MinHeightMm, ...
    double minLengthMm = 65.0;
    double minHeightMm = 145.0;
    double maxLengthMm = 105.0;
    double maxHeightMm = 225.0;
    // length-mismatch / width-mismatch: front and rear of one cheque, mm.
    double maxLengthDifferenceMm = 5.0;
    double maxWidthDifferenceMm = 5.0;
    // skew: the content's angle, degrees either way.
    double maxSkewDegrees = 2.0;
    // too-light / too-dark, bilevel pages: share of black pixels (streaks
    // left out), percent.
    double minBlackPercent = 1.0;
    double maxBlackPercent = 15.0;
    // too-light / too-dark, gray pages: mean brightness and contrast (the
    // paper's level less the ink's), 0-255.
    double minBrightness = 210.0;
    double maxBrightness = 253.0;
    double minContrast = 110.0;
    // blank: a bilevel side with less black than this, percent; a gray side
    // with less contrast than this.
    double blankBlackPercent = 0.05;
    double blankContrast = 40.0;
    // streaks: a column darker or lighter than the paper over at least this
    // share of the length, percent; how many such streaks a side may have.
    double streakCoverPercent = 85.0;
    int maxStreaks = 0;
    // spot-noise: isolated specks per square inch.
    double maxSpecksPerSquareInch = 5.0;
    // compressed-size: bytes of a compressed page file (bilevel: Group 3/4;
    // gray: LZW, PackBits, ...). Uncompressed files are not checked: their
    // size follows from the pixel counts.
    int64_t minBilevelBytes = 800;
    int64_t maxBilevelBytes = 60000;
    int64_t minGrayBytes = 6000;
    int64_t maxGrayBytes = 600000;
};

// The limits file a program uses: "quality.ini" in `systemDir` (which ends
// in '/').
std::string LimitsFilePath(const std::string& systemDir);

// Reads a limits file over `limits` (which holds the defaults or earlier
// values). A missing file is no error: the limits stay. Every value that
// cannot be used (not a number, out of its range, an unknown key) keeps its earlier
// value and adds a line "<file>: [section] key: reason" to *problems; a file
// that exists but cannot be read adds one line too. Each value has its range
// (percentages up to 100, levels up to 255, ...): one beyond it is refused
// the same way. A line holding a NUL byte is left out and named.
void ReadLimitsFile(const std::string& path, Limits* limits, std::vector<std::string>* problems);

// The limits as a limits file: every section and key with its value and a
// comment, as an operator would start one.
std::string LimitsFileText(const Limits& limits);

}  // namespace orvo::quality
