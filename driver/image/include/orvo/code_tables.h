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

// Lookup tables derived from the bilevel code tables for the fast bilevel
// decoder: indexed by the next kMhFastBits bits of the data, an entry holds
// the table entry of the code those bits start with (class and value) in its
// low byte and the code's length in bits above it. A length of 0 means no code
// ends within kMhFastBits bits (a long code, fill bits, damaged data): the
// decoder then walks the code tables bit by bit.
inline constexpr int kMhFastBits = 12;
inline constexpr std::size_t kMhFastSize = std::size_t{1} << kMhFastBits;

struct MhFastTables {
    uint16_t white[kMhFastSize] = {};
    uint16_t black[kMhFastSize] = {};
};

// Walks `table` from code state 1 over the kMhFastBits bits of every index.
void DeriveMhFastTable(const uint8_t* table, uint16_t* fast);
void DeriveMhFastTables(const CodeTables& tables, MhFastTables& fast);

// Reads huffmanb.dat, huffmanw.dat and huffmang.dat, in that order, from
// `systemDir` into the process-wide tables. Returns 0 when all three were
// read in full, -1 at the first file that is missing, unreadable or short;
// tables read before that keep their new contents, the failing one keeps its
// old contents. A longer file is accepted and its first bytes used. The fast
// tables are derived again from whatever the bilevel tables then hold.
int LoadCodeTables(const std::string& systemDir);

// The process-wide tables (all entries 0 until a load).
const CodeTables& LoadedCodeTables();
const MhFastTables& LoadedMhFastTables();

}  // namespace orvo
