#include "orvo/quality/tiff_lzw.h"

#include <bit>
#include <cstring>

namespace orvo::quality {

namespace {

constexpr unsigned kClear = 256;
constexpr unsigned kEoi = 257;
constexpr unsigned kFirst = 258;
constexpr unsigned kBitsMin = 9;
constexpr unsigned kBitsMax = 12;
// The last entry a table may hold before a clear code must come (libtiff's
// own limit for the table it keeps).
constexpr unsigned kLastEntry = (1u << kBitsMax) - 2;

// Codes most significant bit first, from a 64-bit window.
class Bits {
  public:
    Bits(const uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
    // False when fewer than `n` bits are left.
    bool Take(unsigned n, unsigned* code) {
        if (have_ < n && end_ - p_ >= 8) {
            // Whole bytes into the window, eight read at once.
            uint64_t v;
            std::memcpy(&v, p_, 8);
            if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
            const unsigned bytes = (63 - have_) / 8;
            const unsigned filled = have_ + 8 * bytes;
            window_ |= (v >> have_) & ~(~uint64_t{0} >> filled);
            p_ += bytes;
            have_ = filled;
        } else if (have_ < n) {
            while (have_ <= 56 && p_ < end_) {
                window_ |= static_cast<uint64_t>(*p_++) << (56 - have_);
                have_ += 8;
            }
            if (have_ < n) return false;
        }
        *code = static_cast<unsigned>(window_ >> (64 - n));
        window_ <<= n;
        have_ -= n;
        return true;
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t window_ = 0;
    unsigned have_ = 0;
};

// Copies `n` bytes that lie wholly before `to` in the same buffer; `room`
// bytes may be written from `to` on. Where the two are 16 bytes apart or
// more and there is room, 16 bytes at a time (the bytes beyond `n` are
// written over by the strings that follow).
inline void CopyEarlier(uint8_t* to, const uint8_t* from, std::size_t n, std::size_t room) {
    if (to - from >= 16 && n + 16 <= room) {
        for (std::size_t i = 0; i < n; i += 16) std::memcpy(to + i, from + i, 16);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

}  // namespace

bool DecodeTiffLzw(const uint8_t* in, std::size_t inBytes, uint8_t* out, std::size_t want) {
    // Each table entry is a string already in the output: where it starts
    // and how long it is.
    uint32_t at[1u << kBitsMax];
    uint32_t length[1u << kBitsMax];
    Bits bits(in, inBytes);
    unsigned nbits = kBitsMin;
    unsigned code = 0;
    if (!bits.Take(nbits, &code) || code != kClear) return false;
    std::size_t pos = 0;
    unsigned freeEnt = kFirst;
    bool afterClear = true;
    std::size_t prevAt = 0, prevLength = 0;
    while (pos < want) {
        if (!bits.Take(nbits, &code)) return false;
        if (code == kClear) {
            nbits = kBitsMin;
            freeEnt = kFirst;
            afterClear = true;
            continue;
        }
        if (code == kEoi) return false;  // before the page is whole
        const std::size_t left = want - pos;
        if (afterClear) {
            if (code > 255) return false;
            out[pos] = static_cast<uint8_t>(code);
            prevAt = pos;
            prevLength = 1;
            ++pos;
            afterClear = false;
            continue;
        }
        std::size_t stringAt = pos, stringLength;
        if (code < 256) {
            out[pos] = static_cast<uint8_t>(code);
            stringLength = 1;
        } else if (code < freeEnt) {
            stringLength = length[code];
            const std::size_t n = stringLength < left ? stringLength : left;
            CopyEarlier(out + pos, out + at[code], n, left);
        } else if (code == freeEnt) {
            // The string just decoded and its own first byte again.
            stringLength = prevLength + 1;
            const std::size_t n = prevLength < left ? prevLength : left;
            CopyEarlier(out + pos, out + prevAt, n, left);
            if (prevLength < left) out[pos + prevLength] = out[prevAt];
        } else {
            return false;
        }
        if (freeEnt > kLastEntry) return false;  // full, and no clear came
        at[freeEnt] = static_cast<uint32_t>(prevAt);
        length[freeEnt] = static_cast<uint32_t>(prevLength + 1);
        ++freeEnt;
        if (freeEnt > (1u << nbits) - 2 && nbits < kBitsMax) ++nbits;
        prevAt = stringAt;
        prevLength = stringLength;
        pos += stringLength < left ? stringLength : left;
    }
    return true;
}

}  // namespace orvo::quality
