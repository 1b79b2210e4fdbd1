// Coders of the scanner's compressed image data. Every line is preceded by an
// EOL and the page ends with an RTC (six EOLs):
//  - bilevel: ITU-T T.4 one-dimensional modified Huffman, white run first;
//  - 8-bit gray: per pixel a sign bit (1 = positive or zero) and a magnitude
//    from the gray difference code, the decoder forming p[0] = -v[0] and
//    p[k] = p[k-1] - v[k] (mod 256);
//  - 4-bit gray: the same with the built-in 4-bit code on values 0-15.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvo/codes/codes.h"

namespace orvo::sim {

// Appends bits most significant first; unused bits of the last byte are 0.
class BitWriter {
  public:
    void Put(codes::CodeWord c) { PutBits(c.bits, c.length); }
    void PutBits(uint32_t bits, int count);
    void PutBit(bool bit);
    // Zero fill so that the bit count becomes a multiple of 8 after `then`
    // more bits (used to end an EOL on a byte boundary).
    void FillToAlign(int then);
    size_t bitCount() const { return bits_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

  private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

struct CodingOptions {
    // Zero fill before every EOL so that each EOL ends on a byte boundary.
    bool alignEol = false;
};

struct CodedPage {
    std::vector<uint8_t> bytes;
    size_t rtcBit = 0;  // bit position where the RTC begins
};

// Bilevel rows: one byte per pixel, non-zero = black.
CodedPage EncodeMh(const std::vector<uint8_t>& pixels, int width, int height,
                   const CodingOptions& options = {});
// Codes the runs of one line (no EOL).
void EncodeMhLine(BitWriter& out, const uint8_t* pixels, int width);

// 8-bit gray rows, one byte per pixel.
CodedPage EncodeGray8(const std::vector<uint8_t>& pixels, int width, int height,
                      const CodingOptions& options = {});
// 4-bit gray rows, one value 0-15 per byte.
CodedPage EncodeGray4(const std::vector<uint8_t>& pixels, int width, int height,
                      const CodingOptions& options = {});

}  // namespace orvo::sim
