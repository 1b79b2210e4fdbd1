// The quality module's parts that the end-to-end checks (orvoscan's
// quality_e2e_test) do not reach: every stored form of a page read back to
// the same pixels, the defects of drawn pages at the edges of their limits,
// the limits file, and which files pair up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>

#include "orvo/quality/check.h"
#include "orvo/quality/limits.h"
#include "orvo/quality/page.h"
#include "orvo/quality/page_pairs.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::quality {
namespace {

constexpr int kW = 37, kH = 5;  // an odd width: rows end inside a byte

// The level of pixel (x, y) in the test pattern: dark on a diagonal band.
int Level(int x, int y) {
    return (x + 3 * y) % 11 < 4 ? 17 : 238;
}

std::vector<uint8_t> StoredRow(int y, int bits, bool zeroIsBlack) {
    std::vector<uint8_t> row((kW * bits + 7) / 8, 0);
    for (int x = 0; x < kW; ++x) {
        int v = bits == 1 ? (Level(x, y) < 128) : Level(x, y) >> (8 - bits);
        if (zeroIsBlack == (bits == 1)) v = (1 << bits) - 1 - v;  // stored the other way round
        row[x * bits / 8] |= static_cast<uint8_t>(v << (8 - bits - x * bits % 8));
    }
    return row;
}

constexpr uint16_t kBitmap = 0xFFFF;

struct Form {
    const char* name;
    int bits;
    uint16_t photometric;  // TIFF; kBitmap: a bitmap
    uint16_t compression;
};

TEST(QualityPageTest, EveryStoredFormReadsBackToThePattern) {
    const testing::TempDir dir("quality-page");
    const Form forms[] = {
        {"g4", 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4},
        {"bilevel-minisblack", 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE},
        {"gray4-packbits", 4, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS},
        {"gray8-lzw", 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW},
        {"bmp1", 1, kBitmap, 0},
        {"bmp8", 8, kBitmap, 0},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.path() + "/" + f.name;
        if (f.photometric != kBitmap) {
            TIFF* t = TIFFOpen(path.c_str(), "w");
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, f.bits);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, f.photometric);
            TIFFSetField(t, TIFFTAG_COMPRESSION, f.compression);
            TIFFSetField(t, TIFFTAG_XRESOLUTION, 80.0);  // per cm: 203.2 dpi
            TIFFSetField(t, TIFFTAG_YRESOLUTION, 80.0);
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
            for (int y = 0; y < kH; ++y) {
                std::vector<uint8_t> row =
                    StoredRow(y, f.bits, f.photometric == PHOTOMETRIC_MINISBLACK);
                ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
            }
            TIFFClose(t);
        } else {
            // Bottom-up rows of 4-byte multiples, a palette with black first.
            const int rowBytes = ((kW * f.bits + 31) / 32) * 4, colours = 1 << f.bits;
            std::string bmp(54 + 4 * colours + rowBytes * kH, '\0');
            auto put = [&](int at, uint32_t v, int n) {
                for (int i = 0; i < n; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
            };
            put(0, 'B' | ('M' << 8), 2);
            put(10, 54 + 4 * colours, 4);
            put(14, 40, 4);
            put(18, kW, 4);
            put(22, kH, 4);
            put(26, 1, 2);
            put(28, f.bits, 2);
            for (int i = 0; i < colours; ++i)
                put(54 + 4 * i, (i * 255 / (colours - 1)) * 0x010101u, 4);
            for (int y = 0; y < kH; ++y) {
                const std::vector<uint8_t> row = StoredRow(y, f.bits, true);
                std::copy(row.begin(), row.end(),
                          bmp.begin() + 54 + 4 * colours + rowBytes * (kH - 1 - y));
            }
            testing::WriteText(path, bmp);
        }
        Page page;
        std::string error;
        ASSERT_TRUE(ReadPageFile(path, &page, &error)) << error;
        ASSERT_EQ(page.width, kW);
        ASSERT_EQ(page.height, kH);
        EXPECT_EQ(page.bitsPerPixel, f.bits);
        EXPECT_EQ(page.resolutionAssumed, f.photometric == kBitmap);
        EXPECT_NEAR(page.xDpi, f.photometric == kBitmap ? kAssumedDpi : 203.2, 0.01);
        EXPECT_EQ(page.compressed, f.compression > COMPRESSION_NONE);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const bool black =
                    page.bilevel() ? (page.row(y)[x / 8] >> (7 - x % 8)) & 1 : page.row(y)[x] < 128;
                EXPECT_EQ(black, Level(x, y) < 128) << x << "," << y;
            }
        }
    }
    // A page far longer than any cheque is read and judged oversize; a second
    // page in the file is counted.
    {
        const std::string path = dir.path() + "/long.tif";
        TIFF* t = TIFFOpen(path.c_str(), "w");
        const std::vector<uint8_t> white(1728 / 8, 0);
        for (const int rows : {30000, 10}) {
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
            for (int y = 0; y < rows; ++y) {
                ASSERT_EQ(TIFFWriteScanline(t, const_cast<uint8_t*>(white.data()), y, 0), 1);
            }
            TIFFWriteDirectory(t);
        }
        TIFFClose(t);
        Page page;
        std::string error;
        ASSERT_TRUE(ReadPageFile(path, &page, &error)) << error;
        EXPECT_EQ(page.pagesInFile, 2);
        const ChequeReport report = CheckCheque(Limits(), &page, nullptr);
        EXPECT_TRUE(report.sides[0].Has(Defect::Oversize));
        EXPECT_EQ(report.sides[0].measures.alongFeedPixels, 30000);
    }
    Page page;
    std::string error;
    ::mkfifo((dir.path() + "/fifo").c_str(), 0600);  // refused at once, never waited on
    EXPECT_FALSE(ReadPageFile(dir.path() + "/fifo", &page, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

// A rectangle [x0, x1) x [y0, y1) at a level (bilevel: black below 128),
// clipped to the page: kEdge reaches the far edge.
constexpr int kEdge = 1 << 20;
struct Band {
    int x0, x1, y0, y1, level;
};

void Paint(Page& page, const Band& b) {
    for (int y = std::max(0, b.y0); y < std::min(page.height, b.y1); ++y) {
        for (int x = std::max(0, b.x0); x < std::min(page.width, b.x1); ++x) {
            if (!page.bilevel()) {
                page.row(y)[x] = static_cast<uint8_t>(b.level);
            } else if (b.level < 128) {
                page.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                page.row(y)[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
            }
        }
    }
}

// A drawn cheque side: 1728 pixels across the track, 728 rows along the
// feed at 200 dpi (219.5 x 92.5 mm), paper and ink at the given levels, a
// printed frame 12 pixels in, and rows of words slanted by `skew` degrees.
struct Drawing {
    int rows = 728;
    int paper = 250;
    int ink = 20;
    double skew = 0;
    bool words = true;
    bool frame = true;
};

constexpr Drawing kBlank{.words = false, .frame = false};

Page Drawn(const Drawing& d, int bits) {
    Page page;
    page.Allocate(1728, d.rows, 8);
    std::fill(page.pixels.begin(), page.pixels.end(), static_cast<uint8_t>(d.paper));
    if (d.frame) {
        Paint(page, {12, 16, 12, 716, d.ink});
        Paint(page, {1712, 1716, 12, 716, d.ink});
        Paint(page, {12, 1716, 12, 16, d.ink});
        Paint(page, {12, 1716, 712, 716, d.ink});
    }
    const double slope = std::tan(d.skew * M_PI / 180.0);
    for (int line = 0; d.words && line < 8; ++line) {
        for (int x = 80; x < 1600; ++x) {
            if ((x / 40) % 4 == 3) continue;  // the gap between words
            const int y = 80 + 70 * line + static_cast<int>(std::lround((x - 800) * slope));
            for (int t = 0; t < 14; ++t) {
                if (t < 3 || t > 10 || x % 9 < 2) Paint(page, {x, x + 1, y + t, y + t + 1, d.ink});
            }
        }
    }
    if (bits == 8) return page;
    Page bilevel;
    bilevel.Allocate(page.width, page.height, 1);
    for (int y = 0; y < page.height; ++y) {
        for (int x = 0; x < page.width; ++x) {
            if (page.row(y)[x] < 128)
                bilevel.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return bilevel;
}

using Names = std::set<std::string>;

Names NamesOf(const SideReport& side) {
    Names names;
    for (Defect d : side.defects) names.insert(DefectName(d));
    return names;
}

// Each defect at the severity that must be named, each near-miss that must
// not, and each page whose defect must be called by what is wrong with the
// cheque.
TEST(QualityCheckTest, DrawnSidesAreNamedByWhatIsWrong) {
    // The drawn sides are 728 rows long.
    const struct {
        const char* what;
        int bits;
        Drawing drawing;
        std::vector<Band> paint;
        Names defects;
    } cases[] = {
        {"clean gray", 8, {}, {}, {}},
        {"clean bilevel", 1, {}, {}, {}},
        {"light gray ink at 5 degrees", 8, {.ink = 125, .skew = 5}, {}, {"skew"}},
        {"light gray ink, straight", 8, {.ink = 125}, {}, {}},
        {"gray streak at 160, all along", 8, {}, {{700, 702, 0, kEdge, 160}}, {"streaks"}},
        {"white streak", 8, {.paper = 226, .ink = 30}, {{900, 901, 0, kEdge, 255}}, {"streaks"}},
        {"streak over 90 %", 1, {}, {{500, 502, 0, 655, 0}}, {"streaks"}},
        {"streak, gap", 1, {}, {{500, 502, 0, 300, 0}, {500, 502, 330, kEdge, 0}}, {"streaks"}},
        {"streak 12 px in", 1, {.frame = false}, {{1715, 1716, 0, kEdge, 0}}, {"streaks"}},
        {"by a line", 1, {}, {{1650, 1652, 0, kEdge, 0}, {1655, 1658, 100, 550, 0}}, {"streaks"}},
        {"streak over 80 %", 1, {}, {{500, 502, 0, 582, 0}}, {}},
        {"a line at the document's border", 1, {.frame = false}, {{2, 4, 0, kEdge, 0}}, {}},
        {"black beside a cut-down cheque", 8, {}, {{1100, kEdge, 0, kEdge, 8}}, {"undersize"}},
        {"29.5 % black, bilevel", 1, {}, {{0, kEdge, 200, 414, 0}}, {"too-dark"}},
        {"all black, gray", 8, {}, {{0, kEdge, 0, kEdge, 3}}, {"too-dark"}},
        {"gray mean 190", 8, {.paper = 190, .ink = 10}, {}, {"too-dark"}},
        {"gray mean 213", 8, {.paper = 228, .ink = 10}, {}, {}},
        {"signature alone", 1, kBlank, {{1000, 1400, 500, 520, 0}}, {"too-light"}},
        {"two cheques overlapping: 120 mm", 1, {.rows = 945}, {}, {"oversize"}},
        {"104 mm", 1, {.rows = 819}, {}, {}},
        {"torn: 60 mm", 1, {.rows = 472}, {}, {"undersize"}},
    };
    const Limits limits;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Page page = Drawn(c.drawing, c.bits);
        for (const Band& b : c.paint) Paint(page, b);
        const ChequeReport report = CheckCheque(limits, &page, nullptr);
        EXPECT_EQ(NamesOf(report.sides[0]), c.defects)
            << "skew " << report.sides[0].measures.skewDegrees << ", ink "
            << report.sides[0].measures.inkPercent << "%, brightness "
            << report.sides[0].measures.brightness << ", streaks "
            << report.sides[0].measures.streakColumns.size();
    }

    // The measures, each on its own axis: a page black only in a 16-column
    // band counts that band as black.
    Page band = Drawn(kBlank, 1);
    Paint(band, {800, 816, 0, kEdge, 0});
    const Measures m = CheckCheque(limits, &band, nullptr).sides[0].measures;
    EXPECT_NEAR(m.blackPercent, 100.0 * 16 / 1728, 1e-9);
    EXPECT_EQ(m.inkPercent, 0.0);
    EXPECT_EQ(m.streakColumns, std::vector<int>{800});
    EXPECT_EQ(m.alongFeedPixels, 728);
    EXPECT_NEAR(m.alongFeedMm, 92.456, 1e-9);
    EXPECT_EQ(m.acrossTrackPixels, 1728);
    EXPECT_NEAR(m.acrossTrackMm, 219.456, 1e-9);

    // A front 219 mm across with a rear 152 mm across; lengths along the feed
    // not judged when the scan has a fixed length.
    Page front = Drawn({}, 8), rear = Drawn({.rows = 800}, 8);
    Paint(rear, {1200, kEdge, 0, kEdge, 0});
    const ChequeReport pair = CheckCheque(limits, &front, &rear);
    EXPECT_EQ(NamesOf(pair.sides[0]), (Names{"length-mismatch", "width-mismatch"}));
    EXPECT_EQ(NamesOf(pair.sides[1]), (Names{"length-mismatch", "width-mismatch"}));
    EXPECT_NEAR(pair.sides[1].measures.acrossTrackMm, 152.4, 1e-9);
    Page longer = Drawn({.rows = 1000}, 8);
    const ChequeReport fixed = CheckCheque(limits, &front, &longer, ScanLength::Fixed);
    EXPECT_EQ(NamesOf(fixed.sides[1]), Names{});
    EXPECT_FALSE(fixed.sides[1].sizeJudged);
}

TEST(QualityLimitsTest, AFileSetsWhatItNamesAndNamesWhatItCannotUse) {
    const testing::TempDir dir("quality-limits");
    const std::string path = dir.path() + "/quality.ini";
    const char site[] =
        "; a site\n[Skew]\nmaxdegrees = 3.5\n[streaks]\nMaxStreaks=1.5\n"
        "[blank]\nMaxContrast=-2\n[spot-noise]\nMaxSpecks=9\n"
        "[too-dark]\nMaxBlackPercent=12\0abc\nMinBrightness=200\n"
        "[compressed-size]\nBilevelMinBytes=1000000000000000\n"
        "GrayMaxBytes=3000000000\n[width-mismatch]\nMaxDifferenceMm=7\n";
    testing::WriteText(path, std::string(site, sizeof site - 1));
    Limits limits;
    std::vector<std::string> problems;
    ReadLimitsFile(path, &limits, &problems);
    EXPECT_EQ(limits.maxSkewDegrees, 3.5);
    EXPECT_EQ(limits.maxStreaks, 0);
    EXPECT_EQ(limits.blankContrast, 40.0);
    EXPECT_EQ(limits.maxBlackPercent, 15.0);
    EXPECT_EQ(limits.minBrightness, 200.0);  // read on past the NUL byte's line
    EXPECT_EQ(limits.maxGrayBytes, 3000000000);
    EXPECT_EQ(limits.minBilevelBytes, 800);
    EXPECT_EQ(limits.maxWidthDifferenceMm, 7.0);
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    EXPECT_EQ(problems.size(), 5u) << all;
    for (const char* problem :
         {"[streaks] MaxStreaks: \"1.5\" is not a whole number",
          "[blank] MaxContrast: \"-2\" is below 0", "[spot-noise] MaxSpecks: no such limit",
          "line 11 holds a NUL byte (not text); the line is left out",
          "[compressed-size] BilevelMinBytes: \"1000000000000000\" is above 1000000000000"}) {
        EXPECT_NE(all.find(problem), std::string::npos) << all;
    }
    // A count beyond any a side could have is refused, not wrapped.
    testing::WriteText(path, "[streaks]\nMaxStreaks=3000000000\n");
    problems.clear();
    ReadLimitsFile(path, &limits, &problems);
    EXPECT_EQ(limits.maxStreaks, 0);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("\"3000000000\" is above 100000"), std::string::npos) << problems[0];

    // The limits written out read back as they were; a missing file is none.
    testing::WriteText(path, LimitsFileText(limits));
    Limits again;
    problems.clear();
    ReadLimitsFile(path, &again, &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(again.maxSkewDegrees, 3.5);
    ReadLimitsFile(dir.path() + "/none.ini", &again, &problems);
    EXPECT_TRUE(problems.empty());
}

// compressed-size: a coded file outside its form's byte limits (a torn or
// blank page codes to very little, a noisy one to very much); an uncoded
// file's size says nothing and is never judged.
TEST(QualityLimitsTest, CompressedSizeByFormAndCoding) {
    const Limits limits;
    const struct {
        int bits;
        bool compressed;
        int64_t bytes;
        bool flagged;
    } cases[] = {
        {1, true, 799, true},       {1, true, 800, false},   {1, true, 60000, false},
        {1, true, 60001, true},     {8, true, 5999, true},   {8, true, 600001, true},
        {8, true, 801, true},       {8, true, 74000, false}, {1, false, 1, false},
        {8, false, 3000000, false},
    };
    for (const auto& c : cases) {
        Measures m;
        m.bitsPerPixel = c.bits;
        m.compressed = c.compressed;
        m.fileBytes = c.bytes;
        const std::vector<Defect> defects = SideDefects(limits, m);
        const bool flagged =
            std::find(defects.begin(), defects.end(), Defect::CompressedSize) != defects.end();
        EXPECT_EQ(flagged, c.flagged) << c.bits << " bits, " << c.bytes << " bytes";
    }
}

TEST(QualityPairsTest, NamedFrontsAndRearsPairUp) {
    EXPECT_EQ(SideOfPageFile("/d/A000001F.tif").partner, "/d/A000001R.tif");
    EXPECT_FALSE(SideOfPageFile("/d/A1234567R.bmp").front);
    EXPECT_TRUE(SideOfPageFile("/d/A1234567R.bmp").named);
    for (const char* other : {"/d/A00001F.tif", "/d/A000001X.tif", "/d/A000001F", "/x.y/000001F"}) {
        EXPECT_FALSE(SideOfPageFile(other).named) << other;
    }
}

}  // namespace
}  // namespace orvo::quality
