#include "orvo/widgets/block_reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvo::widgets {

namespace {

// Whole k x k blocks of a grey image averaged.
QImage AverageGreyBlocks(const QImage& grey, int k) {
    const int w = grey.width();
    const int h = grey.height();
    const int bw = (w + k - 1) / k;
    const int bh = (h + k - 1) / k;
    QImage result(bw, bh, QImage::Format_Grayscale8);
    if (result.isNull()) return result;
    std::vector<uint16_t> cols(static_cast<std::size_t>(w));
    // Rounded means of whole blocks by table (no division per pixel).
    const uint32_t whole = static_cast<uint32_t>(k * k);
    std::vector<uint8_t> mean;
    if (k <= 16) {
        mean.resize(255 * whole + 1);
        for (uint32_t sum = 0; sum < mean.size(); ++sum) {
            mean[sum] = static_cast<uint8_t>((sum + whole / 2) / whole);
        }
    }
    for (int by = 0; by < bh; ++by) {
        const int y0 = by * k;
        const int rows = std::min(k, h - y0);
        std::fill(cols.begin(), cols.end(), 0);
        uint16_t* c = cols.data();
        for (int r = 0; r < rows; ++r) {
            const uint8_t* src = grey.constScanLine(y0 + r);
            for (int x = 0; x < w; ++x) c[x] = static_cast<uint16_t>(c[x] + src[x]);
        }
        uint8_t* out = result.scanLine(by);
        for (int bx = 0; bx < bw; ++bx) {
            const int x0 = bx * k;
            const int n = std::min(k, w - x0);
            uint32_t sum = 0;
            for (int i = 0; i < n; ++i) sum += c[x0 + i];
            const uint32_t count = static_cast<uint32_t>(n * rows);
            out[bx] = count == whole && !mean.empty()
                          ? mean[sum]
                          : static_cast<uint8_t>((sum + count / 2) / count);
        }
    }
    return result;
}

// Counts of set bits per group of K bits of a byte (K = 2 or 4), each count
// in a byte of its own, first group in the lowest byte.
template <int K>
std::array<uint32_t, 256> GroupCounts() {
    std::array<uint32_t, 256> lut{};
    for (int b = 0; b < 256; ++b) {
        uint32_t packed = 0;
        for (int g = 0; g < 8 / K; ++g) {
            int count = 0;
            for (int i = 0; i < K; ++i) count += (b >> (7 - (g * K + i))) & 1;
            packed |= static_cast<uint32_t>(count) << (8 * g);
        }
        lut[static_cast<std::size_t>(b)] = packed;
    }
    return lut;
}

// Black counts of k x k blocks (k = 2, 4 or 8) of a bilevel page, straight
// from its packed bits, as an Indexed8 image whose colour table gives each
// count its grey level. A block cut by an edge has its count scaled to a
// whole block.
QImage CountBilevelBlocks(const QImage& page, int k) {
    const int w = page.width();
    const int h = page.height();
    const int bw = (w + k - 1) / k;
    const int bh = (h + k - 1) / k;
    const int area = k * k;
    QImage result(bw, bh, QImage::Format_Indexed8);
    if (result.isNull()) return result;
    QList<QRgb> table;
    for (int black = 0; black <= area; ++black) {
        const int grey = ((area - black) * 255 + area / 2) / area;
        table << qRgb(grey, grey, grey);
    }
    result.setColorTable(table);

    static const std::array<uint32_t, 256> kPairs = GroupCounts<2>();
    static const std::array<uint32_t, 256> kQuads = GroupCounts<4>();
    const std::array<uint32_t, 256>& lut = k == 2 ? kPairs : kQuads;
    const int bytes = (w + 7) / 8;
    const int groupsPerByte = 8 / k;
    // Room for the four-byte additions past the last group.
    std::vector<uint8_t> counts(static_cast<std::size_t>(bytes) * groupsPerByte + 4);
    std::vector<uint8_t> last(static_cast<std::size_t>(bytes));
    const int tailBits = w % 8;
    const int lastCols = w - (bw - 1) * k;
    for (int by = 0; by < bh; ++by) {
        std::fill(counts.begin(), counts.end(), 0);
        uint8_t* c = counts.data();
        const int y0 = by * k;
        const int rows = std::min(k, h - y0);
        for (int r = 0; r < rows; ++r) {
            const uint8_t* row = page.constScanLine(y0 + r);
            if (tailBits != 0) {
                // Bits past the page's width are not counted.
                std::memcpy(last.data(), row, static_cast<std::size_t>(bytes));
                last[static_cast<std::size_t>(bytes) - 1] &=
                    static_cast<uint8_t>(0xFF << (8 - tailBits));
                row = last.data();
            }
            if (k == 8) {
                for (int i = 0; i < bytes; ++i) {
                    c[i] = static_cast<uint8_t>(c[i] + __builtin_popcount(row[i]));
                }
            } else {
                // Byte-wise addition of packed counts: no count passes 16,
                // so no carry crosses into its neighbour.
                for (int i = 0; i < bytes; ++i) {
                    uint32_t packed;
                    std::memcpy(&packed, c + i * groupsPerByte, sizeof packed);
                    packed += lut[row[i]];
                    std::memcpy(c + i * groupsPerByte, &packed, sizeof packed);
                }
            }
        }
        if (rows != k || lastCols != k) {
            for (int bx = 0; bx < bw; ++bx) {
                const int have = rows * (bx == bw - 1 ? lastCols : k);
                if (have != area) c[bx] = static_cast<uint8_t>((c[bx] * area + have / 2) / have);
            }
        }
        std::memcpy(result.scanLine(by), c, static_cast<std::size_t>(bw));
    }
    return result;
}

// The grey levels of an Indexed8 count image (for a further grey pass).
QImage CountsToGrey(const QImage& counts) {
    QImage grey(counts.size(), QImage::Format_Grayscale8);
    if (grey.isNull()) return grey;
    const QList<QRgb> table = counts.colorTable();
    std::array<uint8_t, 256> level{};
    for (int i = 0; i < table.size() && i < 256; ++i)
        level[static_cast<std::size_t>(i)] = qRed(table[i]);
    for (int y = 0; y < counts.height(); ++y) {
        const uint8_t* in = counts.constScanLine(y);
        uint8_t* out = grey.scanLine(y);
        for (int x = 0; x < counts.width(); ++x) out[x] = level[in[x]];
    }
    return grey;
}

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

Taps MakeTaps(int sourceLength, int outLength, uint32_t scale) {
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

// The same sums as AreaAverage, term for term, for black counts (kAreaShift
// above 0), where a count of 0 is white and adds nothing: a page of text is
// mostly white, so rows of counts without black are left out of the row pass,
// screen rows over white only are written white at once, and so is every run
// of kChunk screen pixels whose columns of row sums are all 0.
template <int kAreaShift>
QImage AreaAverageCounts(const QImage& plane, QSize size) {
    static_assert(kAreaShift > 0);
    constexpr int kChunk = 8;
    const int ow = size.width();
    const int oh = size.height();
    QImage result(ow, oh, QImage::Format_RGB32);
    if (result.isNull()) return result;
    const int iw = plane.width();
    const int ih = plane.height();
    const Taps v = MakeTaps(ih, oh, kRowScale);
    const Taps h = MakeTaps(iw, ow, kColumnScale);
    const uint32_t white = Rgb<kAreaShift>(0);

    // The rows of counts that hold any black.
    std::vector<uint8_t> inked(static_cast<std::size_t>(ih));
    for (int y = 0; y < ih; ++y) {
        const uint8_t* row = plane.constScanLine(y);
        uint8_t any = 0;
        for (int x = 0; x < iw; ++x) any |= row[x];
        inked[static_cast<std::size_t>(y)] = any != 0;
    }
    // The span of row sums each run of kChunk screen pixels reads.
    const int chunks = (ow + kChunk - 1) / kChunk;
    std::vector<int> spanFirst(static_cast<std::size_t>(chunks));
    std::vector<int> spanLength(static_cast<std::size_t>(chunks));
    for (int c = 0; c < chunks; ++c) {
        const auto x0 = static_cast<std::size_t>(c) * kChunk;
        const std::size_t x1 = std::min(static_cast<std::size_t>(ow), x0 + kChunk) - 1;
        const int end = h.first[x1] + (h.offset[x1 + 1] - h.offset[x1]);
        spanFirst[static_cast<std::size_t>(c)] = h.first[x0];
        spanLength[static_cast<std::size_t>(c)] = end - h.first[x0];
    }
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
    std::vector<uint16_t> mid(static_cast<std::size_t>(iw) + 3, 0);
    for (int y = 0; y < oh; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(result.scanLine(y));
        const int first = v.first[static_cast<std::size_t>(y)];
        const int begin = v.offset[static_cast<std::size_t>(y)];
        const int n = v.offset[static_cast<std::size_t>(y) + 1] - begin;
        bool any = false;
        for (int k = 0; k < n; ++k) any = any || inked[static_cast<std::size_t>(first + k)] != 0;
        if (!any) {
            std::fill(line, line + ow, white);
            continue;
        }
        std::fill(mid.begin(), mid.end(), 0);
        uint16_t* m = mid.data();
        for (int k = 0; k < n; ++k) {
            if (inked[static_cast<std::size_t>(first + k)] == 0) continue;
            const uint8_t* src = plane.constScanLine(first + k);
            const auto w = static_cast<uint16_t>(v.weights[static_cast<std::size_t>(begin + k)]);
            for (int x = 0; x < iw; ++x) m[x] = static_cast<uint16_t>(m[x] + src[x] * w);
        }
        for (int c = 0; c < chunks; ++c) {
            const int x0 = c * kChunk;
            const int x1 = std::min(ow, x0 + kChunk);
            const uint16_t* span = m + spanFirst[static_cast<std::size_t>(c)];
            const int length = spanLength[static_cast<std::size_t>(c)];
            uint32_t ink = 0;
            for (int i = 0; i < length; ++i) ink |= span[i];
            if (ink == 0) {
                std::fill(line + x0, line + x1, white);
                continue;
            }
            if (fixed) {
                const uint32_t* w = h3.data() + static_cast<std::size_t>(x0) * 3;
                for (int x = x0; x < x1; ++x, w += 3) {
                    const uint16_t* p = m + h.first[static_cast<std::size_t>(x)];
                    line[x] = Rgb<kAreaShift>(p[0] * w[0] + p[1] * w[1] + p[2] * w[2]);
                }
                continue;
            }
            for (int x = x0; x < x1; ++x) {
                const int hb = h.offset[static_cast<std::size_t>(x)];
                const int hn = h.offset[static_cast<std::size_t>(x) + 1] - hb;
                const uint16_t* p = m + h.first[static_cast<std::size_t>(x)];
                const uint32_t* w = h.weights.data() + hb;
                uint32_t sum = 0;
                for (int k = 0; k < hn; ++k) sum += p[k] * w[k];
                line[x] = Rgb<kAreaShift>(sum);
            }
        }
    }
    return result;
}

// The page shrunk to `size`; `plain` takes every count through both passes
// of AreaAverage.
QImage Shrink(const QImage& page, QSize size, bool plain) {
    if (page.isNull() || size.width() < 1 || size.height() < 1 || size.width() > page.width() ||
        size.height() > page.height()) {
        return QImage();
    }
    if (page.format() != QImage::Format_Mono && page.format() != QImage::Format_Grayscale8) {
        return page.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    }
    const QImage blocks = ReduceByBlocks(page, size);
    if (blocks.isNull()) return blocks;
    // Indexed8 holds black counts of blocks of 4, 16 or 64 pixels: its
    // colour table has a level per count.
    if (blocks.format() == QImage::Format_Indexed8) {
        switch (blocks.colorCount() - 1) {
            case 4:
                return plain ? AreaAverage<2>(blocks, size) : AreaAverageCounts<2>(blocks, size);
            case 16:
                return plain ? AreaAverage<4>(blocks, size) : AreaAverageCounts<4>(blocks, size);
            default:
                return plain ? AreaAverage<6>(blocks, size) : AreaAverageCounts<6>(blocks, size);
        }
    }
    return AreaAverage<0>(blocks, size);
}

}  // namespace

int BlockFactor(QSize page, QSize size) {
    if (size.width() < 1 || size.height() < 1) return 1;
    return std::max(1, std::min(page.width() / size.width(), page.height() / size.height()));
}

QImage ReduceByBlocks(const QImage& page, QSize size) {
    if (page.isNull() || size.width() < 1 || size.height() < 1) return QImage();
    const int factor = BlockFactor(page.size(), size);
    switch (page.format()) {
        case QImage::Format_Mono: {
            if (factor < 2) return ExpandBilevel(page);
            const int k = factor >= 8 ? 8 : factor >= 4 ? 4 : 2;
            QImage counts = CountBilevelBlocks(page, k);
            if (counts.isNull() || factor / k < 2) return counts;
            // Far smaller still: grey blocks over the counted ones.
            return AverageGreyBlocks(CountsToGrey(counts), factor / k);
        }
        case QImage::Format_Grayscale8:
            return factor < 2 ? page : AverageGreyBlocks(page, factor);
        default:
            if (factor < 2) return page;
            return page.scaled((page.width() + factor - 1) / factor,
                               (page.height() + factor - 1) / factor, Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
    }
}

QImage ShrinkForDisplay(const QImage& page, QSize size) {
    return Shrink(page, size, false);
}

QImage ShrinkForDisplayPlain(const QImage& page, QSize size) {
    return Shrink(page, size, true);
}

QImage ExpandBilevel(const QImage& source) {
    if (source.format() != QImage::Format_Mono) return QImage();
    static const std::array<std::array<uint8_t, 8>, 256> kLevels = [] {
        std::array<std::array<uint8_t, 8>, 256> lut{};
        for (int b = 0; b < 256; ++b) {
            for (int i = 0; i < 8; ++i) lut[b][i] = ((b >> (7 - i)) & 1) ? 0 : 255;
        }
        return lut;
    }();
    const int w = source.width();
    QImage grey(w, source.height(), QImage::Format_Grayscale8);
    if (grey.isNull()) return grey;
    for (int y = 0; y < source.height(); ++y) {
        const uint8_t* in = source.constScanLine(y);
        uint8_t* out = grey.scanLine(y);
        const int whole = w / 8;
        for (int i = 0; i < whole; ++i) std::memcpy(out + 8 * i, kLevels[in[i]].data(), 8);
        if (w % 8 != 0) std::memcpy(out + 8 * whole, kLevels[in[whole]].data(), w % 8);
    }
    return grey;
}

QImage MakeBilevel(int width, int height) {
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull()) return image;
    image.setColorCount(2);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    return image;
}

}  // namespace orvo::widgets
