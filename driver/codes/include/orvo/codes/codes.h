// The code words of the scanner's image codings, written down once:
//  - ITU-T T.4 one-dimensional modified Huffman (white and black terminating
//    codes 0-63, make-up codes 64-1728, extended make-up codes 1792-2560 shared
//    by both colours, EOL);
//  - the 8-bit gray difference code (terminating magnitudes 0-63, make-up codes
//    for 64, 128 and 192);
//  - the built-in 4-bit gray difference code.
// The code table generator, the virtual scanner's encoders and the tests use
// these tables; the driver decodes with the generated table files only and
// takes the T.4 code words from here for the Group 4 TIFF files it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo::codes {

// A code word of `length` bits (1 to 13); `bits` holds them right-aligned,
// the first bit sent in the most significant of the `length` bits.
struct CodeWord {
    uint16_t bits;
    uint8_t length;
};

inline constexpr CodeWord kEol{0x001, 12};  // 000000000001

// T.4 terminating codes, index = run length 0..63.
extern const CodeWord kWhiteTerminating[64];
extern const CodeWord kBlackTerminating[64];
// T.4 make-up codes, index i = run length 64 * (i + 1), 64..1728.
extern const CodeWord kWhiteMakeUp[27];
extern const CodeWord kBlackMakeUp[27];
// T.4 extended make-up codes shared by both colours, index i = 1792 + 64 * i,
// 1792..2560.
extern const CodeWord kExtendedMakeUp[13];

// Make-up code for a multiple of 64 from 64 to 2560.
CodeWord MhMakeUp(bool black, int run);

// 8-bit gray difference code: terminating magnitudes 0..63 and make-up codes
// for 64, 128 and 192 (index 0, 1, 2). A prefix code of 1 to 8 bits in which
// no sequence of sign bits and code words holds eleven 0 bits in a row.
extern const CodeWord kGrayTerminating[64];
extern const CodeWord kGrayMakeUp[3];

// Built-in 4-bit gray code: index = magnitude 0..15.
extern const CodeWord kGray4[16];

// Code state of a code word as the table files index it: 2^length + bits.
inline uint32_t CodeState(CodeWord c) {
    return (1u << c.length) | c.bits;
}

// Table file images in the layout the driver loads (one byte per code state,
// class in the top two bits: 00 read on, 01 EOL, 10 terminating, 11 make-up
// with value x 64).
inline constexpr std::size_t kMhTableSize = 16384;
inline constexpr std::size_t kGrayTableSize = 512;
std::vector<uint8_t> BuildMhTable(bool black);  // huffmanb.dat (true) / huffmanw.dat (false)
std::vector<uint8_t> BuildGrayTable();          // huffmang.dat

}  // namespace orvo::codes
