#include "orvo/widgets/area_shrink.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace orvo::widgets {

namespace {

// For each output index: the first source index and the weights of the source
// pixels it covers, summing to exactly `scale`.
struct Taps {
    std::vector<int> first;
    std::vector<int> offset;  // into weights; offset[i + 1] - offset[i] taps
    std::vector<uint32_t> weights;
};

Taps MakeTaps(int sourceLength, int outLength, uint32_t scale) {
    Taps taps;
    taps.first.resize(static_cast<std::size_t>(outLength));
    taps.offset.resize(static_cast<std::size_t>(outLength) + 1);
    const double step = static_cast<double>(sourceLength) / outLength;
    for (int o = 0; o < outLength; ++o) {
        const double a = o * step;
        const double b = (o + 1) * step;
        const int i0 = static_cast<int>(std::floor(a));
        const int i1 = std::min(sourceLength, static_cast<int>(std::ceil(b)));
        taps.first[static_cast<std::size_t>(o)] = i0;
        taps.offset[static_cast<std::size_t>(o)] = static_cast<int>(taps.weights.size());
        uint32_t sum = 0;
        std::size_t largest = taps.weights.size();
        for (int i = i0; i < i1; ++i) {
            const double cover = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
            const auto w = static_cast<uint32_t>(std::lround(cover / step * scale));
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

}  // namespace

QImage ShrinkGrey(const QImage& source, QSize size) {
    if (source.format() != QImage::Format_Grayscale8 || size.width() < 1 || size.height() < 1 ||
        size.width() > source.width() || size.height() > source.height()) {
        return QImage();
    }
    const int sw = source.width();
    const int sh = source.height();
    const int ow = size.width();
    const int oh = size.height();
    // Horizontal weights in 1/65536, leaving 8 fractional bits in the
    // intermediate rows; vertical weights in 1/4096, so that a sum stays
    // within 32 bits (255 * 256 * 4096 < 2^32).
    constexpr uint32_t kHScale = 1u << 16;
    constexpr uint32_t kVScale = 1u << 12;
    const Taps h = MakeTaps(sw, ow, kHScale);
    const Taps v = MakeTaps(sh, oh, kVScale);

    std::vector<uint16_t> rows(static_cast<std::size_t>(ow) * static_cast<std::size_t>(sh));
    for (int y = 0; y < sh; ++y) {
        const uint8_t* in = source.constScanLine(y);
        uint16_t* out = rows.data() + static_cast<std::size_t>(y) * ow;
        for (int x = 0; x < ow; ++x) {
            const uint32_t* w = h.weights.data() + h.offset[static_cast<std::size_t>(x)];
            const int n =
                h.offset[static_cast<std::size_t>(x) + 1] - h.offset[static_cast<std::size_t>(x)];
            const uint8_t* p = in + h.first[static_cast<std::size_t>(x)];
            uint32_t acc = 0;
            for (int k = 0; k < n; ++k) acc += p[k] * w[k];
            out[x] = static_cast<uint16_t>((acc + 128) >> 8);
        }
    }

    QImage result(ow, oh, QImage::Format_Grayscale8);
    if (result.isNull()) return result;
    std::vector<uint32_t> acc(static_cast<std::size_t>(ow));
    for (int y = 0; y < oh; ++y) {
        std::fill(acc.begin(), acc.end(), 0u);
        const int first = v.first[static_cast<std::size_t>(y)];
        const int n =
            v.offset[static_cast<std::size_t>(y) + 1] - v.offset[static_cast<std::size_t>(y)];
        const uint32_t* w = v.weights.data() + v.offset[static_cast<std::size_t>(y)];
        for (int k = 0; k < n; ++k) {
            const uint16_t* in = rows.data() + static_cast<std::size_t>(first + k) * ow;
            const uint32_t wk = w[k];
            for (int x = 0; x < ow; ++x) acc[static_cast<std::size_t>(x)] += in[x] * wk;
        }
        uint8_t* out = result.scanLine(y);
        constexpr uint32_t kShift = 8 + 12;
        for (int x = 0; x < ow; ++x) {
            out[x] = static_cast<uint8_t>(
                (acc[static_cast<std::size_t>(x)] + (1u << (kShift - 1))) >> kShift);
        }
    }
    return result;
}

}  // namespace orvo::widgets
