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

// Lookup tables derived from the 8-bit gray code table for the table-driven
// gray decoder.
//  - code: indexed by the next 8 bits, the code those bits start with: its
//    length in bits << 8 | its table entry; entry 0 with length 8 when no
//    code ends within 8 bits (an invalid code).
//  - value: indexed by the next kGrayFastBits bits, what one value of a line
//    does (sign bit and code): kind << 12 | bits taken << 8 | low byte. Kinds:
//    a value (low byte: the difference kept to 8 bits), the end of the line
//    after the bits taken (the sign 0 / magnitude 0 end mark, an EOL-class or
//    an invalid code), an EOL ahead (eleven 0 bits: the line ends, nothing is
//    taken), or a make-up code (low byte: its value; continuation codes
//    follow). When a value is followed within the same bits by a second
//    whole value, that one is in bits 16 to 27 (its bits taken << 8 | its
//    difference); 0 there means none.
//  - zeroRun: the bits of a zero difference (sign 1, shortest code of
//    magnitude 0) repeated from the most significant bit, zeroLength bits
//    each; zeroLength 0 when there is no such code of at most 8 bits.
//    zeroRuns[b]: how many whole zero differences b bits hold (b / zeroLength).
inline constexpr int kGrayFastBits = 12;
inline constexpr std::size_t kGrayFastSize = std::size_t{1} << kGrayFastBits;
enum GrayFastKind : uint16_t {
    kGrayFastValue = 0,
    kGrayFastEnd = 1,
    kGrayFastEolAhead = 2,
    kGrayFastMakeUp = 3,
    kGrayFastSlow = 4,  // (4-bit code) only the bit-by-bit walk can tell
};

struct GrayFastTables {
    uint16_t code[256] = {};
    uint32_t value[kGrayFastSize] = {};
    uint64_t zeroRun = 0;
    unsigned zeroLength = 0;
    uint8_t zeroRuns[65] = {};
};

void DeriveGray8FastTables(const uint8_t* grayTable, GrayFastTables& fast);

// Adds the second value to every value entry whose bits hold one more whole
// value after it. Every value looks ahead for an EOL in the eleven bits from
// its start; in the bits after the first value, those past the index read as
// 0, so a second value is only taken when its own look-ahead is settled by
// bits of the index.
constexpr void PairGrayFastValues(GrayFastTables& t) {
    for (uint32_t index = 0; index < kGrayFastSize; ++index) {
        const uint32_t first = t.value[index] & 0xFFFF;
        if ((first >> 12) != kGrayFastValue) continue;
        const uint32_t taken = (first >> 8) & 0x0F;
        const uint32_t rest = (index << taken) & (kGrayFastSize - 1);
        const uint32_t second = t.value[rest] & 0xFFFF;
        const uint32_t secondTaken = (second >> 8) & 0x0F;
        if ((second >> 12) != kGrayFastValue || taken + secondTaken > kGrayFastBits) continue;
        t.value[index] = first | ((second & 0x0FFF) << 16);
    }
}

// Everything derived from the loaded code tables.
struct FastTables {
    MhFastTables mh;
    GrayFastTables gray8;
};
void DeriveFastTables(const CodeTables& tables, FastTables& fast);

// Reads huffmanb.dat, huffmanw.dat and huffmang.dat, in that order, from
// `systemDir` into the process-wide tables. Returns 0 when all three were
// read in full, -1 at the first file that is missing, unreadable or short;
// tables read before that keep their new contents, the failing one keeps its
// old contents. A longer file is accepted and its first bytes used. The fast
// tables are derived again from whatever the tables then hold.
int LoadCodeTables(const std::string& systemDir);

// The process-wide tables (all entries 0 until a load).
const CodeTables& LoadedCodeTables();
const FastTables& LoadedFastTables();

}  // namespace orvo
