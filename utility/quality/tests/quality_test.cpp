// The quality module's parts that the end-to-end checks (orvoscan's
// quality_e2e_test) do not reach: every stored form of a page read back to
// the same pixels, the limits file, and which files pair up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <fstream>

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
    Page page;
    std::string error;
    ::mkfifo((dir.path() + "/fifo").c_str(), 0600);  // refused at once, never waited on
    EXPECT_FALSE(ReadPageFile(dir.path() + "/fifo", &page, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

TEST(QualityLimitsTest, AFileSetsWhatItNamesAndNamesWhatItCannotUse) {
    const testing::TempDir dir("quality-limits");
    const std::string path = dir.path() + "/quality.ini";
    testing::WriteText(path,
                       "; a site\n[Skew]\nmaxdegrees = 3.5\n[streaks]\nMaxStreaks=1.5\n"
                       "[blank]\nMaxContrast=-2\n[spot-noise]\nMaxSpecks=9\n");
    Limits limits;
    std::vector<std::string> problems;
    ReadLimitsFile(path, &limits, &problems);
    EXPECT_EQ(limits.maxSkewDegrees, 3.5);
    EXPECT_EQ(limits.maxStreaks, Limits().maxStreaks);
    EXPECT_EQ(limits.blankContrast, Limits().blankContrast);
    ASSERT_EQ(problems.size(), 3u);
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    for (const char* problem :
         {"[streaks] MaxStreaks: \"1.5\" is not a whole number",
          "[blank] MaxContrast: \"-2\" is below 0", "[spot-noise] MaxSpecks: no such limit"}) {
        EXPECT_NE(all.find(problem), std::string::npos) << all;
    }

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
        {1, true, limits.minBilevelBytes - 1, true}, {1, true, limits.minBilevelBytes, false},
        {1, true, limits.maxBilevelBytes, false},    {1, true, limits.maxBilevelBytes + 1, true},
        {8, true, limits.minGrayBytes - 1, true},    {8, true, limits.maxGrayBytes + 1, true},
        {8, true, limits.minBilevelBytes + 1, true}, {1, false, 1, false},
        {8, false, limits.maxGrayBytes * 2, false},
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
