#include "orvo/image/decode.h"

#include <algorithm>
#include <cstring>

#include "decoder_detail.h"

namespace orvo {

using namespace decode_detail;

namespace {

// The built-in 4-bit gray code: code state (2^n + code word) per magnitude.
constexpr uint16_t kGray4States[16] = {0x0002, 0x0006, 0x001C, 0x001E, 0x003A, 0x003B,
                                       0x003F, 0x007C, 0x00FA, 0x01F6, 0x03EE, 0x07DE,
                                       0x0FBE, 0x3EFD, 0x1F7F, 0x3EFC};

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
    : tables_(tables), ownFast_(std::make_unique<FastTables>()), fast_(ownFast_.get()) {
    DeriveFastTables(tables, *ownFast_);
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
        const uint16_t* fast = black ? fast_->mh.black : fast_->mh.white;
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

int Decoder::Gray8Step() {
    if (LookAhead() != Ahead::kData) return -1;
    const int sign = reader_.Next();
    if (sign < 0) return -1;
    uint32_t magnitude = 0;
    bool endMark = false;
    if (!ReadGray8Magnitude(magnitude, endMark)) return -1;
    if (endMark && sign == 0) return -1;  // end-of-line mark
    return static_cast<int>(sign ? magnitude : (0x100 - magnitude) & 0xFF);
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

int Decoder::Gray4Step() {
    const Ahead ahead = LookAhead();
    if (ahead == Ahead::kEol) return -1;
    int sign = -1;
    int magnitude = -2;
    if (ahead == Ahead::kData) {
        sign = reader_.Next();
        if (sign >= 0) magnitude = ReadGray4Magnitude();
    }
    // The data ran out: the rest of the line repeats the last pixel.
    if (magnitude == -2) return 0;
    if (magnitude == -1) return -1;              // no code word within 13 bits
    if (magnitude == 0 && sign == 0) return -1;  // end-of-line mark
    return sign ? magnitude : 0x100 - magnitude;
}

namespace {

// The fast table of the built-in 4-bit code, derived from its code states the
// way the bit-by-bit walk reads them.
constexpr GrayFastTables DeriveGray4FastTables() {
    GrayFastTables t{};
    for (uint32_t index = 0; index < kGrayFastSize; ++index) {
        uint16_t result = static_cast<uint16_t>(kGrayFastSlow << 12);
        if ((index >> (kGrayFastBits - 11)) == 0) {
            result = static_cast<uint16_t>(kGrayFastEolAhead << 12);
        } else {
            const uint32_t sign = index >> (kGrayFastBits - 1);
            uint32_t state = 1;
            for (int n = 1; n < kGrayFastBits; ++n) {
                state = (state << 1) | ((index >> (kGrayFastBits - 1 - n)) & 1u);
                int magnitude = -1;
                for (int m = 0; m < 16 && magnitude < 0; ++m) {
                    if (kGray4States[m] == state) magnitude = m;
                }
                if (magnitude < 0) continue;
                const uint32_t taken = static_cast<uint32_t>(n) + 1;
                if (sign == 0 && magnitude == 0) {
                    result = static_cast<uint16_t>((kGrayFastEnd << 12) | (taken << 8));
                } else {
                    const uint32_t v = sign ? magnitude : 0x100 - magnitude;
                    result =
                        static_cast<uint16_t>((kGrayFastValue << 12) | (taken << 8) | (v & 0xFF));
                }
                break;
            }
        }
        t.value[index] = result;
    }
    // Zero difference: sign 1, then the one-bit code 0.
    t.zeroLength = 2;
    for (unsigned at = 0; at + 2 <= 64; at += 2) t.zeroRun |= uint64_t{2} << (62 - at);
    for (unsigned bits = 0; bits <= 64; ++bits) t.zeroRuns[bits] = static_cast<uint8_t>(bits / 2);
    PairGrayFastValues(t);
    return t;
}

constexpr GrayFastTables kGray4Fast = DeriveGray4FastTables();

// Bits of the data from bit position `pos` on, most significant first; the
// top 57 are the data's (pos must be below BitReader::WindowEnd()).
inline uint64_t Window(const uint8_t* data, std::size_t pos) {
    uint64_t word;
    std::memcpy(&word, data + (pos >> 3), sizeof word);
    return __builtin_bswap64(word) << (pos & 7);
}

constexpr unsigned kWindowBits = 56;

// How many leading bits of x equal those of pattern (at most 63).
inline unsigned SameBits(uint64_t x, uint64_t pattern) {
    return static_cast<unsigned>(__builtin_clzll((x ^ pattern) | 1));
}

}  // namespace

template <Decoder::Gray G>
std::size_t Decoder::GrayPixelsFast(uint8_t* out, std::size_t outCount) {
    const GrayFastTables& t = G == Gray::k8 ? fast_->gray8 : kGray4Fast;
    const uint8_t* const data = reader_.Data();
    const std::size_t end = reader_.WindowEnd();
    std::size_t pos = reader_.Position();
    std::size_t n = 0;
    uint8_t p = 0;
    // The first outCount values go to out, any further ones to values_.
    std::size_t limit = std::min(outCount, kGrayValueCount);
    for (;;) {
        if (n == limit && limit < kGrayValueCount) {
            out = values_;
            limit = kGrayValueCount;
        }
        bool walk = pos >= end;  // one value bit by bit
        bool lineEnds = false;
        if (!walk) {
            const uint64_t w = Window(data, pos);
            unsigned used = 0;
            while (n < limit) {
                if (used + kGrayFastBits > kWindowBits) break;  // a new window
                const uint64_t x = w << used;
                const uint32_t e = t.value[x >> (64 - kGrayFastBits)];
                const unsigned kind = (e >> 12) & 0x0F;
                const unsigned taken = (e >> 8) & 0x0F;
                if (kind == kGrayFastValue) {
                    if (static_cast<uint8_t>(e) == 0 && taken == t.zeroLength) {
                        // A run of zero differences: the pixel repeats.
                        std::size_t k =
                            t.zeroRuns[std::min(SameBits(x, t.zeroRun), kWindowBits - used)];
                        if (k != 0) {
                            if (k == t.zeroRuns[kWindowBits - used]) {
                                // It fills the window: count on through the next ones.
                                std::size_t at = pos + used + k * t.zeroLength;
                                while (at < end && k < kGrayValueCount) {
                                    const std::size_t more = t.zeroRuns[std::min(
                                        SameBits(Window(data, at), t.zeroRun), kWindowBits)];
                                    k += more;
                                    at += more * t.zeroLength;
                                    if (more < t.zeroRuns[kWindowBits]) break;
                                }
                            }
                            k = std::min(k, limit - n);
                            std::memset(out + n, p, k);
                            n += k;
                            used += static_cast<unsigned>(k * t.zeroLength);
                            continue;
                        }
                    }
                    p = static_cast<uint8_t>(p - e);
                    out[n++] = p;
                    used += taken;
                    // A second whole value in the same bits.
                    const uint32_t second = e >> 16;
                    if (second != 0 && n < limit) {
                        p = static_cast<uint8_t>(p - second);
                        out[n++] = p;
                        used += second >> 8;
                    }
                    continue;
                }
                if (kind == kGrayFastEnd || kind == kGrayFastEolAhead) {
                    used += taken;
                    lineEnds = true;
                    break;
                }
                if (G == Gray::k8 && kind == kGrayFastMakeUp) {
                    // Continuation codes until a terminating one.
                    uint32_t total = (e & 0x3Fu) * 64;
                    unsigned u = used + taken;
                    int outcome = 0;  // 0 past the window, 1 a value, 2 the line ends
                    while (outcome == 0 && u + 8 <= kWindowBits) {
                        const uint16_t c = t.code[(w << u) >> 56];
                        u += c >> 8;
                        const uint8_t entry = static_cast<uint8_t>(c);
                        if ((entry & kClassMask) == kClassTerminating) {
                            total += entry & 0x3Fu;
                            outcome = 1;
                        } else if ((entry & kClassMask) == kClassMakeUp) {
                            total = (total + (entry & 0x3Fu) * 64) & 0xFF;
                        } else {
                            outcome = 2;
                        }
                    }
                    if (outcome == 1) {
                        const uint32_t m = total & 0xFF;
                        const uint32_t v = (x >> 63) != 0 ? m : 0x100 - m;
                        p = static_cast<uint8_t>(p - v);
                        out[n++] = p;
                        used = u;
                        continue;
                    }
                    if (outcome == 2) {
                        used = u;
                        lineEnds = true;
                        break;
                    }
                }
                // A code the tables leave to the walk, or past the window.
                walk = kind == kGrayFastSlow || used == 0;
                break;
            }
            pos += used;
        }
        if (lineEnds || n == kGrayValueCount) break;
        if (!walk) continue;
        reader_.Seek(BitReader::Mark{pos, false});
        const int v = G == Gray::k8 ? Gray8Step() : Gray4Step();
        if (v < 0) return n;  // the walk left the position after the line
        p = static_cast<uint8_t>(p - v);
        out[n++] = p;
        if (G == Gray::k4 && reader_.Exhausted()) {
            // The data ran out: every further value is 0.
            std::memset(values_ + n, p, kGrayValueCount - n);
            return kGrayValueCount;
        }
        pos = reader_.Position();
        if (n == kGrayValueCount) break;
    }
    reader_.Seek(BitReader::Mark{pos, false});
    return n;
}

void Decoder::StoreGray8(std::size_t n, uint8_t* row, std::size_t rowSize) const {
    if (row != nullptr) std::memcpy(row, values_, std::min({n, rowSize, kGrayRowBytes}));
}

void Decoder::StoreGray4(std::size_t n, uint8_t* row, std::size_t rowSize) const {
    if (row == nullptr) return;
    const std::size_t size = std::min(rowSize, kGrayRowBytes);
    std::size_t k = 0;
    for (; k < n / 2 && k < size; ++k) {
        row[k] = static_cast<uint8_t>(((values_[2 * k] & 0x0F) << 4) | (values_[2 * k + 1] & 0x0F));
    }
    if (n % 2 == 1 && k < size) row[k++] = static_cast<uint8_t>((values_[n - 1] & 0x0F) << 4);
    // The row's bytes up to the pixel count are cleared, within the row.
    if (k < std::min(n, size)) std::memset(row + k, 0, std::min(n, size) - k);
}

bool Decoder::DecodeGray8Line(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    // A whole row takes the pixels straight away.
    const bool whole = row != nullptr && rowSize >= kGrayRowBytes;
    const std::size_t n =
        GrayPixelsFast<Gray::k8>(whole ? row : values_, whole ? kGrayRowBytes : kGrayValueCount);
    if (!whole) StoreGray8(n, row, rowSize);
    return n > 0;
}

bool Decoder::DecodeGray4Line(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    const std::size_t n = GrayPixelsFast<Gray::k4>(values_, kGrayValueCount);
    StoreGray4(n, row, rowSize);
    return n > 0;
}

void Decoder::DecodeMhPage(const uint8_t* data, std::size_t length, long lines, uint8_t* work,
                           std::size_t workSize, uint8_t* dst, std::size_t dstSize) {
    MhPage<true>(data, length, lines, work, workSize, dst, dstSize);
}

void Decoder::DecodeGray8Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                              std::size_t dstSize) {
    GrayPage<Gray::k8, true>(data, length, lines, dst, dstSize);
}

void Decoder::DecodeGray4Page(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                              std::size_t dstSize) {
    GrayPage<Gray::k4, true>(data, length, lines, dst, dstSize);
}

namespace {

Decoder& PageDecoder() {
    static Decoder decoder(LoadedCodeTables(), LoadedFastTables());
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
