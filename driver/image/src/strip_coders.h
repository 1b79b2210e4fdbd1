// Coders of TIFF strip data for the image writers, so that a page's rows go
// into its file without libtiff scanning them again:
//  - CCITT Group 4 (T.6) from bilevel rows: the colour changes of each row
//    are found a 64-bit word at a time and coded against the row above;
//  - LZW as TIFF has it (codes of 9 to 12 bits, most significant bit first,
//    the code width growing one code early, a clear code first and when the
//    table is full, EOI last), with runs of one byte value taken as a whole.
// libtiff reads what they write back to the very bit (see the tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo {

// Rows of an image: `rows` rows starting at `data`, `step` bytes apart, each
// read for `rowBytes` bytes.
struct StripRows {
    const uint8_t* data = nullptr;
    std::size_t step = 0;
    std::size_t rowBytes = 0;
    int rows = 0;
};

// Appends the Group 4 coding of bilevel rows `width` pixels wide (1 = black,
// leftmost pixel in the most significant bit; bits past the width are not
// looked at, bytes past rowBytes count as white), ended by EOFB and padded
// to a whole byte, as one strip.
void CodeGroup4(const StripRows& rows, int width, std::vector<uint8_t>& out);

// Appends the LZW coding of the first rowBytes bytes of each row, one after
// the other, as one strip.
void CodeLzw(const StripRows& rows, std::vector<uint8_t>& out);

}  // namespace orvo
