#include "orvo/widgets/block_reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "area_average.h"

namespace orvo::widgets {

namespace {

using namespace detail;

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
            // Byte-wise addition of packed counts: no count passes 16, so no
            // carry crosses into its neighbour. White (0) adds nothing: words
            // of eight white bytes are passed over.
            auto add = [&](int i) {
                if (k == 8) {
                    c[i] = static_cast<uint8_t>(c[i] + __builtin_popcount(row[i]));
                    return;
                }
                uint32_t packed;
                std::memcpy(&packed, c + i * groupsPerByte, sizeof packed);
                packed += lut[row[i]];
                std::memcpy(c + i * groupsPerByte, &packed, sizeof packed);
            };
            int i = 0;
            for (; i + 8 <= bytes; i += 8) {
                uint64_t word;
                std::memcpy(&word, row + i, sizeof word);
                if (word == 0) continue;
                for (int b = i; b < i + 8; ++b) add(b);
            }
            for (; i < bytes; ++i) add(i);
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

// Where one source index (a column or a row of counts) goes in the fractional
// pass: at most two neighbouring outputs with their weights, as the taps of
// those outputs give it (an output covers at least one source index, so no
// index reaches three). `first` is -1 for an index no output takes; `second`
// is `first` (with weight 0) where there is no second.
struct Feed {
    int first = -1;
    int second = -1;
    uint32_t w0 = 0;
    uint32_t w1 = 0;
};

// The taps turned around, per source index; false if an index would feed
// more than two outputs or two outputs not side by side.
bool InvertTaps(const Taps& taps, int sourceLength, std::vector<Feed>& feeds) {
    feeds.assign(static_cast<std::size_t>(sourceLength), Feed{});
    const int outputs = static_cast<int>(taps.first.size());
    for (int o = 0; o < outputs; ++o) {
        const int begin = taps.offset[static_cast<std::size_t>(o)];
        const int end = taps.offset[static_cast<std::size_t>(o) + 1];
        for (int k = begin; k < end; ++k) {
            const int i = taps.first[static_cast<std::size_t>(o)] + (k - begin);
            if (i < 0 || i >= sourceLength) return false;
            Feed& f = feeds[static_cast<std::size_t>(i)];
            const uint32_t w = taps.weights[static_cast<std::size_t>(k)];
            if (f.first < 0) {
                f.first = o;
                f.second = o;
                f.w0 = w;
            } else if (f.second == f.first && o == f.first + 1) {
                f.second = o;
                f.w1 = w;
            } else {
                return false;
            }
        }
    }
    return true;
}

// A sum as a grey RGB32 pixel, as Rgb, in 32 bits (no overflow up to blocks
// of 16 pixels: (2^24 - sum) x 255 < 2^32), so that a row converts a vector
// at a time.
template <int kAreaShift>
inline uint32_t Rgb32(uint32_t sum) {
    static_assert(kAreaShift > 0 && kAreaShift <= 4);
    const uint32_t scaled = (((1u << (kAreaShift + kSumShift)) - sum) * 255u) >> kAreaShift;
    const uint32_t grey = (scaled + (1u << (kSumShift - 1))) >> kSumShift;
    return 0xFF000000u | (grey * 0x010101u);
}

// The same sums as AreaAverage, term for term, for black counts (kAreaShift
// above 0), where a count of 0 is white and adds nothing. A page of text is
// mostly white, so the sums are gathered the other way round: every count
// that is not 0 adds its share to the (at most 2 x 2) screen pixels it falls
// in, and whole words of white counts are passed over. Rows of counts feed
// screen rows in order, so two rows of sums suffice: a screen row is made
// into grey pixels as soon as no later row of counts can feed it, and a row
// nothing was added to is written white at once.
template <int kAreaShift, bool kGrey = false>
QImage AreaAverageCounts(const QImage& plane, QSize size) {
    static_assert(kAreaShift > 0);
    const int ow = size.width();
    const int oh = size.height();
    const int iw = plane.width();
    const int ih = plane.height();
    const Taps v = MakeTaps(ih, oh, kRowScale);
    const Taps h = MakeTaps(iw, ow, kColumnScale);
    std::vector<Feed> columns;
    std::vector<Feed> rows;
    bool inOrder = InvertTaps(h, iw, columns) && InvertTaps(v, ih, rows);
    for (int j = 1; inOrder && j < ih; ++j) {
        inOrder =
            rows[static_cast<std::size_t>(j)].first >= rows[static_cast<std::size_t>(j) - 1].first;
    }
    if (!inOrder) return AreaAverage<kAreaShift>(plane, size);
    QImage result(ow, oh, kGrey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (result.isNull()) return result;

    const uint32_t white = Rgb<kAreaShift>(0);
    std::vector<uint32_t> sums(2 * static_cast<std::size_t>(ow), 0u);
    bool added[2] = {false, false};
    int next = 0;  // the first screen row not yet written
    auto finish = [&](int y) {
        uint32_t* acc = sums.data() + static_cast<std::size_t>(y % 2) * ow;
        uchar* bytes = result.scanLine(y);
        if constexpr (kGrey) {
            // The grey level is the low byte of the RGB32 pixel.
            if (!added[y % 2]) {
                std::fill(bytes, bytes + ow, static_cast<uchar>(white));
                return;
            }
            for (int x = 0; x < ow; ++x) {
                if constexpr (kAreaShift <= 4) {
                    bytes[x] = static_cast<uchar>(Rgb32<kAreaShift>(acc[x]));
                } else {
                    bytes[x] = static_cast<uchar>(Rgb<kAreaShift>(acc[x]));
                }
            }
        } else {
            auto* line = reinterpret_cast<uint32_t*>(bytes);
            if (!added[y % 2]) {
                std::fill(line, line + ow, white);
                return;
            }
            for (int x = 0; x < ow; ++x) {
                if constexpr (kAreaShift <= 4) {
                    line[x] = Rgb32<kAreaShift>(acc[x]);
                } else {
                    line[x] = Rgb<kAreaShift>(acc[x]);
                }
            }
        }
        std::fill(acc, acc + ow, 0u);
        added[y % 2] = false;
    };
    for (int j = 0; j < ih; ++j) {
        const Feed& fy = rows[static_cast<std::size_t>(j)];
        if (fy.first < 0) continue;
        while (next < fy.first) finish(next++);
        uint32_t* s0 = sums.data() + static_cast<std::size_t>(fy.first % 2) * ow;
        uint32_t* s1 = sums.data() + static_cast<std::size_t>(fy.second % 2) * ow;
        const uint32_t v0 = fy.w0;
        const uint32_t v1 = fy.w1;
        const uint8_t* src = plane.constScanLine(j);
        bool any = false;
        auto add = [&](int i) {
            const uint32_t c = src[i];
            const Feed& fx = columns[static_cast<std::size_t>(i)];
            if (c == 0 || fx.first < 0) return;
            const uint32_t a = c * fx.w0;
            const uint32_t b = c * fx.w1;
            s0[fx.first] += a * v0;
            s0[fx.second] += b * v0;
            s1[fx.first] += a * v1;
            s1[fx.second] += b * v1;
            any = true;
        };
        int i = 0;
        for (; i + 8 <= iw; i += 8) {
            uint64_t word;
            std::memcpy(&word, src + i, sizeof word);
            if (word == 0) continue;
            for (int k = 0; k < 8; ++k) add(i + k);
        }
        for (; i < iw; ++i) add(i);
        if (any) {
            added[fy.first % 2] = true;
            added[fy.second % 2] = true;
        }
    }
    while (next < oh) finish(next++);
    return result;
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

namespace detail {

QImage Shrink(const QImage& page, QSize size, CountPass counts2, CountPass counts4,
              CountPass counts6) {
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
                return counts2(blocks, size);
            case 16:
                return counts4(blocks, size);
            default:
                return counts6(blocks, size);
        }
    }
    return AreaAverage<0>(blocks, size);
}

}  // namespace detail

QImage ShrinkForDisplay(const QImage& page, QSize size) {
    return detail::Shrink(page, size, AreaAverageCounts<2>, AreaAverageCounts<4>,
                          AreaAverageCounts<6>);
}

QImage ShrinkForPainting(const QImage& page, QSize size) {
    return detail::Shrink(page, size, AreaAverageCounts<2, true>, AreaAverageCounts<4, true>,
                          AreaAverageCounts<6, true>);
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
