#include "orvo/image/framing.h"

#include <bit>
#include <cstring>

namespace orvo {

bool IsEolAnchor(const uint8_t* data, std::size_t n, std::size_t i) {
    if (data == nullptr || i >= n) return false;
    const uint8_t a = data[i];
    const uint8_t c = i == 0 ? 0xFF : data[i - 1];
    const uint8_t d = i + 1 == n ? 0x00 : data[i + 1];
    if ((a & 0x0F) != 0) return false;
    // The first 1 bit of byte i + 1 must follow at least eleven 0 bits that
    // lie in bytes i - 1, i and i + 1.
    return ((a & 0xF0) == 0 && (d & 0xF0) == 0x10) ||                     //
           ((a & 0x70) == 0 && (d & 0xF8) == 0x08) ||                     //
           ((a & 0x30) == 0 && (d & 0xFC) == 0x04) ||                     //
           ((a & 0x10) == 0 && (d & 0xFE) == 0x02) ||                     //
           (d == 0x01) ||                                                 //
           ((a & 0xF0) == 0 && (d & 0x80) == 0x80 && (c & 0x07) == 0) ||  //
           ((a & 0xF0) == 0 && (d & 0xC0) == 0x40 && (c & 0x03) == 0) ||  //
           ((a & 0xF0) == 0 && (d & 0xE0) == 0x20 && (c & 0x01) == 0);
}

namespace {

// Calls anchor(i) for every EOL anchor i of data[0..n) in order, until it
// returns false. Only a byte whose low four bits are 0 can be an anchor, and
// coded data hold few of them: eight bytes at a time are passed over unless
// one of them is such a byte.
template <typename Anchor>
void ForEachAnchor(const uint8_t* data, std::size_t n, Anchor anchor) {
    if (data == nullptr) return;
    constexpr uint64_t kLowNibbles = 0x0F0F0F0F0F0F0F0Full;
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        const uint64_t low = word & kLowNibbles;
        // High bit set in (at least) every byte whose low nibble is 0; a few
        // others may be marked too, the full test below sorts them out.
        uint64_t candidates = (low - kOnes) & ~low & kHighBits;
        if constexpr (std::endian::native != std::endian::little) candidates = kHighBits;
        while (candidates != 0) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(candidates)) / 8;
            if (IsEolAnchor(data, n, at) && !anchor(at)) return;
            candidates &= candidates - 1;
        }
    }
    for (; i < n; ++i) {
        if (IsEolAnchor(data, n, i) && !anchor(i)) return;
    }
}

}  // namespace

long RtcSearch(const uint8_t* data, std::size_t n) {
    return RtcSearchCounting(data, n).rtc;
}

RtcScan RtcSearchCounting(const uint8_t* data, std::size_t n) {
    // Anchors at most 2 bytes apart form a run; the run is broken as soon as
    // an index lies more than 2 past the last anchor (the first anchor is
    // measured from index 0).
    RtcScan scan;
    std::size_t lastAnchor = 0;
    int run = 0;
    ForEachAnchor(data, n, [&](std::size_t i) {
        if (i > lastAnchor + 2) run = 0;
        ++run;
        ++scan.anchors;
        lastAnchor = i;
        if (run < 6) return true;
        scan.rtc = static_cast<long>(i + 1);
        return false;
    });
    return scan;
}

long EolCount(const uint8_t* data, std::size_t n) {
    long anchors = 0;
    ForEachAnchor(data, n, [&](std::size_t) {
        ++anchors;
        return true;
    });
    return anchors - 6;
}

}  // namespace orvo
