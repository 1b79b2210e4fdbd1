// Page retrieval to image files and to the in-memory page, from page files
// built by hand: a 64-byte side header and coded or plain image data.
#include "orvo/image/retrieval.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "orvo/core/trace.h"
#include "orvo/image/code_tables.h"
#include "orvo/image/decode.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"
#include "test_bits.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using test::Bits;

std::vector<uint8_t> Header(uint32_t actualImageSize = 0, const std::string& micr = "\r") {
    std::vector<uint8_t> h(kPageHeaderSize, 0);
    h[0] = h[1] = 0x55;
    h[2] = 1;
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<uint8_t>(actualImageSize >> (24 - 8 * i));
    for (std::size_t i = 0; i < micr.size() && 17 + i < kPageHeaderSize; ++i) h[17 + i] = micr[i];
    return h;
}

// A bitmap file read back: width, height and its rows top row first.
struct Dib {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::size_t stride = 0;
    std::vector<std::vector<uint8_t>> rows;
};

using testing::Le32;
using testing::ReadBytes;
using testing::WriteBytes;

Dib ReadDib(const std::string& path) {
    Dib d;
    const auto b = ReadBytes(path);
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return d;
    d.width = static_cast<int>(Le32(b, 18));
    d.height = static_cast<int>(Le32(b, 22));
    d.bits = b[28];
    d.stride = (static_cast<std::size_t>(d.bits) * d.width + 31) / 32 * 4;
    const std::size_t off = Le32(b, 10);
    for (int r = d.height - 1; r >= 0; --r) {
        const std::size_t at = off + static_cast<std::size_t>(r) * d.stride;
        if (at + d.stride > b.size()) return Dib{};
        d.rows.emplace_back(b.begin() + at, b.begin() + at + d.stride);
    }
    return d;
}

bool Bit(const std::vector<uint8_t>& row, std::size_t x) {
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

// Coded bilevel page: one line per entry of runs (white first), then RTC.
std::vector<uint8_t> MhPage(const std::vector<std::vector<int>>& lines) {
    Bits b;
    for (const auto& runs : lines) b.MhLine(runs);
    b.Rtc().Pad();
    return b.bytes();
}

// Coded 8-bit or 4-bit gray page: one line of values per entry, then RTC.
std::vector<uint8_t> GrayPage(const std::vector<std::vector<int>>& lines, bool fourBit) {
    Bits b;
    for (const auto& pixels : lines) {
        b.Eol();
        int last = 0;
        for (int p : pixels) {
            // p[k] = p[k-1] - v[k]: the difference coded is last - p.
            const int diff = last - p;
            if (fourBit) {
                b.Gray4(diff);
            } else {
                b.Gray8(diff);
            }
            last = p;
        }
    }
    b.Rtc().Pad();
    return b.bytes();
}

class Retrieval : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        temp_.emplace("orvo_retrieval");
        dir_ = temp_->dir();
        WriteBytes(dir_ + "huffmanw.dat", codes::BuildMhTable(false));
        WriteBytes(dir_ + "huffmanb.dat", codes::BuildMhTable(true));
        WriteBytes(dir_ + "huffmang.dat", codes::BuildGrayTable());
        ASSERT_EQ(LoadCodeTables(dir_), 0);
        setenv("ORVOSCAN_TRACE_DIR", dir_.c_str(), 1);
    }
    static void TearDownTestSuite() { temp_.reset(); }

    void SetUp() override {
        image_.assign(1 << 20, 0);
        decode_.assign(kGrayRowBytes * 64 + kMhRowBytes * 4100, 0);
        work_.assign(10'240'000, 0);
        row_.assign(5120, 0);
        std::remove(TracePath(TraceFile::GetOne).c_str());
        c_.settings = Settings{};
        c_.settings.ScanWidth = 1728;
        c_.settings.ImageFileFormat = 1;
        c_.tempScanMode = 0;
        c_.pageNumber = 7;
        Refresh();
    }

    void Refresh() {
        c_.pageFile = dir_ + "_tmp0000.dat";
        c_.imageBuf = {image_.data(), image_.size()};
        c_.decodeBuf = {decode_.data(), decode_.size()};
        c_.workImage = {work_.data(), work_.size()};
        c_.rowBuffer = {row_.data(), row_.size()};
    }

    void Page(const std::vector<uint8_t>& data, uint32_t actual = 0,
              const std::string& micr = "\r") {
        auto bytes = Header(actual, micr);
        bytes.insert(bytes.end(), data.begin(), data.end());
        WriteBytes(c_.pageFile, bytes);
    }

    std::string Out(const std::string& name = "out.img") {
        const std::string p = dir_ + name;
        std::remove(p.c_str());
        return p;
    }

    int ToFile(const std::string& out) { return RetrievePageToFile(c_, out); }

    std::vector<std::string> TraceTexts() {
        std::vector<std::string> texts;
        std::ifstream f(TracePath(TraceFile::GetOne));
        std::string line;
        while (std::getline(f, line)) {
            // "%3d:\t%65s\t[%7d]": the text ends before its time stamp.
            const auto tab = line.find('\t');
            std::string text = line.substr(tab + 1, 65);
            text = text.substr(text.find_first_not_of(' '));
            text = text.substr(0, text.size() - 13);
            const auto open = line.find('[');
            texts.push_back(text + "=" + std::to_string(std::stoi(line.substr(open + 1))));
        }
        return texts;
    }

    static std::optional<testing::TempDir> temp_;
    static std::string dir_;
    PageContext c_;
    std::vector<uint8_t> image_, decode_, work_, row_;
};

std::optional<testing::TempDir> Retrieval::temp_;
std::string Retrieval::dir_;

std::string MicrText() {
    const char* p = MicrDataBufPtr();
    return p == nullptr ? std::string("<null>") : std::string(p);
}

TEST_F(Retrieval, MicrTextTakesUpTo42CharactersAndEndsInCrLf) {
    c_.settings.MicrDetect = 1;
    const std::vector<uint8_t> data(324, 0);
    struct Case {
        std::string field;
        std::string text;
        int size;
    };
    const std::vector<Case> cases = {
        {"\r", "\r\n", 0},
        {"A\r", "\r\n", 0},
        {"1234567\r", "123456\r\n", 6},
        {std::string(46, '9') + "\r", std::string(41, '9') + "\r\n", 41},
    };
    for (const Case& k : cases) {
        Page(data, 0, k.field);
        ToFile(Out());
        EXPECT_EQ(MicrText(), k.text) << k.field;
        EXPECT_EQ(MicrDataSize(), k.size) << k.field;
        // The rest of the 50-byte area is cleared.
        const char* area = MicrDataBufPtr();
        for (std::size_t i = k.text.size(); i < kMicrAreaSize; ++i) EXPECT_EQ(area[i], 0);
    }

    // With MicrDetect off the previous text stays.
    c_.settings.MicrDetect = 0;
    Page(data, 0, "555\r");
    ToFile(Out());
    EXPECT_EQ(MicrText(), std::string(41, '9') + "\r\n");

    // A header cut short has no MICR field: empty text.
    c_.settings.MicrDetect = 1;
    WriteBytes(c_.pageFile, std::vector<uint8_t>(30, '7'));
    EXPECT_EQ(ToFile(Out()), 0);
    EXPECT_EQ(MicrText(), "\r\n");
    EXPECT_EQ(MicrDataSize(), 0);
}

TEST_F(Retrieval, CompressedBilevelPageHasEolCountMinusOneRows) {
    std::vector<std::vector<int>> lines(100, std::vector<int>{100, 20});
    Page(MhPage(lines));  // 100 lines + RTC: 106 anchors
    const std::string out = Out("p.bmp");
    EXPECT_EQ(ToFile(out), 99);
    const Dib d = ReadDib(out);
    EXPECT_EQ(d.height, 99);
    EXPECT_EQ(d.width, 1728);
    for (const auto& row : d.rows) {
        EXPECT_FALSE(Bit(row, 99));
        EXPECT_TRUE(Bit(row, 100));
        EXPECT_TRUE(Bit(row, 119));
        EXPECT_FALSE(Bit(row, 120));
    }
    const auto t = TraceTexts();
    const std::vector<std::string> want = {"OrvoScan_IsPageLoaded=0", "fp != NULL=0",
                                           "ActualImageSize=0", "TempScanMode=0",
                                           "COMPRESSMODE_COMPRESS : hgt = =100"};
    EXPECT_EQ(t, want);
}

TEST_F(Retrieval, MoreThan4005AnchorsGiveFourThousandRows) {
    std::vector<std::vector<int>> lines(4010, std::vector<int>{3, 2});
    Page(MhPage(lines));
    EXPECT_EQ(ToFile(Out("big.bmp")), 3999);
    EXPECT_EQ(ReadDib(dir_ + "big.bmp").height, 3999);
}

TEST_F(Retrieval, BilevelRowsTakeTheirFirstPixelFromTheSecondAndRowZeroIsWhite) {
    // Row 0 of the decoded rows is set to 0xFF before the rows are written.
    Page(MhPage({{1, 5}, {0, 1, 2, 4}, {2, 4}}));
    const std::string out = Out("first.bmp");
    EXPECT_EQ(ToFile(out), 2);
    const Dib d = ReadDib(out);
    ASSERT_EQ(d.rows.size(), 2u);
    EXPECT_TRUE(Bit(d.rows[0], 0));   // white, then black: the first pixel turns black
    EXPECT_FALSE(Bit(d.rows[1], 0));  // black, then white: it turns white
    EXPECT_TRUE(Bit(d.rows[1], 3));
    for (std::size_t i = 0; i < 216; ++i) EXPECT_EQ(decode_[i], 0xFF) << i;

    // Uncompressed rows: the page data themselves, H = 2 x (ActualImageSize / w).
    c_.settings.CompressMode = 1;
    std::vector<uint8_t> data(216 * 6, 0);
    data[216 * 1] = 0x40;  // row 1: second pixel black
    data[216 * 2] = 0x80;  // row 2: first pixel black only
    Page(data, 216 * 3);
    EXPECT_EQ(ToFile(out), 5);
    const Dib u = ReadDib(out);
    ASSERT_EQ(u.rows.size(), 5u);
    EXPECT_EQ(u.rows[0][0], 0xC0);
    EXPECT_EQ(u.rows[1][0], 0x00);
}

TEST_F(Retrieval, RawOutputIsExactlyThePageData) {
    c_.settings.ImageFileFormat = 2;
    std::vector<uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    Page(data, 12345);
    for (int mode : {0, 3, 4}) {
        c_.tempScanMode = mode;
        for (int resolution : {0, 1}) {
            c_.settings.Resolution = resolution;
            const std::string out = Out("raw.dat");
            EXPECT_EQ(ToFile(out), -1);
            EXPECT_EQ(ReadBytes(out), data) << mode << " " << resolution;
        }
    }
}

TEST_F(Retrieval, TraceOfAGrayPageAndTheEndOfTheRows) {
    c_.tempScanMode = 4;
    c_.settings.ImageFileFormat = 0;
    c_.settings.ScanWidth = 8;
    std::vector<std::vector<int>> lines(5, std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70});
    Page(GrayPage(lines, false), 999);
    EXPECT_EQ(ToFile(Out("g.tif")), 4);
    const std::vector<std::string> want = {"OrvoScan_IsPageLoaded=0", "fp != NULL=0",
                                           "ActualImageSize=999",     "TempScanMode=4",
                                           "bit_per_pixel=8",         "Save2TiffGray=0"};
    EXPECT_EQ(TraceTexts(), want);
    EXPECT_GT(ReadBytes(dir_ + "g.tif").size(), 8u);
}

TEST_F(Retrieval, GrayPagesDecodeWithTheirOwnBitsPerPixel) {
    c_.settings.ScanWidth = 6;
    const std::vector<int> row = {15, 0, 7, 8, 1, 14};
    for (int mode : {3, 4}) {
        c_.tempScanMode = mode;
        Page(GrayPage({row, row, row}, mode == 3));
        const std::string out = Out("gray.bmp");
        EXPECT_EQ(ToFile(out), 2);
        const Dib d = ReadDib(out);
        ASSERT_EQ(d.rows.size(), 2u);
        if (mode == 3) {
            EXPECT_EQ(d.bits, 4);
            EXPECT_EQ(d.rows[1][0], 0xF0);
            EXPECT_EQ(d.rows[1][1], 0x78);
            EXPECT_EQ(d.rows[1][2], 0x1E);
        } else {
            EXPECT_EQ(d.bits, 8);
            for (std::size_t i = 0; i < row.size(); ++i) EXPECT_EQ(d.rows[1][i], row[i]);
        }
    }
}

TEST_F(Retrieval, PagesWithoutRowsWriteNoFile) {
    // Coded gray data without an RTC: no lines.
    c_.tempScanMode = 4;
    Page(std::vector<uint8_t>(500, 0xA5));
    std::string out = Out("none.bmp");
    EXPECT_EQ(ToFile(out), -1);
    EXPECT_FALSE(fs::exists(out));
    // A single coded line decodes nothing: H = 1, no image rows.
    c_.tempScanMode = 0;
    Page(MhPage({{5, 5}}));
    EXPECT_EQ(ToFile(out), 0);
    EXPECT_FALSE(fs::exists(out));
    // A header alone: no image data, height 0.
    Page({});
    EXPECT_EQ(ToFile(out), 0);
    // A missing page file counts as taken with height 0.
    std::remove(c_.pageFile.c_str());
    EXPECT_EQ(ToFile(out), 0);
    EXPECT_FALSE(fs::exists(out));
    // Unknown scan mode: nothing.
    c_.tempScanMode = 9;
    Page(MhPage({{5, 5}, {5, 5}, {5, 5}}));
    EXPECT_EQ(ToFile(out), -1);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Retrieval, WriterFailureLeavesATraceLineAndNoFile) {
    c_.settings.ImageFileFormat = 0;
    Page(MhPage({{5, 5}, {5, 5}, {5, 5}}));
    const std::string out = dir_ + "no/such/dir/p.tif";
    EXPECT_EQ(ToFile(out), 2);
    EXPECT_FALSE(fs::exists(out));
    const auto t = TraceTexts();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], "Save2Tiff=0");
    EXPECT_EQ(t.back(), "Save2Tiff failed=0");
}

TEST(Widening, ThreeValuesPerPairWithTruncatedFactors) {
    const uint8_t white[3] = {255, 255, 255};
    uint8_t out[3];
    WidenPair(white, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 254);
    EXPECT_EQ(out[2], 254);
    const uint8_t ramp[3] = {0, 30, 90};
    WidenPair(ramp, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 19);  // 0 x 0.33333 + 30 x 0.66666
    EXPECT_EQ(out[2], 49);  // 90 x 0.33333 + 30 x 0.66666
}

TEST(Widening, DitherMatrixIsTheShiftedBayerMatrixWith174) {
    const int bayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                             {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                             {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                             {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const int want = r == 2 && c == 1 ? 174 : 32 + 3 * bayer[r][c];
            EXPECT_EQ(DitherThreshold(r + 8, c + 16), want) << r << "," << c;
        }
    }
}

TEST_F(Retrieval, ResolutionOneWidensTo2592AndPacksByScanMode) {
    c_.settings.Resolution = 1;
    c_.settings.CompressMode = 1;
    c_.settings.BWSlice[0] = 128;
    std::vector<uint8_t> data(1728 * 4);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = (i % 1728) < 864 ? 10 : 200;
    Page(data, 1728 * 2);  // H = 4

    c_.tempScanMode = 0;
    std::string out = Out("r1.bmp");
    EXPECT_EQ(ToFile(out), 3);
    Dib d = ReadDib(out);
    EXPECT_EQ(d.width, 2592);
    EXPECT_EQ(d.stride, 324u);
    EXPECT_EQ(d.rows.size(), 3u);
    // Packed rows of 324 bytes follow each other in the work buffer.
    EXPECT_EQ(work_[324 * 2], 0xFF);        // left half dark: black
    EXPECT_EQ(work_[324 * 2 + 323], 0x00);  // right half light: white
    EXPECT_EQ(work_[324 * 2 + 161], 0xFF);  // value 1295 still dark
    EXPECT_EQ(work_[324 * 2 + 162], 0x00);

    c_.tempScanMode = 3;
    out = Out("r3.bmp");
    EXPECT_EQ(ToFile(out), 3);
    d = ReadDib(out);
    EXPECT_EQ(d.bits, 4);
    EXPECT_EQ(d.width, 2592);
    EXPECT_EQ(d.stride, 1296u);
    EXPECT_EQ(work_[1296 * 3], 0x00);         // 10 >> 4 twice
    EXPECT_EQ(work_[1296 * 3 + 1294], 0xCC);  // 199 and 200 >> 4
    // The last pair repeats the row's last value: 200, 199, 199.
    EXPECT_EQ(work_[1296 * 3 + 1295], 0xCC);

    c_.tempScanMode = 4;
    out = Out("r4.bmp");
    EXPECT_EQ(ToFile(out), 3);
    d = ReadDib(out);
    ASSERT_EQ(d.rows.size(), 3u);
    EXPECT_EQ(d.bits, 8);
    EXPECT_EQ(d.rows[0][0], 10);
    EXPECT_EQ(d.rows[0][1], 9);  // 10 x 0.99999
    EXPECT_EQ(d.rows[0][2590], 199);
    EXPECT_EQ(d.rows[0][2591], 199);  // not mixed with the next row's first value
}

TEST_F(Retrieval, ResolutionOneDitherTouchesEveryValueOnceAndForcesNoColumn) {
    c_.settings.Resolution = 1;
    c_.settings.CompressMode = 1;
    c_.settings.ScanWidth = 1720;  // W15 = 2580, not a multiple of 8
    c_.tempScanMode = 1;
    // Light enough for every threshold: nothing may come out black.
    std::fill(image_.begin(), image_.end(), 230);
    Page(std::vector<uint8_t>(1720 * 8, 230), 1720 * 4);
    EXPECT_EQ(ToFile(Out("d.bmp")), 7);
    for (std::size_t i = 0; i < 323 * 8; ++i) ASSERT_EQ(work_[i], 0) << i;

    // Value 100 widens to 100, 99, 99: black where the threshold is higher.
    std::fill(image_.begin(), image_.end(), 100);
    Page(std::vector<uint8_t>(1720 * 8, 100), 1720 * 4);
    EXPECT_EQ(ToFile(Out("d.bmp")), 7);
    for (std::size_t r = 0; r < 8; ++r) {
        for (std::size_t col = 0; col < 2584; ++col) {
            const std::vector<uint8_t> row(work_.begin() + r * 323, work_.begin() + r * 323 + 323);
            const int value = col % 3 == 0 ? 100 : 99;
            const bool want = col < 2580 && value < DitherThreshold(r, col);
            ASSERT_EQ(Bit(row, col), want) << r << "," << col;
        }
    }
}

TEST_F(Retrieval, ResolutionOneCodedPagesUseTheEightBitDecoderInEveryMode) {
    c_.settings.Resolution = 1;
    c_.settings.ScanWidth = 8;
    std::vector<std::vector<int>> lines(4, std::vector<int>{200, 200, 200, 200, 0, 0, 0, 0});
    Page(GrayPage(lines, false));
    c_.tempScanMode = 3;
    const std::string out = Out("c3.bmp");
    EXPECT_EQ(ToFile(out), 3);
    const Dib d = ReadDib(out);
    ASSERT_EQ(d.rows.size(), 3u);
    EXPECT_EQ(d.width, 12);
    // 200, 199, 199, 200, 199, 133 (0 x 0.33333 + 200 x 0.66666), then 0s.
    EXPECT_EQ(d.rows[0][0], 0xCC);
    EXPECT_EQ(d.rows[0][1], 0xCC);
    EXPECT_EQ(d.rows[0][2], 0xC8);
    EXPECT_EQ(d.rows[0][3], 0x00);
}

TEST_F(Retrieval, ResolutionOneLastColumnRepeatsTheRowsLastValue) {
    // A white coded page: the byte after each decoded row is 0, and must not
    // darken the rightmost column (169, black below a slice of 200).
    c_.settings.Resolution = 1;
    c_.settings.BWSlice[0] = 200;
    Page(GrayPage(std::vector<std::vector<int>>(5, std::vector<int>(1728, 255)), false));
    c_.tempScanMode = 0;
    std::string out = Out("white0.bmp");
    ASSERT_EQ(ToFile(out), 4);
    Dib d = ReadDib(out);
    ASSERT_EQ(d.rows.size(), 4u);
    for (const auto& row : d.rows) {
        for (std::size_t x = 0; x < 2592; ++x) ASSERT_FALSE(Bit(row, x)) << x;
    }
    c_.tempScanMode = 4;
    out = Out("white4.bmp");
    ASSERT_EQ(ToFile(out), 4);
    d = ReadDib(out);
    ASSERT_EQ(d.rows.size(), 4u);
    for (const auto& row : d.rows) {
        EXPECT_EQ(row[2589], 255);
        EXPECT_EQ(row[2590], 254);
        EXPECT_EQ(row[2591], 254);
    }
}

TEST_F(Retrieval, OversizedAndDamagedPagesStayInsideTheBuffers) {
    // A file larger than ImageBuf: only its first ImageBuf bytes are taken.
    image_.assign(4096, 0);
    decode_.assign(kMhRowBytes * 3, 0);
    work_.assign(1024, 0);
    Refresh();
    std::vector<uint8_t> big(100000, 0x00);
    Page(big, 0xFFFFFFFF);
    c_.settings.CompressMode = 1;
    for (int resolution : {0, 1, 3}) {
        for (int mode : {0, 1, 2, 3, 4}) {
            for (int format : {0, 1}) {
                c_.settings.Resolution = resolution;
                c_.tempScanMode = mode;
                c_.settings.ImageFileFormat = format;
                const int h = ToFile(Out("o.img"));
                EXPECT_LE(h, 4032 / 216) << resolution << mode << format;
            }
        }
    }
    const auto t = TraceTexts();
    EXPECT_NE(std::find(t.begin(), t.end(), "size > (int)_msize(ImageBuf)=0"), t.end());

    // Random data, coded and not, in every mode.
    std::vector<uint8_t> noise(3000);
    uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    for (int i = 0; i < 200; i += 17) noise[i] = 0;  // a few EOL-like runs
    Page(noise, 0x7FFFFFFF);
    for (int compress : {0, 1}) {
        for (int resolution : {0, 1, 3}) {
            for (int mode : {0, 3, 4}) {
                c_.settings.CompressMode = compress;
                c_.settings.Resolution = resolution;
                c_.tempScanMode = mode;
                c_.settings.ScanWidth = 2592;
                ToFile(Out("n.img"));
                RetrievePageToMemory(c_);
            }
        }
    }
}

// In-memory pages.

TEST_F(Retrieval, MemoryPageOfCompressedBilevelRows) {
    Page(MhPage({{3, 4}, {3, 4}, {3, 4}, {3, 4}}));
    ASSERT_EQ(RetrievePageToMemory(c_), 3);
    const MemoryPage& m = MemoryPageInfo();
    EXPECT_EQ(m.pitchSrc, 324);
    EXPECT_EQ(m.pitchDst, 216);
    EXPECT_EQ(m.size, 324 * 3);
    EXPECT_EQ(m.width, 1728);
    EXPECT_EQ(m.height, 3);
    EXPECT_EQ(m.bitsPerPixel, 1);
    ASSERT_NE(MemoryPageData(), nullptr);
    EXPECT_EQ(MemoryPageData()[324 * 2], 0x1E);  // 3 white, 4 black
}

TEST_F(Retrieval, MemoryPageOfUncompressedBilevelRowsUsesScanLines) {
    c_.settings.ScanWidth = 1704;
    c_.settings.CompressMode = 1;
    c_.settings.ScanLines[0] = 50;
    std::vector<uint8_t> data(213 * 10);
    for (std::size_t r = 0; r < 10; ++r) data[r * 213] = static_cast<uint8_t>(0x40 | r);
    Page(data);
    ASSERT_EQ(RetrievePageToMemory(c_), 9);  // no more rows than the data hold
    const MemoryPage& m = MemoryPageInfo();
    EXPECT_EQ(m.pitchSrc, 213);
    EXPECT_EQ(m.pitchDst, 214);
    EXPECT_EQ(m.size, 213 * 9);
    EXPECT_EQ(MemoryPageData()[0], 0xC1);  // row 1, first pixel from the second
    c_.settings.ScanLines[0] = 4;
    ASSERT_EQ(RetrievePageToMemory(c_), 3);
}

TEST_F(Retrieval, MemoryPageOfGrayRows) {
    c_.settings.ScanWidth = 1000;
    c_.tempScanMode = 4;
    std::vector<std::vector<int>> lines(5, std::vector<int>{1, 2, 3, 4});
    Page(GrayPage(lines, false));
    ASSERT_EQ(RetrievePageToMemory(c_), 4);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 2592);
    EXPECT_EQ(MemoryPageInfo().pitchDst, 1000);
    EXPECT_EQ(MemoryPageInfo().bitsPerPixel, 8);
    EXPECT_EQ(MemoryPageData()[2592 * 3 + 3], 4);

    c_.settings.ScanWidth = 1001;
    c_.settings.CompressMode = 1;
    c_.settings.ScanLines[0] = 6;
    c_.tempScanMode = 3;
    Page(std::vector<uint8_t>(501 * 6, 0x5A));
    ASSERT_EQ(RetrievePageToMemory(c_), 5);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 501);
    EXPECT_EQ(MemoryPageInfo().pitchDst, 501);
    EXPECT_EQ(MemoryPageInfo().bitsPerPixel, 4);
    EXPECT_EQ(MemoryPageInfo().size, 501 * 5);
}

TEST_F(Retrieval, MemoryPageAtResolutionThreeDoublesGrayRows) {
    c_.settings.Resolution = 3;
    c_.settings.ScanWidth = 4;
    c_.tempScanMode = 4;
    std::vector<std::vector<int>> lines;
    for (int r = 0; r < 12; ++r) lines.push_back({r * 10, r * 10 + 1, 255, 0});
    Page(GrayPage(lines, false));  // 12 lines: 11 decoded rows
    ASSERT_EQ(RetrievePageToMemory(c_), 21);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 4);
    EXPECT_EQ(MemoryPageInfo().pitchDst, 4);
    EXPECT_EQ(MemoryPageInfo().size, 84);
    const uint8_t* p = MemoryPageData();
    for (int k = 0; k < 11; ++k) EXPECT_EQ(p[8 * k], k * 10) << k;  // rows 1..11 decoded
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(p[8 * k + 4], (k * 10 + k * 10 + 10) / 2);
        EXPECT_EQ(p[8 * k + 5], (k * 10 + 1 + k * 10 + 11) / 2);
        EXPECT_EQ(p[8 * k + 6], 255);
    }

    // 4-bit rows of odd width are split, averaged and packed again.
    c_.settings.ScanWidth = 3;
    c_.settings.CompressMode = 1;
    c_.settings.ScanLines[0] = 3;
    c_.tempScanMode = 3;
    Page({0x00, 0x00, 0x2F, 0x4F, 0x8F, 0x0F});  // rows: (2,15,4) and (8,15,0)
    ASSERT_EQ(RetrievePageToMemory(c_), 3);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 2);
    const std::vector<uint8_t> got(MemoryPageData(), MemoryPageData() + 6);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x2F, 0x40, 0x5F, 0x20, 0x8F, 0x00}));

    // Bilevel pages are not doubled.
    c_.tempScanMode = 0;
    c_.settings.ScanWidth = 16;
    Page({0x00, 0x00, 0x40, 0x00, 0xFF, 0xFF});
    ASSERT_EQ(RetrievePageToMemory(c_), 2);
    EXPECT_EQ(MemoryPageInfo().bitsPerPixel, 1);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 2);
}

TEST_F(Retrieval, MemoryPageAtResolutionOneIsTheEightBitPageAsSent) {
    c_.settings.Resolution = 1;
    c_.settings.ScanWidth = 8;
    c_.tempScanMode = 0;
    std::vector<std::vector<int>> lines(3, std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2});
    Page(GrayPage(lines, false));
    ASSERT_EQ(RetrievePageToMemory(c_), 2);
    EXPECT_EQ(MemoryPageInfo().bitsPerPixel, 8);
    EXPECT_EQ(MemoryPageInfo().width, 8);
    EXPECT_EQ(MemoryPageInfo().pitchDst, 8);
    EXPECT_EQ(MemoryPageData()[2592 + 7], 2);
}

TEST_F(Retrieval, ClearingThePageKeepsItsDescription) {
    Page(MhPage({{3, 4}, {3, 4}, {3, 4}}));
    ASSERT_EQ(RetrievePageToMemory(c_), 2);
    EXPECT_EQ(ClearOneImageBuf(), 1);
    EXPECT_EQ(MemoryPageData(), nullptr);
    EXPECT_EQ(ClearOneImageBuf(), 1);
    EXPECT_EQ(MemoryPageInfo().height, 2);
    EXPECT_EQ(MemoryPageInfo().pitchSrc, 324);

    // A page without data leaves the stored page as it was.
    ASSERT_EQ(RetrievePageToMemory(c_), 2);
    uint8_t* before = MemoryPageData();
    Page({});
    EXPECT_EQ(RetrievePageToMemory(c_), 0);
    std::remove(c_.pageFile.c_str());
    EXPECT_EQ(RetrievePageToMemory(c_), 0);
    EXPECT_EQ(MemoryPageData(), before);
    EXPECT_EQ(MemoryPageInfo().height, 2);
}

TEST_F(Retrieval, MemoryPagesLeaveTheMicrTextAlone) {
    c_.settings.MicrDetect = 1;
    Page(MhPage({{3, 4}, {3, 4}, {3, 4}}), 0, "777\r");
    ToFile(Out());
    ASSERT_EQ(MicrText(), "77\r\n");
    Page(MhPage({{3, 4}, {3, 4}, {3, 4}}), 0, "12345\r");
    RetrievePageToMemory(c_);
    EXPECT_EQ(MicrText(), "77\r\n");
    EXPECT_EQ(MicrDataSize(), 2);
}

}  // namespace
}  // namespace orvo
