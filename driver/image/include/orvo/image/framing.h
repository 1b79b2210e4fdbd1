// The line framing shared by every coding of the scanner: EOL (eleven or more
// 0 bits and a 1) before each line, RTC (six EOLs in a row) after the last.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo {

// True when byte `i` of data[0..n) is an EOL anchor: the byte before the byte
// that holds the final 1 bit of an EOL.
bool IsEolAnchor(const uint8_t* data, std::size_t n, std::size_t i);

// RTC search: index of the byte that holds the last bit of the first RTC (the
// byte after the sixth anchor of a run of anchors at most 2 bytes apart), or
// -1 when there is none. result + 1 bytes hold the data through the RTC.
long RtcSearch(const uint8_t* data, std::size_t n);

// Number of EOL anchors in data[0..n) minus 6.
long EolCount(const uint8_t* data, std::size_t n);

// The RTC search that also counts the anchors it passes, up to and including
// the sixth of the RTC: with an RTC, that count minus 6 is the EOL count of
// the data through the RTC (rtc + 1 bytes), so a coded gray page is measured
// in one pass. Without an RTC, rtc is -1 and anchors counts all of them.
struct RtcScan {
    long rtc = -1;
    long anchors = 0;
};
RtcScan RtcSearchCounting(const uint8_t* data, std::size_t n);

}  // namespace orvo
