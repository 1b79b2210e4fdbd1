#include "orvo/framing.h"

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

long RtcSearch(const uint8_t* data, std::size_t n) {
    std::size_t lastAnchor = 0;
    int run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > lastAnchor + 2) run = 0;
        if (IsEolAnchor(data, n, i)) {
            ++run;
            lastAnchor = i;
            if (run == 6) return static_cast<long>(i + 1);
        }
    }
    return -1;
}

long EolCount(const uint8_t* data, std::size_t n) {
    long anchors = 0;
    for (std::size_t i = 0; i < n; ++i) anchors += IsEolAnchor(data, n, i) ? 1 : 0;
    return anchors - 6;
}

}  // namespace orvo
