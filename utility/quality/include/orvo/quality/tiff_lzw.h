// A decoder of the LZW strips the scanner's gray pages are written with
// (TIFF's LZW: codes of 9 to 12 bits, most significant bit first, the width
// growing one code early, a clear code first), about twice as fast as
// libtiff's because a code's string is copied from where it was decoded
// before. It takes only streams that keep to that form; for anything else
// it answers false and the caller lets libtiff read the strip (which then
// also reports the damage). Where it answers true, its bytes are libtiff's
// to the last one (a fuzz target holds it to that).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::quality {

// Decodes `inBytes` bytes of LZW into exactly `want` bytes at `out`. False
// (with `out` in any state) when the stream does not start with a clear
// code, names a code not yet in the table, fills the table without clearing
// it, or ends before `want` bytes.
bool DecodeTiffLzw(const uint8_t* in, std::size_t inBytes, uint8_t* out, std::size_t want);

}  // namespace orvo::quality
