// The measures of one side. Bilevel pages are worked on 64 pixels at a time
// (one machine word holds 64 pixels of a row); a gray page is measured for
// its levels, then cut at the middle level into a bilevel page that the same
// code measures.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "orvo/quality/check.h"
#include "skew.h"

namespace orvo::quality {

namespace {

constexpr double kMmPerInch = 25.4;
// The level that parts black from white on gray pages, 0-255.
constexpr int kMiddleLevel = 128;
// The ends of the page a streak runs through: the first and the last 1 % of
// the rows (at least 3), in at least half of which a streak column is dark.
// A printed border stops short of the page's edges; a sensor's streak does
// not.
constexpr double kEndBand = 0.01;
constexpr int kMinEndRows = 3;
// A streak stands out from the page beside it: the columns 2 and 3 pixels
// beyond either edge of its band are dark over less than half the length
// (on a page dark all over, a printed line is no streak).
constexpr int kFlankNear = 2;
constexpr int kFlankFar = 3;
// A streak is a column or a narrow band (a dirty or dead sensor element and
// its neighbours); a wider dark area is the page's own.
constexpr int kMaxStreakWidth = 16;

uint64_t Word(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;  // leftmost pixel in the most significant bit
}

// A page's rows as 64-bit words, with a margin of white rows and words.
class Words {
  public:
    // `copy`: the page's pixels; otherwise all white, as large as the page.
    Words(const Page& page, int margin, bool copy)
        : margin_(margin), n_(static_cast<int>(page.stride / 8) + 2) {
        rows_ = page.height + 2 * margin;
        data_.assign(static_cast<std::size_t>(rows_) * n_, 0);
        if (!copy) return;
        for (int y = 0; y < page.height; ++y) {
            const uint8_t* in = page.row(y);
            uint64_t* out = at(y);
            for (int j = 0; j + 2 < n_; ++j) out[j + 1] = Word(in + 8 * j);
        }
    }
    // Row y (-margin .. height + margin - 1); word 1 is the row's first.
    uint64_t* at(int y) { return data_.data() + static_cast<std::size_t>(y + margin_) * n_; }
    int words() const { return n_; }

  private:
    int margin_;
    int n_;
    int rows_;
    std::vector<uint64_t> data_;
};

// Pixel x + k into position x (k > 0: from the right, k < 0: from the left),
// across the words of a row.
inline uint64_t Shifted(const uint64_t* row, int j, int k) {
    if (k > 0) return (row[j] << k) | (row[j + 1] >> (64 - k));
    return (row[j] >> -k) | (row[j - 1] << (64 + k));
}

// Specks: black marks that fit in 3 x 2 pixels around their first pixel
// (in reading order) with white 2 to 3 pixels all around, each counted once.
int CountSpecks(const Page& page) {
    const int h = page.height;
    Words bits(page, 4, true);
    const int n = bits.words();
    // Per row: OR of the pixel and its neighbours within 1 (h3), within 3
    // (h7), and at 2 to 3 (h23) along the row.
    Words h3(page, 4, false), h7(page, 4, false), h23(page, 4, false);
    for (int y = 0; y < h; ++y) {
        const uint64_t* b = bits.at(y);
        uint64_t* o3 = h3.at(y);
        uint64_t* o7 = h7.at(y);
        uint64_t* o23 = h23.at(y);
        for (int j = 1; j + 1 < n; ++j) {
            const uint64_t one = Shifted(b, j, 1) | Shifted(b, j, -1);
            const uint64_t two3 =
                Shifted(b, j, 2) | Shifted(b, j, -2) | Shifted(b, j, 3) | Shifted(b, j, -3);
            o3[j] = b[j] | one;
            o23[j] = two3;
            o7[j] = b[j] | one | two3;
        }
    }
    int specks = 0;
    for (int y = 0; y < h; ++y) {
        const uint64_t* b = bits.at(y);
        for (int j = 1; j + 1 < n; ++j) {
            if (b[j] == 0) continue;
            const uint64_t ring = h7.at(y - 3)[j] | h7.at(y - 2)[j] | h7.at(y + 2)[j] |
                                  h7.at(y + 3)[j] | h23.at(y - 1)[j] | h23.at(y)[j] |
                                  h23.at(y + 1)[j];
            const uint64_t first = b[j] & ~Shifted(b, j, -1) & ~h3.at(y - 1)[j];
            specks += std::popcount(first & ~ring);
        }
    }
    return specks;
}

// Black pixels of every column: a byte per column counted in a word per 8
// columns, emptied into the totals before a byte can overflow.
std::vector<uint32_t> ColumnCounts(const Page& page, int firstRow, int endRow) {
    static const std::array<uint64_t, 256> kSpread = [] {
        std::array<uint64_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            uint64_t v = 0;
            for (int k = 0; k < 8; ++k) {
                if (b & (0x80 >> k)) v |= uint64_t{1} << (8 * k);
            }
            t[static_cast<std::size_t>(b)] = v;
        }
        return t;
    }();
    const std::size_t bytes = static_cast<std::size_t>(page.width + 7) / 8;
    std::vector<uint32_t> counts(bytes * 8, 0);
    std::vector<uint64_t> lanes(bytes, 0);
    auto flush = [&] {
        for (std::size_t i = 0; i < bytes; ++i) {
            for (int k = 0; k < 8; ++k) counts[i * 8 + k] += (lanes[i] >> (8 * k)) & 0xFF;
            lanes[i] = 0;
        }
    };
    int pending = 0;
    for (int y = firstRow; y < endRow; ++y) {
        const uint8_t* row = page.row(y);
        for (std::size_t i = 0; i < bytes; ++i) lanes[i] += kSpread[row[i]];
        if (++pending == 255) {
            flush();
            pending = 0;
        }
    }
    flush();
    counts.resize(static_cast<std::size_t>(page.width));
    return counts;
}

// Streaks: columns dark over `cover` of the rows and through both ends of
// the page; adjacent columns make one streak, named by its first column.
std::vector<int> FindStreaks(const Page& page, const std::vector<uint32_t>& counts, double cover,
                             std::vector<bool>* streakColumn) {
    std::vector<int> starts;
    streakColumn->assign(static_cast<std::size_t>(page.width), false);
    const int h = page.height;
    const int band = std::min(h, std::max(kMinEndRows, static_cast<int>(h * kEndBand)));
    const uint32_t need = static_cast<uint32_t>(std::ceil(cover * h));
    std::vector<int> candidates;
    for (int x = 0; x < page.width; ++x) {
        if (counts[static_cast<std::size_t>(x)] >= need && need > 0) candidates.push_back(x);
    }
    if (candidates.empty()) return starts;
    const std::vector<uint32_t> top = ColumnCounts(page, 0, band);
    const std::vector<uint32_t> bottom = ColumnCounts(page, h - band, h);
    std::vector<int> through;
    for (int x : candidates) {
        const auto i = static_cast<std::size_t>(x);
        if (2 * top[i] >= static_cast<uint32_t>(band) &&
            2 * bottom[i] >= static_cast<uint32_t>(band)) {
            through.push_back(x);
        }
    }
    auto light = [&](int x) {
        return x < 0 || x >= page.width ||
               2 * counts[static_cast<std::size_t>(x)] < static_cast<uint32_t>(h);
    };
    // Bands of adjacent columns.
    for (std::size_t a = 0; a < through.size();) {
        std::size_t b = a;
        while (b + 1 < through.size() && through[b + 1] == through[b] + 1) ++b;
        const int first = through[a], last = through[b];
        if (last - first < kMaxStreakWidth && light(first - kFlankNear) &&
            light(first - kFlankFar) && light(last + kFlankNear) && light(last + kFlankFar)) {
            starts.push_back(first);
            for (int x = first; x <= last; ++x) (*streakColumn)[static_cast<std::size_t>(x)] = true;
        }
        a = b + 1;
    }
    return starts;
}

// A gray page cut at the middle level.
Page Binarised(const Page& gray) {
    Page out;
    out.Allocate(gray.width, gray.height, 1);
    out.xDpi = gray.xDpi;
    out.yDpi = gray.yDpi;
    for (int y = 0; y < gray.height; ++y) {
        const uint8_t* in = gray.row(y);
        uint8_t* o = out.row(y);
        const int full = gray.width / 8;
        for (int i = 0; i < full; ++i) {
            const uint8_t* p = in + 8 * i;
            unsigned v = 0;
            for (int k = 0; k < 8; ++k) v = (v << 1) | (p[k] < kMiddleLevel ? 1u : 0u);
            o[i] = static_cast<uint8_t>(v);
        }
        for (int x = full * 8; x < gray.width; ++x) {
            if (in[x] < kMiddleLevel) o[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return out;
}

// Mean level and the contrast: the paper's level (99th percentile) less the
// ink's (0.2th percentile, so that a sparse side still shows its ink), from
// every second pixel of every second row (plenty for a page of a million
// pixels).
void Levels(const Page& gray, Measures* m) {
    std::array<uint32_t, 256> histogram{};
    uint64_t sum = 0, n = 0;
    for (int y = 0; y < gray.height; y += 2) {
        const uint8_t* row = gray.row(y);
        for (int x = 0; x < gray.width; x += 2) {
            ++histogram[row[x]];
            sum += row[x];
            ++n;
        }
    }
    if (n == 0) return;
    m->brightness = static_cast<double>(sum) / static_cast<double>(n);
    auto percentile = [&](double share) {
        const uint64_t want = static_cast<uint64_t>(share * static_cast<double>(n));
        uint64_t seen = 0;
        for (int v = 0; v < 256; ++v) {
            seen += histogram[static_cast<std::size_t>(v)];
            if (seen > want) return v;
        }
        return 255;
    };
    m->contrast = percentile(0.99) - percentile(0.002);
}

}  // namespace

Measures MeasurePage(const Page& page, const Limits& limits) {
    Measures m;
    m.width = page.width;
    m.height = page.height;
    m.bitsPerPixel = page.bitsPerPixel;
    m.xDpi = page.xDpi;
    m.yDpi = page.yDpi;
    m.resolutionAssumed = page.resolutionAssumed;
    m.fileBytes = page.fileBytes;
    m.compressed = page.compressed;
    if (page.xDpi > 0) m.heightMm = page.width / page.xDpi * kMmPerInch;
    if (page.yDpi > 0) m.lengthMm = page.height / page.yDpi * kMmPerInch;
    if (page.width <= 0 || page.height <= 0) return m;

    Page cut;
    const Page* bilevel = &page;
    if (!page.bilevel()) {
        Levels(page, &m);
        cut = Binarised(page);
        bilevel = &cut;
    }
    const std::vector<uint32_t> counts = ColumnCounts(*bilevel, 0, bilevel->height);
    std::vector<bool> streak;
    m.streakColumns = FindStreaks(*bilevel, counts, limits.streakCoverPercent / 100.0, &streak);
    uint64_t black = 0;
    int columns = 0;
    for (int x = 0; x < bilevel->width; ++x) {
        if (streak[static_cast<std::size_t>(x)]) continue;
        black += counts[static_cast<std::size_t>(x)];
        ++columns;
    }
    if (columns > 0) {
        m.blackPercent =
            100.0 * static_cast<double>(black) / (static_cast<double>(columns) * bilevel->height);
    }
    m.specks = CountSpecks(*bilevel);
    if (page.xDpi > 0 && page.yDpi > 0) {
        const double squareInches = (page.width / page.xDpi) * (page.height / page.yDpi);
        m.specksPerSquareInch = m.specks / squareInches;
    }
    const SkewResult skew = FindSkew(*bilevel);
    m.skewFound = skew.found;
    m.skewDegrees = skew.degrees;
    return m;
}

}  // namespace orvo::quality
