// Decoders of the scanner's coded page data: modified Huffman run lengths for
// bilevel pages, differential codes for 8-bit and 4-bit gray pages. Every line
// is framed by an EOL; decoding never fails, damaged data end a line early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "orvo/image/code_tables.h"

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
        std::size_t position;  // in bits from the start of the data
        bool exhausted;
    };

    void Reset(const uint8_t* data, std::size_t length);
    // The next bit (0 or 1), or -1 once the reader is exhausted.
    int Next() {
        if (exhausted_) return -1;
        if (position_ >= usable_) {
            exhausted_ = true;
            return -1;
        }
        const int bit = (data_[position_ >> 3] >> (7 - (position_ & 7))) & 1;
        ++position_;
        return bit;
    }
    bool Exhausted() const { return exhausted_; }
    Mark Tell() const { return Mark{position_, exhausted_}; }
    void Seek(Mark mark);

    // Whether the next n bits can all be taken without exhausting the reader.
    bool Holds(unsigned n) const { return !exhausted_ && usable_ - position_ >= n; }
    // The next n (1 to 24) bits as a number, first bit highest, without taking
    // them; only after Holds(n).
    uint32_t Peek(unsigned n) const;
    // Takes n bits that Holds(n) vouched for.
    void Skip(unsigned n) { position_ += n; }

    // For table-driven decoders that keep their own position: the data, the
    // position in bits, and the end of the positions from which a 64-bit
    // load of the data stays short of its last byte (so that no bit it
    // yields is the last one).
    const uint8_t* Data() const { return data_; }
    std::size_t Position() const { return position_; }
    std::size_t WindowEnd() const { return length_ >= 9 ? (length_ - 8) * 8 : 0; }

  private:
    const uint8_t* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t usable_ = 0;  // bits that can be taken: all but the last
    std::size_t position_ = 0;
    bool exhausted_ = true;
};

// One decoder position over one page's data. Rows are written only inside the
// destination buffers handed in; a page stops at the last whole row that fits.
class Decoder {
  public:
    // Derives its own fast tables from `tables` (allocates once, here).
    explicit Decoder(const CodeTables& tables);
    // Uses fast tables derived elsewhere from the same code tables.
    Decoder(const CodeTables& tables, const FastTables& fast) : tables_(tables), fast_(&fast) {}

    // Page drivers: decode up to lines - 1 lines into rows 1, 2, ... of `dst`.
    // The bilevel driver first copies the data into `work` (at most workSize
    // bytes of it) and decodes from there; an empty line reuses its row. The
    // gray drivers move on one row per line call, decoded or not.
    void DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                      std::size_t workSize, uint8_t* dst, std::size_t dstSize);
    // The same page through the bit-by-bit line decoder.
    void DecodeMhPageReference(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                               std::size_t workSize, uint8_t* dst, std::size_t dstSize);
    void DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                         std::size_t dstSize);
    void DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                         std::size_t dstSize);
    // The same pages through the bit-by-bit gray line decoders.
    void DecodeGray8PageReference(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                                  std::size_t dstSize);
    void DecodeGray4PageReference(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                                  std::size_t dstSize);

    // Line decoders, from the current position. Each writes at most rowSize
    // bytes (324 or 2592 are whole rows) and returns whether it decoded at
    // least one run or value.
    void Start(const uint8_t* data, std::size_t length) { reader_.Reset(data, length); }
    bool SkipToEol();  // false when the data ran out first
    // Bilevel lines: DecodeMhLine takes whole codes through the fast tables
    // and falls back to the bit-by-bit walk of the code tables for long
    // codes, fill bits and the last bits of the data; DecodeMhLineReference
    // always walks bit by bit. Both give the same rows and positions.
    bool DecodeMhLine(uint8_t* row, std::size_t rowSize);
    bool DecodeMhLineReference(uint8_t* row, std::size_t rowSize);
    // Gray lines: DecodeGray8Line and DecodeGray4Line take whole values
    // through the fast tables (runs of zero differences several at a time)
    // and walk bit by bit near the end of the data and for codes the tables
    // cannot settle; the Reference decoders always walk bit by bit. Both give
    // the same rows and positions on any data.
    bool DecodeGray8Line(uint8_t* row, std::size_t rowSize);
    bool DecodeGray8LineReference(uint8_t* row, std::size_t rowSize);
    bool DecodeGray4Line(uint8_t* row, std::size_t rowSize);
    bool DecodeGray4LineReference(uint8_t* row, std::size_t rowSize);
    bool Exhausted() const { return reader_.Exhausted(); }

  private:
    enum class Ahead { kData, kEol, kExhausted };
    enum class Gray { k8, k4 };

    uint8_t ReadMhCode(const uint8_t* table);  // entry of class != 00, or 0 when exhausted
    bool ReadMhContinuation(const uint8_t* table, long& run);
    uint8_t ReadMhCodeFast(const uint8_t* table, const uint16_t* fast);
    bool ReadMhContinuationFast(const uint8_t* table, const uint16_t* fast, long& run);
    template <bool Fast>
    void MhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                std::size_t workSize, uint8_t* dst, std::size_t dstSize);
    template <Gray G, bool Fast>
    void GrayPage(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                  std::size_t dstSize);
    Ahead LookAhead();
    // Magnitude of one 8-bit gray code (with its continuations, kept to its
    // low 8 bits); false when the code is invalid, an EOL, or the data ran
    // out. endMark: a terminating code of magnitude 0 without make-up codes.
    bool ReadGray8Magnitude(uint32_t& magnitude, bool& endMark);
    // -1 no match within 13 bits, -2 data ran out, else the magnitude.
    int ReadGray4Magnitude();
    // One value of a gray line by the bit-by-bit walk: the difference kept
    // to 8 bits, or -1 when the line ends there.
    int Gray8Step();
    int Gray4Step();
    // The pixels of one gray line (after its EOL); the count. The reference
    // puts them into values_, the fast one its first outCount into out and
    // any further ones into values_.
    template <Gray G>
    std::size_t GrayPixelsReference();
    template <Gray G>
    std::size_t GrayPixelsFast(uint8_t* out, std::size_t outCount);
    void StoreGray8(std::size_t n, uint8_t* row, std::size_t rowSize) const;
    void StoreGray4(std::size_t n, uint8_t* row, std::size_t rowSize) const;

    const CodeTables& tables_;
    std::unique_ptr<FastTables> ownFast_;
    const FastTables* fast_ = nullptr;
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
