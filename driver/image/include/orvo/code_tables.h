// The code tables of the bilevel and 8-bit gray decoders, read from the
// system directory when the driver starts and read-only afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

inline constexpr std::size_t kMhCodeTableSize = 16384;
inline constexpr std::size_t kGrayCodeTableSize = 512;

// One byte per code state: class in the top two bits (00 read on, 01 EOL,
// 10 terminating, 11 make-up x 64), value in the low six bits.
struct CodeTables {
    uint8_t black[kMhCodeTableSize] = {};   // huffmanb.dat
    uint8_t white[kMhCodeTableSize] = {};   // huffmanw.dat
    uint8_t gray[kGrayCodeTableSize] = {};  // huffmang.dat
};

// Reads huffmanb.dat, huffmanw.dat and huffmang.dat, in that order, from
// `systemDir` into the process-wide tables. Returns 0 when all three were
// read in full, -1 at the first file that is missing, unreadable or short;
// tables read before that keep their new contents, the failing one keeps its
// old contents. A longer file is accepted and its first bytes used.
int LoadCodeTables(const std::string& systemDir);

// The process-wide tables (all entries 0 until a load).
const CodeTables& LoadedCodeTables();

}  // namespace orvo
