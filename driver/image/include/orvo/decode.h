// Decoders of the scanner's coded page data: modified Huffman run lengths for
// bilevel pages, differential codes for 8-bit and 4-bit gray pages. Every line
// is framed by an EOL; decoding never fails, damaged data end a line early.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orvo/code_tables.h"

namespace orvo {

inline constexpr int kLinePixels = 2592;
inline constexpr std::size_t kMhRowBytes = 324;     // 2592 pixels, 1 bit each
inline constexpr std::size_t kGrayRowBytes = 2592;  // 8-bit pixels, or 4-bit pairs
inline constexpr std::size_t kGrayValueCount = 5184;

// Reads coded data most significant bit first. The last bit of the data never
// enters a code: taking it exhausts the reader.
class BitReader {
  public:
    struct Mark {
        std::size_t index;
        uint8_t mask;
        bool exhausted;
    };

    void Reset(const uint8_t* data, std::size_t length);
    // The next bit (0 or 1), or -1 once the reader is exhausted.
    int Next();
    bool Exhausted() const { return exhausted_; }
    Mark Tell() const { return Mark{index_, mask_, exhausted_}; }
    void Seek(Mark mark);

  private:
    const uint8_t* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t index_ = 0;
    uint8_t mask_ = 0x80;
    uint8_t current_ = 0;
    bool exhausted_ = true;
};

// One decoder position over one page's data. Rows are written only inside the
// destination buffers handed in; a page stops at the last whole row that fits.
class Decoder {
  public:
    explicit Decoder(const CodeTables& tables) : tables_(tables) {}

    // Page drivers: decode up to lines - 1 lines into rows 1, 2, ... of `dst`.
    // The bilevel driver first copies the data into `work` (at most workSize
    // bytes of it) and decodes from there; an empty line reuses its row. The
    // gray drivers move on one row per line call, decoded or not.
    void DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                      std::size_t workSize, uint8_t* dst, std::size_t dstSize);
    void DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                         std::size_t dstSize);
    void DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                         std::size_t dstSize);

    // Line decoders, from the current position. Each writes at most rowSize
    // bytes (324 or 2592 are whole rows) and returns whether it decoded at
    // least one run or value.
    void Start(const uint8_t* data, std::size_t length) { reader_.Reset(data, length); }
    bool SkipToEol();  // false when the data ran out first
    bool DecodeMhLine(uint8_t* row, std::size_t rowSize);
    bool DecodeGray8Line(uint8_t* row, std::size_t rowSize);
    bool DecodeGray4Line(uint8_t* row, std::size_t rowSize);
    bool Exhausted() const { return reader_.Exhausted(); }

  private:
    enum class Ahead { kData, kEol, kExhausted };

    uint8_t ReadMhCode(const uint8_t* table);  // entry of class != 00, or 0 when exhausted
    bool ReadMhContinuation(const uint8_t* table, long& run);
    Ahead LookAhead();
    // Magnitude of one 8-bit gray code (with its continuations); false when
    // the code is invalid, an EOL, or the data ran out.
    bool ReadGray8Magnitude(uint32_t& magnitude);
    // -1 no match within 13 bits, -2 data ran out, else the magnitude.
    int ReadGray4Magnitude();
    void FormPixels(std::size_t n);

    const CodeTables& tables_;
    BitReader reader_;
    uint8_t line_[kMhRowBytes] = {};
    uint8_t values_[kGrayValueCount] = {};
};

// The process-wide decoder over the loaded code tables (one page at a time).
void DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                  std::size_t workSize, uint8_t* dst, std::size_t dstSize);
void DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                     std::size_t dstSize);
void DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                     std::size_t dstSize);

}  // namespace orvo
