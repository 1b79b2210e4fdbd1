#include "orvo/decode.h"

#include <algorithm>
#include <cstring>

namespace orvo {

namespace {

constexpr uint8_t kClassMask = 0xC0;
constexpr uint8_t kClassEol = 0x40;
constexpr uint8_t kClassTerminating = 0x80;
constexpr uint8_t kClassMakeUp = 0xC0;

// The built-in 4-bit gray code: code state (2^n + code word) per magnitude.
constexpr uint16_t kGray4States[16] = {0x0002, 0x0006, 0x001C, 0x001E, 0x003A, 0x003B,
                                       0x003F, 0x007C, 0x00FA, 0x01F6, 0x03EE, 0x07DE,
                                       0x0FBE, 0x3EFD, 0x1F7F, 0x3EFC};

// Runs and positions beyond the line are only counted up to here, so that
// endless make-up chains in damaged data cannot overflow.
constexpr long kRunCap = 1L << 24;

}  // namespace

void BitReader::Reset(const uint8_t* data, std::size_t length) {
    data_ = data;
    length_ = data == nullptr ? 0 : length;
    usable_ = length_ == 0 ? 0 : length_ * 8 - 1;
    position_ = 0;
    exhausted_ = length_ == 0;
}

void BitReader::Seek(Mark mark) {
    position_ = std::min(mark.position, usable_);
    exhausted_ = mark.exhausted || length_ == 0;
}

uint32_t BitReader::Peek(unsigned n) const {
    const std::size_t byte = position_ >> 3;
    if (length_ - byte >= 8) {
        // One unaligned load of the eight bytes from the one holding the next
        // bit, most significant byte first.
        uint64_t word;
        std::memcpy(&word, data_ + byte, sizeof word);
        word = __builtin_bswap64(word);
        return static_cast<uint32_t>((word << (position_ & 7)) >> (64 - n));
    }
    // Near the end: bytes past the data read as 0 (Holds(n) keeps them out of
    // the result).
    uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        word = (word << 8) | (byte + i < length_ ? data_[byte + i] : 0u);
    }
    return (word << (position_ & 7)) >> (32 - n);
}

Decoder::Decoder(const CodeTables& tables)
    : tables_(tables), ownFast_(std::make_unique<MhFastTables>()), fast_(ownFast_.get()) {
    DeriveMhFastTables(tables, *ownFast_);
}

bool Decoder::SkipToEol() {
    uint32_t last = 0xFFF;
    while (last != 0x001) {
        const int bit = reader_.Next();
        if (bit < 0) return false;
        last = ((last << 1) | static_cast<uint32_t>(bit)) & 0xFFF;
    }
    return true;
}

uint8_t Decoder::ReadMhCode(const uint8_t* table) {
    uint32_t state = 1;
    for (int n = 1;; ++n) {
        const int bit = reader_.Next();
        if (bit < 0) return 0;
        state = ((state & 0x1FFF) << 1) | static_cast<uint32_t>(bit);
        if (n >= 14) state |= 0x2000;
        const uint8_t entry = table[state];
        if ((entry & kClassMask) != 0) return entry;
    }
}

bool Decoder::ReadMhContinuation(const uint8_t* table, long& run) {
    long total = 0;
    for (;;) {
        const uint8_t entry = ReadMhCode(table);
        const uint8_t cls = entry & kClassMask;
        if (entry == 0 || cls == kClassEol) return false;
        if (cls == kClassTerminating) {
            run = std::min(kRunCap, total + (entry & 0x3F));
            return true;
        }
        total = std::min(kRunCap, total + (entry & 0x3F) * 64L);
    }
}

bool Decoder::DecodeMhLineReference(uint8_t* row, std::size_t rowSize) {
    std::memset(line_, 0, sizeof line_);
    bool black = false;
    long x = 0;
    bool decoded = false;
    for (;;) {
        const uint8_t* table = black ? tables_.black : tables_.white;
        const uint8_t entry = ReadMhCode(table);
        const uint8_t cls = entry & kClassMask;
        if (entry == 0 || cls == kClassEol) break;
        long run = entry & 0x3F;
        if (cls == kClassMakeUp) {
            long rest = 0;
            if (!ReadMhContinuation(table, rest)) break;
            run = run * 64 + rest;
        }
        if (black) {
            const long end = std::min<long>(x + run, kLinePixels);
            for (long p = x; p < end; ++p) line_[p / 8] |= static_cast<uint8_t>(0x80 >> (p % 8));
        }
        x = std::min(kRunCap, x + run);
        decoded = true;
        black = !black;
    }
    if (row != nullptr) std::memcpy(row, line_, std::min(rowSize, sizeof line_));
    return decoded;
}

uint8_t Decoder::ReadMhCodeFast(const uint8_t* table, const uint16_t* fast) {
    if (reader_.Holds(kMhFastBits)) {
        const uint16_t hit = fast[reader_.Peek(kMhFastBits)];
        if (hit != 0) {
            reader_.Skip(hit >> 8);
            return static_cast<uint8_t>(hit);
        }
    }
    return ReadMhCode(table);
}

bool Decoder::ReadMhContinuationFast(const uint8_t* table, const uint16_t* fast, long& run) {
    long total = 0;
    for (;;) {
        const uint8_t entry = ReadMhCodeFast(table, fast);
        const uint8_t cls = entry & kClassMask;
        if (entry == 0 || cls == kClassEol) return false;
        if (cls == kClassTerminating) {
            run = std::min(kRunCap, total + (entry & 0x3F));
            return true;
        }
        total = std::min(kRunCap, total + (entry & 0x3F) * 64L);
    }
}

namespace {

// Sets pixels x to end - 1 (0 <= x < end <= kLinePixels) of a bilevel line.
inline void PaintBlack(uint8_t* line, long x, long end) {
    const long first = x >> 3;
    const long last = (end - 1) >> 3;
    const uint8_t head = static_cast<uint8_t>(0xFFu >> (x & 7));
    const uint8_t tail = static_cast<uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
    if (first == last) {
        line[first] |= static_cast<uint8_t>(head & tail);
        return;
    }
    line[first] |= head;
    for (long b = first + 1; b < last; ++b) line[b] = 0xFF;
    line[last] |= tail;
}

}  // namespace

bool Decoder::DecodeMhLine(uint8_t* row, std::size_t rowSize) {
    // A whole target row is decoded in place; anything smaller goes through
    // the line buffer. Either way the row ends up holding the whole line.
    uint8_t* const line = (row != nullptr && rowSize >= sizeof line_) ? row : line_;
    std::memset(line, 0, sizeof line_);
    bool black = false;
    long x = 0;
    bool decoded = false;
    for (;;) {
        const uint8_t* table = black ? tables_.black : tables_.white;
        const uint16_t* fast = black ? fast_->black : fast_->white;
        const uint8_t entry = ReadMhCodeFast(table, fast);
        const uint8_t cls = entry & kClassMask;
        if (entry == 0 || cls == kClassEol) break;
        long run = entry & 0x3F;
        if (cls == kClassMakeUp) {
            long rest = 0;
            if (!ReadMhContinuationFast(table, fast, rest)) break;
            run = run * 64 + rest;
        }
        if (black && run > 0 && x < kLinePixels) {
            PaintBlack(line, x, std::min<long>(x + run, kLinePixels));
        }
        x = std::min(kRunCap, x + run);
        decoded = true;
        black = !black;
    }
    if (row != nullptr && line == line_) std::memcpy(row, line_, std::min(rowSize, sizeof line_));
    return decoded;
}

Decoder::Ahead Decoder::LookAhead() {
    const BitReader::Mark mark = reader_.Tell();
    Ahead result = Ahead::kEol;
    for (int n = 0; n < 12; ++n) {
        const int bit = reader_.Next();
        if (bit < 0) {
            result = Ahead::kExhausted;
            break;
        }
        if (bit == 1) {
            result = n < 11 ? Ahead::kData : Ahead::kEol;
            break;
        }
        // Eleven 0 bits and then a 0: fill bits before the next EOL.
    }
    reader_.Seek(mark);
    return result;
}

bool Decoder::ReadGray8Magnitude(uint32_t& magnitude, bool& endMark) {
    uint32_t total = 0;
    endMark = false;
    for (bool first = true;; first = false) {
        uint32_t state = 1;
        uint8_t entry = 0;
        for (int n = 0; n < 8 && (entry & kClassMask) == 0; ++n) {
            const int bit = reader_.Next();
            if (bit < 0) return false;
            state = ((state & 0xFF) << 1) | static_cast<uint32_t>(bit);
            entry = tables_.gray[state];
        }
        const uint8_t cls = entry & kClassMask;
        if (cls == kClassTerminating) {
            magnitude = (total + (entry & 0x3Fu)) & 0xFF;
            // Only a terminating code of magnitude 0 by itself is the end
            // mark; make-up codes adding up to 256 are a value like any other.
            endMark = first && (entry & 0x3Fu) == 0;
            return true;
        }
        if (cls != kClassMakeUp) return false;  // invalid code or end of line
        total = (total + (entry & 0x3Fu) * 64) & 0xFF;
    }
}

void Decoder::FormPixels(std::size_t n) {
    uint8_t p = 0;
    for (std::size_t k = 0; k < n; ++k) {
        p = static_cast<uint8_t>(p - values_[k]);
        values_[k] = p;
    }
}

bool Decoder::DecodeGray8Line(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    std::size_t n = 0;
    while (n < kGrayValueCount) {
        if (LookAhead() != Ahead::kData) break;
        const int sign = reader_.Next();
        if (sign < 0) break;
        uint32_t magnitude = 0;
        bool endMark = false;
        if (!ReadGray8Magnitude(magnitude, endMark)) break;
        if (endMark && sign == 0) break;  // end-of-line mark
        values_[n++] = static_cast<uint8_t>(sign ? magnitude : 0x100 - magnitude);
    }
    FormPixels(n);
    if (row != nullptr) {
        std::memcpy(row, values_, std::min({n, rowSize, kGrayRowBytes}));
    }
    return n > 0;
}

int Decoder::ReadGray4Magnitude() {
    uint32_t state = 1;
    for (int n = 0; n < 13; ++n) {
        const int bit = reader_.Next();
        if (bit < 0) return -2;
        state = (state << 1) | static_cast<uint32_t>(bit);
        for (int m = 0; m < 16; ++m) {
            if (kGray4States[m] == state) return m;
        }
    }
    return -1;
}

bool Decoder::DecodeGray4Line(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    std::size_t n = 0;
    while (n < kGrayValueCount) {
        const Ahead ahead = LookAhead();
        if (ahead == Ahead::kEol) break;
        int sign = -1;
        int magnitude = -2;
        if (ahead == Ahead::kData) {
            sign = reader_.Next();
            if (sign >= 0) magnitude = ReadGray4Magnitude();
        }
        if (magnitude == -2) {
            // The data ran out: the rest of the line repeats the last pixel.
            values_[n++] = 0;
            continue;
        }
        if (magnitude == -1) break;              // no code word within 13 bits
        if (magnitude == 0 && sign == 0) break;  // end-of-line mark
        values_[n++] = static_cast<uint8_t>(sign ? magnitude : 0x100 - magnitude);
    }
    FormPixels(n);
    if (row != nullptr) {
        const std::size_t size = std::min(rowSize, kGrayRowBytes);
        std::size_t k = 0;
        for (; k < n / 2 && k < size; ++k) {
            row[k] =
                static_cast<uint8_t>(((values_[2 * k] & 0x0F) << 4) | (values_[2 * k + 1] & 0x0F));
        }
        if (n % 2 == 1 && k < size) row[k++] = static_cast<uint8_t>((values_[n - 1] & 0x0F) << 4);
        // The row's bytes up to the pixel count are cleared, within the row.
        for (; k < n && k < size; ++k) row[k] = 0;
    }
    return n > 0;
}

template <bool Fast>
void Decoder::MhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                     std::size_t workSize, uint8_t* dst, std::size_t dstSize) {
    if (data == nullptr || work == nullptr || dst == nullptr) return;
    const std::size_t n = std::min(length, workSize);
    std::memmove(work, data, n);
    Start(work, n);
    if (!SkipToEol()) return;
    long decoded = 1;
    std::size_t row = 1;
    while (decoded < lines && (row + 1) * kMhRowBytes <= dstSize) {
        uint8_t* target = dst + row * kMhRowBytes;
        if (Fast ? DecodeMhLine(target, kMhRowBytes) : DecodeMhLineReference(target, kMhRowBytes)) {
            ++decoded;
            ++row;
        }
        if (Exhausted()) break;
    }
}

void Decoder::DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                           std::size_t workSize, uint8_t* dst, std::size_t dstSize) {
    MhPage<true>(data, length, lines, work, workSize, dst, dstSize);
}

void Decoder::DecodeMhPageReference(const uint8_t* data, std::size_t length, long lines,
                                    uint8_t* work, std::size_t workSize, uint8_t* dst,
                                    std::size_t dstSize) {
    MhPage<false>(data, length, lines, work, workSize, dst, dstSize);
}

void Decoder::DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                              std::size_t dstSize) {
    if (dst == nullptr) return;
    Start(data, length);
    long decoded = 1;
    for (std::size_t row = 1; decoded < lines && (row + 1) * kGrayRowBytes <= dstSize; ++row) {
        if (DecodeGray8Line(dst + row * kGrayRowBytes, kGrayRowBytes)) ++decoded;
        if (Exhausted()) break;
    }
}

void Decoder::DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                              std::size_t dstSize) {
    if (dst == nullptr) return;
    Start(data, length);
    long decoded = 1;
    for (std::size_t row = 1; decoded < lines && (row + 1) * kGrayRowBytes <= dstSize; ++row) {
        if (DecodeGray4Line(dst + row * kGrayRowBytes, kGrayRowBytes)) ++decoded;
        if (Exhausted()) break;
    }
}

namespace {

Decoder& PageDecoder() {
    static Decoder decoder(LoadedCodeTables(), LoadedMhFastTables());
    return decoder;
}

}  // namespace

void DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                  std::size_t workSize, uint8_t* dst, std::size_t dstSize) {
    PageDecoder().DecodeMhPage(data, length, lines, work, workSize, dst, dstSize);
}

void DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                     std::size_t dstSize) {
    PageDecoder().DecodeGray8Page(data, length, lines, dst, dstSize);
}

void DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                     std::size_t dstSize) {
    PageDecoder().DecodeGray4Page(data, length, lines, dst, dstSize);
}

}  // namespace orvo
