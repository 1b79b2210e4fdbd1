// The measures of one side. Bilevel pages are worked on 64 pixels at a time
// (one machine word holds 64 pixels of a row). A gray page is measured for
// its levels, then cut at a level between its paper's and its ink's into a
// bilevel page that the same code measures; its streaks are found on the
// gray levels themselves, darker or lighter than the paper.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "orvo/quality/check.h"
#include "skew.h"

namespace orvo::quality {

namespace {

constexpr double kMmPerInch = 25.4;
// Gray pages with no ink to part from the paper (less contrast than this)
// are cut at the middle level; others between the paper's level and the
// ink's, but at least the paper's grain below the paper.
constexpr int kMiddleLevel = 128;
constexpr int kMinInkContrast = 40;
constexpr int kPaperGrain = 20;
// The scanner's background beside a document narrower than the scan: whole
// columns from a side of the page, dark (gray: below this level) in all but
// 2 % of the rows. A page dark over more than 90 % of its width is dark all
// over, not a small document.
constexpr int kBackgroundLevel = 64;
constexpr double kBackgroundLightShare = 0.02;
constexpr double kMaxBackgroundShare = 0.9;
// Gray streaks: columns whose levels lie this far beyond the paper's usual
// level (the median), darker or lighter.
constexpr int kStreakLevels = 24;
// A streak stands out from the page beside it: the columns 2 and 3 pixels
// beyond either edge of its band are dark over at most 3/4 of what the band
// is (a printed line beside a streak is no reason to miss it; on a page dark
// all over, a line is no streak).
constexpr int kFlankNear = 2;
constexpr int kFlankFar = 3;
constexpr double kFlankShare = 0.75;
// A streak is a column or a narrow band (a dirty or dead sensor element and
// its neighbours); a wider dark area is the page's own.
constexpr int kMaxStreakWidth = 16;
// A band within 1 mm of the document's side is its edge, not a streak.
constexpr double kEdgeMm = 1.0;
// A printed frame's side: a line that, at one of its ends, turns into a line
// along the row of at least 5 mm (the frame's top or bottom).
constexpr double kFrameArmMm = 5.0;
constexpr int kFrameCornerRows = 3;

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

// Which pixels a streak is looked for in: (x, y) of the document.
using DarkAt = bool (*)(const void* context, int x, int y);

// Whether the band [first, last] is a printed frame's side: at an end of its
// longest run (gaps of up to 1 % of the rows bridged; the other end may be
// cut off by the page's end), a line leaves it along the row.
bool FrameSide(int width, int height, int first, int last, int arm, DarkAt dark,
               const void* context) {
    auto bandDark = [&](int y) {
        for (int x = first; x <= last; ++x) {
            if (dark(context, x, y)) return true;
        }
        return false;
    };
    auto armAt = [&](int y) {
        for (int dy = 0; dy < kFrameCornerRows; ++dy) {
            for (const int yy : {y + dy, y - dy}) {
                if (yy < 0 || yy >= height) continue;
                int right = 0, left = 0;
                while (last + 1 + right < width && dark(context, last + 1 + right, yy)) ++right;
                while (first - 1 - left >= 0 && dark(context, first - 1 - left, yy)) ++left;
                if (right >= arm || left >= arm) return true;
            }
        }
        return false;
    };
    const int bridge = std::max(kFrameCornerRows, height / 100);
    int top = -1, bottom = -1, runTop = -1, lastDark = -1;
    for (int y = 0; y < height; ++y) {
        if (!bandDark(y)) continue;
        if (runTop < 0 || y - lastDark > bridge) runTop = y;
        lastDark = y;
        if (top < 0 || lastDark - runTop > bottom - top) {
            top = runTop;
            bottom = lastDark;
        }
    }
    return top >= 0 && (armAt(top) || armAt(bottom));
}

struct StreakSearch {
    int width = 0;   // the document's columns
    int height = 0;  // rows
    double cover = 0;
    int edge = 0;           // columns at either side that are the document's edge
    int arm = 0;            // pixels of a frame's arm
    DarkAt dark = nullptr;  // null: no frame looked for (light streaks)
    const void* context = nullptr;
};

// Streaks: bands of at most kMaxStreakWidth adjacent columns marked over
// `cover` of the rows (gaps anywhere), standing out from the columns beside
// them, away from the document's edges and not a printed frame's side.
void FindStreaks(const StreakSearch& s, const std::vector<uint32_t>& counts,
                 std::vector<int>* starts, std::vector<bool>* streakColumn) {
    const uint32_t need = static_cast<uint32_t>(std::ceil(s.cover * s.height));
    if (need == 0) return;
    auto count = [&](int x) {
        return x < 0 || x >= s.width ? 0u : counts[static_cast<std::size_t>(x)];
    };
    for (int x = 0; x < s.width;) {
        if (count(x) < need) {
            ++x;
            continue;
        }
        const int first = x;
        uint32_t least = count(x);
        while (x + 1 < s.width && count(x + 1) >= need) least = std::min(least, count(++x));
        const int last = x++;
        const double flank = kFlankShare * least;
        const bool standsOut =
            count(first - kFlankNear) <= flank && count(first - kFlankFar) <= flank &&
            count(last + kFlankNear) <= flank && count(last + kFlankFar) <= flank;
        if (last - first >= kMaxStreakWidth || !standsOut || first < s.edge ||
            last >= s.width - s.edge) {
            continue;
        }
        if (s.dark && FrameSide(s.width, s.height, first, last, s.arm, s.dark, s.context)) continue;
        if ((*streakColumn)[static_cast<std::size_t>(first)]) continue;  // found dark already
        starts->push_back(first);
        for (int c = first; c <= last; ++c) (*streakColumn)[static_cast<std::size_t>(c)] = true;
    }
}

bool BilevelDark(const void* context, int x, int y) {
    const Page& page = *static_cast<const Page*>(context);
    return (page.row(y)[x / 8] >> (7 - x % 8)) & 1;
}

struct GrayDarkContext {
    const Page* page;
    int x0;
    int below;
};

bool GrayDark(const void* context, int x, int y) {
    const auto& c = *static_cast<const GrayDarkContext*>(context);
    return c.page->row(y)[c.x0 + x] < c.below;
}

// The document's columns: the background columns at either side of the
// page left out.
struct Document {
    int x0 = 0;
    int x1 = 0;
};

Document FindDocument(const Page& page) {
    const int w = page.width, h = page.height;
    const int maxLight = static_cast<int>(kBackgroundLightShare * h);
    auto background = [&](int x) {
        int light = 0;
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = page.row(y);
            const bool dark =
                page.bilevel() ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x] < kBackgroundLevel;
            if (!dark && ++light > maxLight) return false;
        }
        return true;
    };
    Document d{0, w};
    while (d.x0 < w && background(d.x0)) ++d.x0;
    while (d.x1 > d.x0 && background(d.x1 - 1)) --d.x1;
    if (w - (d.x1 - d.x0) > kMaxBackgroundShare * w) return Document{0, w};
    return d;
}

// Columns [x0, x1) of a bilevel page.
Page Cropped(const Page& page, int x0, int x1) {
    Page out;
    out.Allocate(x1 - x0, page.height, 1);
    out.xDpi = page.xDpi;
    out.yDpi = page.yDpi;
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* in = page.row(y);
        uint8_t* o = out.row(y);
        for (int x = x0; x < x1; ++x) {
            if ((in[x / 8] >> (7 - x % 8)) & 1) {
                o[(x - x0) / 8] |= static_cast<uint8_t>(0x80 >> ((x - x0) % 8));
            }
        }
    }
    return out;
}

struct GrayLevels {
    int paper = 255;  // 99th percentile
    int ink = 0;      // 0.2th percentile
    int usual = 255;  // median
};

// Mean level and the contrast: the paper's level (99th percentile) less the
// ink's (0.2th percentile, so that a sparse side still shows its ink), from
// every second pixel of every second row of the document (plenty for a page
// of a million pixels).
GrayLevels Levels(const Page& gray, const Document& d, Measures* m) {
    std::array<uint32_t, 256> histogram{};
    uint64_t sum = 0, n = 0;
    GrayLevels levels;
    for (int y = 0; y < gray.height; y += 2) {
        const uint8_t* row = gray.row(y);
        for (int x = d.x0; x < d.x1; x += 2) ++histogram[row[x]];
    }
    for (int v = 0; v < 256; ++v) {
        sum += static_cast<uint64_t>(v) * histogram[static_cast<std::size_t>(v)];
        n += histogram[static_cast<std::size_t>(v)];
    }
    if (n == 0) return levels;
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
    levels.paper = percentile(0.99);
    levels.ink = percentile(0.002);
    levels.usual = percentile(0.5);
    m->contrast = levels.paper - levels.ink;
    return levels;
}

// Bit k of a byte moved to bit 7 - k.
constexpr std::array<uint8_t, 256> kReversed = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int k = 0; k < 8; ++k) r |= ((b >> k) & 1) << (7 - k);
        t[static_cast<std::size_t>(b)] = static_cast<uint8_t>(r);
    }
    return t;
}();

// One pass over the document's gray rows: the page cut at `cut` (below is
// black), and per column its black pixels and the pixels darker than
// `below` and lighter than `above`. Per column the counts go into a byte a row, emptied into the
// totals every 255 rows; 16 pixels at a time where the processor has SSE2.
Page CutAndCount(const Page& gray, const Document& d, int cut, int below, int above,
                 std::vector<uint32_t>* blacks, std::vector<uint32_t>* darker,
                 std::vector<uint32_t>* lighter) {
    const int w = d.x1 - d.x0;
    Page out;
    out.Allocate(w, gray.height, 1);
    out.xDpi = gray.xDpi;
    out.yDpi = gray.yDpi;
    blacks->assign(static_cast<std::size_t>(w), 0);
    darker->assign(static_cast<std::size_t>(w), 0);
    lighter->assign(static_cast<std::size_t>(w), 0);
    const std::size_t lanes = (static_cast<std::size_t>(w) + 15) / 16 * 16;
    std::vector<uint8_t> bk(lanes, 0), dk(lanes, 0), lt(lanes, 0);
    // Levels as "at most": a pixel is black at or below cut - 1, darker at
    // or below below - 1, lighter above `above` (none of them when the
    // level is out of 0-255).
    const int blackMost = std::clamp(cut, 0, 256) - 1;
    const int darkMost = std::clamp(below, 0, 256) - 1;
    const int lightLeast = std::clamp(above, -1, 255);
    auto flush = [&] {
        for (int x = 0; x < w; ++x) {
            (*blacks)[static_cast<std::size_t>(x)] += bk[static_cast<std::size_t>(x)];
            (*darker)[static_cast<std::size_t>(x)] += dk[static_cast<std::size_t>(x)];
            (*lighter)[static_cast<std::size_t>(x)] += lt[static_cast<std::size_t>(x)];
        }
        std::fill(bk.begin(), bk.end(), 0);
        std::fill(dk.begin(), dk.end(), 0);
        std::fill(lt.begin(), lt.end(), 0);
    };
    int pending = 0;
    for (int y = 0; y < gray.height; ++y) {
        const uint8_t* in = gray.row(y) + d.x0;
        uint8_t* o = out.row(y);
        int x = 0;
#if defined(__SSE2__)
        const __m128i blackTop = _mm_set1_epi8(static_cast<char>(std::max(blackMost, 0)));
        const __m128i darkTop = _mm_set1_epi8(static_cast<char>(std::max(darkMost, 0)));
        const __m128i lightTop = _mm_set1_epi8(static_cast<char>(std::max(lightLeast, 0)));
        const __m128i none = _mm_setzero_si128();
        for (; x + 16 <= w; x += 16) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
            // p <= t  <=>  min(p, t) == p (unsigned)
            const __m128i black =
                blackMost < 0 ? none : _mm_cmpeq_epi8(_mm_min_epu8(p, blackTop), p);
            const __m128i dark = darkMost < 0 ? none : _mm_cmpeq_epi8(_mm_min_epu8(p, darkTop), p);
            const __m128i notLight =
                lightLeast < 0 ? none : _mm_cmpeq_epi8(_mm_min_epu8(p, lightTop), p);
            auto* bkp = reinterpret_cast<__m128i*>(bk.data() + x);
            _mm_storeu_si128(bkp, _mm_sub_epi8(_mm_loadu_si128(bkp), black));
            auto* dkp = reinterpret_cast<__m128i*>(dk.data() + x);
            auto* ltp = reinterpret_cast<__m128i*>(lt.data() + x);
            _mm_storeu_si128(dkp, _mm_sub_epi8(_mm_loadu_si128(dkp), dark));
            // Lighter: not at or below `above`: each byte adds 1 + (-1 or 0).
            _mm_storeu_si128(
                ltp, _mm_add_epi8(_mm_sub_epi8(_mm_loadu_si128(ltp), _mm_set1_epi8(-1)), notLight));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(black));
            o[x / 8] = kReversed[mask & 0xFF];
            o[x / 8 + 1] = kReversed[mask >> 8];
        }
#endif
        for (; x < w; ++x) {
            const int v = in[x];
            bk[static_cast<std::size_t>(x)] += v <= blackMost;
            dk[static_cast<std::size_t>(x)] += v <= darkMost;
            lt[static_cast<std::size_t>(x)] += v > lightLeast;
            if (v <= blackMost) o[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        if (++pending == 255) {
            flush();
            pending = 0;
        }
    }
    flush();
    return out;
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
    m.pagesInFile = page.pagesInFile;
    m.fileBytes = page.fileBytes;
    m.compressed = page.compressed;
    if (page.width <= 0 || page.height <= 0) return m;

    const Document d = FindDocument(page);
    m.backgroundLeftPixels = d.x0;
    m.backgroundRightPixels = page.width - d.x1;
    m.alongFeedPixels = page.height;
    m.acrossTrackPixels = d.x1 - d.x0;
    if (page.xDpi > 0) m.acrossTrackMm = m.acrossTrackPixels / page.xDpi * kMmPerInch;
    if (page.yDpi > 0) m.alongFeedMm = m.alongFeedPixels / page.yDpi * kMmPerInch;
    const int w = d.x1 - d.x0, h = page.height;

    StreakSearch search;
    search.width = w;
    search.height = h;
    search.cover = limits.streakCoverPercent / 100.0;
    // In pixels, whatever resolution the file names.
    auto pixels = [&](double mm) {
        return static_cast<int>(
            std::clamp(std::ceil(mm / kMmPerInch * page.xDpi), 1.0, static_cast<double>(w) + 1));
    };
    search.edge = pixels(kEdgeMm);
    search.arm = pixels(kFrameArmMm);
    std::vector<bool> streak(static_cast<std::size_t>(w), false);
    std::vector<int> starts;

    Page doc;
    const Page* bilevel = &page;
    std::vector<uint32_t> counts;
    if (!page.bilevel()) {
        const GrayLevels levels = Levels(page, d, &m);
        const int cut =
            m.contrast >= kMinInkContrast
                ? std::min((levels.paper + levels.ink + 1) / 2, levels.paper - kPaperGrain)
                : kMiddleLevel;
        m.cutLevel = cut;
        std::vector<uint32_t> darker, lighter;
        const int below = levels.usual - kStreakLevels, above = levels.usual + kStreakLevels;
        doc = CutAndCount(page, d, cut, below, above, &counts, &darker, &lighter);
        bilevel = &doc;
        const GrayDarkContext context{&page, d.x0, below};
        search.dark = GrayDark;
        search.context = &context;
        FindStreaks(search, darker, &starts, &streak);
        search.dark = nullptr;
        FindStreaks(search, lighter, &starts, &streak);
        std::sort(starts.begin(), starts.end());
    } else {
        if (d.x0 != 0 || d.x1 != page.width) {
            doc = Cropped(page, d.x0, d.x1);
            bilevel = &doc;
        }
        counts = ColumnCounts(*bilevel, 0, h);
        search.dark = BilevelDark;
        search.context = bilevel;
        FindStreaks(search, counts, &starts, &streak);
    }
    for (int x : starts) m.streakColumns.push_back(x + d.x0);

    uint64_t black = 0, ink = 0;
    int inkColumns = 0;
    for (int x = 0; x < w; ++x) {
        const uint32_t c = counts[static_cast<std::size_t>(x)];
        black += c;
        if (streak[static_cast<std::size_t>(x)]) continue;
        ink += c;
        ++inkColumns;
    }
    m.blackPercent = 100.0 * static_cast<double>(black) / (static_cast<double>(w) * h);
    if (inkColumns > 0) {
        m.inkPercent = 100.0 * static_cast<double>(ink) / (static_cast<double>(inkColumns) * h);
    }
    m.specks = CountSpecks(*bilevel);
    if (page.xDpi > 0 && page.yDpi > 0) {
        const double squareInches = (w / page.xDpi) * (h / page.yDpi);
        m.specksPerSquareInch = m.specks / squareInches;
    }
    const SkewResult skew = FindSkew(*bilevel);
    m.skewFound = skew.found;
    m.skewDegrees = skew.degrees;
    return m;
}

}  // namespace orvo::quality
