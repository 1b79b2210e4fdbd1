// What the decoder's sources share: the classes of code table entries, the
// cap on runs, and the page loops over the line decoders (the fast ones in
// the driver, the bit-by-bit ones in the test-only reference library).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "orvo/image/decode.h"

namespace orvo {

namespace decode_detail {

constexpr uint8_t kClassMask = 0xC0;
constexpr uint8_t kClassEol = 0x40;
constexpr uint8_t kClassTerminating = 0x80;
constexpr uint8_t kClassMakeUp = 0xC0;

// Runs and positions beyond the line are only counted up to here, so that
// endless make-up chains in damaged data cannot overflow.
constexpr long kRunCap = 1L << 24;

}  // namespace decode_detail

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
        bool got = false;
        if constexpr (Fast) {
            got = DecodeMhLine(target, kMhRowBytes);
        } else {
            got = DecodeMhLineReference(target, kMhRowBytes);
        }
        if (got) {
            ++decoded;
            ++row;
        }
        if (Exhausted()) break;
    }
}

template <Decoder::Gray G, bool Fast>
void Decoder::GrayPage(const uint8_t* data, std::size_t length, long lines, uint8_t* dst,
                       std::size_t dstSize) {
    if (dst == nullptr) return;
    Start(data, length);
    long decoded = 1;
    for (std::size_t row = 1; decoded < lines && (row + 1) * kGrayRowBytes <= dstSize; ++row) {
        uint8_t* target = dst + row * kGrayRowBytes;
        bool got = false;
        if constexpr (G == Gray::k8 && Fast) {
            got = DecodeGray8Line(target, kGrayRowBytes);
        } else if constexpr (G == Gray::k8) {
            got = DecodeGray8LineReference(target, kGrayRowBytes);
        } else if constexpr (Fast) {
            got = DecodeGray4Line(target, kGrayRowBytes);
        } else {
            got = DecodeGray4LineReference(target, kGrayRowBytes);
        }
        if (got) ++decoded;
        if (Exhausted()) break;
    }
}

}  // namespace orvo
