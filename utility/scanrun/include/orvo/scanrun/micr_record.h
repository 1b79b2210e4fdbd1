// The MICR line of a cheque as a run records it: the text taken from the
// driver, its read-error flag, the micr.txt record and the run's statistics.
#pragma once

#include <cstddef>
#include <string>

namespace orvo::scanrun {

// Longest MICR text the driver holds, with its CR LF and terminating zero.
inline constexpr std::size_t kMicrAreaSize = 50;

// Read-error characters ("_" and "?") among the first `size` characters.
int CountReadErrors(const std::string& text, int size);

struct MicrLine {
    std::string text;    // the driver's text cut to its MICR size
    bool error = false;  // a read-error character lies within the MICR size
};

// Copies the driver's text (up to its terminating zero, never more than
// kMicrAreaSize bytes) and cuts it at `size`. A null text reads as empty; a
// negative size as 0.
MicrLine TakeMicr(const char* driverText, int size);

// The micr.txt record: "%07d%1d%s%c%c" with the document number, the error
// flag, the MICR text, CR and LF.
std::string FormatMicrRecord(int documentNumber, const MicrLine& line);

// Good and bad MICR pages of one run.
class MicrStatistics {
  public:
    void Add(const MicrLine& line) { line.error ? ++bad_ : ++good_; }
    int good() const { return good_; }
    int bad() const { return bad_; }
    // Percentage of good pages (0 before any page).
    double rate() const;
    // "MICR OK :\t%d\nMICR ERR :\t%d\nOK rate : \t%5.2f%%".
    std::string Text() const;

  private:
    int good_ = 0;
    int bad_ = 0;
};

}  // namespace orvo::scanrun
