// The exact area averaging of the display's shrinking (block_reduce.cpp),
// shared with the test-only plain passes (orvo_widgets_reference).
#pragma once

#include <QImage>
#include <QSize>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace orvo::widgets::detail {

// Weights of the fractional pass: rows in 1/256 (so that a weighted sum of
// bytes stays within 16 bits and the row pass runs on 16-bit lanes), columns
// in 1/4096. A column sum is then the input value times 2^20.
constexpr uint32_t kRowScale = 1u << 8;
constexpr uint32_t kColumnScale = 1u << 12;
constexpr int kSumShift = 20;

// For each output index: the first source index and the weights of the source
// pixels it covers, summing to exactly `scale`.
struct Taps {
    std::vector<int> first;
    std::vector<int> offset;  // into weights; offset[i + 1] - offset[i] taps
    std::vector<uint32_t> weights;
    int most = 0;  // the largest number of taps of one output
};

inline Taps MakeTaps(int sourceLength, int outLength, uint32_t scale) {
    Taps taps;
    taps.first.resize(static_cast<std::size_t>(outLength));
    taps.offset.resize(static_cast<std::size_t>(outLength) + 1);
    const double step = static_cast<double>(sourceLength) / outLength;
    for (int o = 0; o < outLength; ++o) {
        const double a = o * step;
        const double b = (o + 1) * step;
        const int i0 = std::min(sourceLength - 1, static_cast<int>(std::floor(a)));
        const int i1 = std::max(i0 + 1, std::min(sourceLength, static_cast<int>(std::ceil(b))));
        taps.first[static_cast<std::size_t>(o)] = i0;
        taps.offset[static_cast<std::size_t>(o)] = static_cast<int>(taps.weights.size());
        taps.most = std::max(taps.most, i1 - i0);
        uint32_t sum = 0;
        std::size_t largest = taps.weights.size();
        for (int i = i0; i < i1; ++i) {
            const double cover = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
            const auto w = static_cast<uint32_t>(std::lround(std::max(0.0, cover) / step * scale));
            if (largest == taps.weights.size() || w > taps.weights[largest]) {
                largest = taps.weights.size();
            }
            taps.weights.push_back(w);
            sum += w;
        }
        // Rounding may leave the sum a little off: the largest tap takes it.
        taps.weights[largest] += scale - sum;
    }
    taps.offset[static_cast<std::size_t>(outLength)] = static_cast<int>(taps.weights.size());
    return taps;
}

// A column sum as a grey RGB32 pixel: the sum is a grey level times 2^20, or
// for black counts of blocks of area 2^kAreaShift the weighted count times
// 2^20, whose grey level is (A - count) x 255 / A.
template <int kAreaShift>
inline uint32_t Rgb(uint32_t sum) {
    uint64_t scaled = sum;
    if constexpr (kAreaShift > 0) {
        scaled = (((uint64_t{1} << (kAreaShift + kSumShift)) - sum) * 255u) >> kAreaShift;
    }
    const auto grey = static_cast<uint32_t>((scaled + (1u << (kSumShift - 1))) >> kSumShift);
    return 0xFF000000u | (grey * 0x010101u);
}

// Exact area averaging of a plane of bytes (grey levels, or black counts of
// blocks of 2^kAreaShift pixels) to an RGB32 image of `size`: rows first on
// 16-bit lanes, then columns.
template <int kAreaShift>
QImage AreaAverage(const QImage& plane, QSize size) {
    const int ow = size.width();
    const int oh = size.height();
    QImage result(ow, oh, QImage::Format_RGB32);
    if (result.isNull()) return result;
    const int iw = plane.width();
    const Taps v = MakeTaps(plane.height(), oh, kRowScale);
    const Taps h = MakeTaps(iw, ow, kColumnScale);
    // Up to three taps per column (less than 2:1) take a fixed, branch-free
    // form.
    const bool fixed = h.most <= 3;
    std::vector<uint32_t> h3;
    if (fixed) {
        h3.assign(static_cast<std::size_t>(ow) * 3, 0u);
        for (int x = 0; x < ow; ++x) {
            const int hb = h.offset[static_cast<std::size_t>(x)];
            const int hn = h.offset[static_cast<std::size_t>(x) + 1] - hb;
            for (int k = 0; k < hn; ++k) {
                h3[static_cast<std::size_t>(x) * 3 + k] =
                    h.weights[static_cast<std::size_t>(hb + k)];
            }
        }
    }
    // A row of weighted sums (value times 256: 255 x 256 fits 16 bits), with
    // room for the fixed form to read past the last column.
    std::vector<uint16_t> mid(static_cast<std::size_t>(iw) + 3, 0);
    for (int y = 0; y < oh; ++y) {
        std::fill(mid.begin(), mid.end(), 0);
        const int first = v.first[static_cast<std::size_t>(y)];
        const int begin = v.offset[static_cast<std::size_t>(y)];
        const int n = v.offset[static_cast<std::size_t>(y) + 1] - begin;
        uint16_t* m = mid.data();
        for (int k = 0; k < n; ++k) {
            const uint8_t* src = plane.constScanLine(first + k);
            const auto w = static_cast<uint16_t>(v.weights[static_cast<std::size_t>(begin + k)]);
            for (int x = 0; x < iw; ++x) m[x] = static_cast<uint16_t>(m[x] + src[x] * w);
        }
        auto* line = reinterpret_cast<uint32_t*>(result.scanLine(y));
        if (fixed) {
            const uint32_t* w = h3.data();
            const int* firsts = h.first.data();
            for (int x = 0; x < ow; ++x, w += 3) {
                const uint16_t* p = m + firsts[x];
                line[x] = Rgb<kAreaShift>(p[0] * w[0] + p[1] * w[1] + p[2] * w[2]);
            }
            continue;
        }
        for (int x = 0; x < ow; ++x) {
            const int hb = h.offset[static_cast<std::size_t>(x)];
            const int hn = h.offset[static_cast<std::size_t>(x) + 1] - hb;
            const uint16_t* p = m + h.first[static_cast<std::size_t>(x)];
            const uint32_t* w = h.weights.data() + hb;
            uint32_t sum = 0;
            for (int k = 0; k < hn; ++k) sum += p[k] * w[k];
            line[x] = Rgb<kAreaShift>(sum);
        }
    }
    return result;
}

// The page (bilevel or Grayscale8; other formats are scaled by Qt) shrunk to
// `size`, the black counts of bilevel blocks of 4, 16 and 64 pixels taken to
// the screen by `counts2`, `counts4` and `counts6` (block_reduce.cpp).
using CountPass = QImage (*)(const QImage& counts, QSize size);
QImage Shrink(const QImage& page, QSize size, CountPass counts2, CountPass counts4,
              CountPass counts6);

}  // namespace orvo::widgets::detail
