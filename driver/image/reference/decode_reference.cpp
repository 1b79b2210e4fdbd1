// The bit-by-bit decoders the fast ones are held to (Decoder::*Reference):
// test-only (orvo_image_reference), for the tests, the fuzz targets that
// compare the two and the benchmarks; the driver never calls them.
#include <algorithm>
#include <cstring>

#include "decoder_detail.h"
#include "orvo/image/decode.h"

namespace orvo {

using namespace decode_detail;

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

template <Decoder::Gray G>
std::size_t Decoder::GrayPixelsReference() {
    std::size_t n = 0;
    uint8_t p = 0;
    while (n < kGrayValueCount) {
        const int v = G == Gray::k8 ? Gray8Step() : Gray4Step();
        if (v < 0) break;
        p = static_cast<uint8_t>(p - v);
        values_[n++] = p;
    }
    return n;
}

bool Decoder::DecodeGray8LineReference(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    const std::size_t n = GrayPixelsReference<Gray::k8>();
    StoreGray8(n, row, rowSize);
    return n > 0;
}

bool Decoder::DecodeGray4LineReference(uint8_t* row, std::size_t rowSize) {
    if (!SkipToEol()) return false;
    const std::size_t n = GrayPixelsReference<Gray::k4>();
    StoreGray4(n, row, rowSize);
    return n > 0;
}

void Decoder::DecodeMhPageReference(const uint8_t* data, std::size_t length, long lines,
                                    uint8_t* work, std::size_t workSize, uint8_t* dst,
                                    std::size_t dstSize) {
    MhPage<false>(data, length, lines, work, workSize, dst, dstSize);
}

void Decoder::DecodeGray8PageReference(const uint8_t* data, std::size_t length, long lines,
                                       uint8_t* dst, std::size_t dstSize) {
    GrayPage<Gray::k8, false>(data, length, lines, dst, dstSize);
}

void Decoder::DecodeGray4PageReference(const uint8_t* data, std::size_t length, long lines,
                                       uint8_t* dst, std::size_t dstSize) {
    GrayPage<Gray::k4, false>(data, length, lines, dst, dstSize);
}

}  // namespace orvo
