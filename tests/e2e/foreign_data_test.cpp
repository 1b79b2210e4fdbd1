// Data the driver did not make and the virtual scanner did not code: T.4
// lines from libtiff's own Group 3 encoder, sent by the device as a side's
// image data, must come out of the driver as the image libtiff was given.
// And the device's record of what it sent matches the page files byte for
// byte.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/codes/codes.h"
#include "orvo/sim/encoders.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

constexpr int kWidth = 1728;
constexpr int kRowBytes = kWidth / 8;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("TMPDIR", e2e::MakeTempDir("orvo-foreign-tmp").c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 0, 0, 0, kWidth, 120), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// A bilevel test card: 1 = black, most significant bit first.
std::vector<uint8_t> Card(int rows) {
    std::vector<uint8_t> image(static_cast<std::size_t>(rows) * kRowBytes, 0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool black =
                (x / 37 + y / 11) % 3 == 0 || (x > 1700 && y % 5 == 0) || (x * 7 + y * 13) % 97 < 3;
            if (black) image[static_cast<std::size_t>(y) * kRowBytes + x / 8] |= 0x80 >> (x % 8);
        }
    }
    return image;
}

// The coded strip libtiff writes for the card (Group 3, one-dimensional,
// an EOL before every line), followed by an RTC.
std::vector<uint8_t> LibtiffG3(const std::vector<uint8_t>& image, int rows) {
    const std::string path = e2e::MakeTempDir("orvo-g3") + "card.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
    for (int y = 0; y < rows; ++y) {
        std::vector<uint8_t> row(image.begin() + static_cast<long>(y) * kRowBytes,
                                 image.begin() + static_cast<long>(y + 1) * kRowBytes);
        EXPECT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0), 1);
    }
    TIFFClose(tif);
    tif = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(tif, nullptr);
    std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFRawStripSize(tif, 0)));
    TIFFReadRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(tif);
    const uint8_t rtc[9] = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01};
    strip.insert(strip.end(), rtc, rtc + sizeof rtc);
    return strip;
}

std::vector<uint8_t> ReadTiffRows(const std::string& path, int* rows) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return {};
    uint32_t length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    std::vector<uint8_t> out(static_cast<std::size_t>(length) * kRowBytes);
    for (uint32_t y = 0; y < length; ++y) TIFFReadScanline(tif, out.data() + y * kRowBytes, y, 0);
    TIFFClose(tif);
    *rows = static_cast<int>(length);
    return out;
}

TEST(ForeignData, LibtiffGroup3LinesComeOutAsTheImageLibtiffWasGiven) {
    constexpr int kRows = 120;
    const std::vector<uint8_t> card = Card(kRows);
    const std::string dir = e2e::MakeTempDir("orvo-foreign");
    const std::vector<uint8_t> coded = LibtiffG3(card, kRows);
    {
        std::FILE* f = std::fopen((dir + "card.t4").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(coded.data(), 1, coded.size(), f);
        std::fclose(f);
    }
    // The scenario file a user would write.
    e2e::WriteText(dir + "scenario.json", R"({"latency": {"commandMs": 0, "blockMs": 0,
        "documentIntervalMs": 0}, "documents": [{"front": {"data": "card.t4"}, "micr": "X1"}]})");
    orvo::sim::Scenario scenario = orvo::sim::LoadScenarioFile(dir + "scenario.json");
    ASSERT_EQ(scenario.documents.size(), 1u);
    ASSERT_TRUE(scenario.documents[0].front.data);
    TheScanner().SetScenario(scenario);

    OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    ASSERT_EQ(OrvoScan_GetOneImage((dir + "out.tif").c_str(), &height), 0);
    int dummy = 0;
    EXPECT_EQ(OrvoScan_GetOneImage((dir + "none.tif").c_str(), &dummy), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);

    // N coded lines give the first N - 1 lines, the first pixel of each row
    // taken from the second.
    EXPECT_EQ(height, kRows - 1);
    int rows = 0;
    const std::vector<uint8_t> out = ReadTiffRows(dir + "out.tif", &rows);
    ASSERT_EQ(rows, kRows - 1);
    for (int y = 0; y < rows; ++y) {
        std::vector<uint8_t> expected(card.begin() + static_cast<long>(y) * kRowBytes,
                                      card.begin() + static_cast<long>(y + 1) * kRowBytes);
        expected[0] = static_cast<uint8_t>((expected[0] & 0x7F) | ((expected[0] & 0x40) << 1));
        const std::vector<uint8_t> got(out.begin() + static_cast<long>(y) * kRowBytes,
                                       out.begin() + static_cast<long>(y + 1) * kRowBytes);
        ASSERT_EQ(got, expected) << "row " << y;
    }
}

// 8-bit gray lines from a coder that writes some differences of zero as
// sign 0 with the make-up codes 192 and 64 and the terminating code 0 (256,
// which keeps to 0 in eight bits): such a value repeats the pixel and the
// line goes on; only a terminating 0 by itself after sign 0 ends a line.
TEST(ForeignData, GrayMakeUpCodesAddingUpTo256AreAZeroDifference) {
    namespace codes = orvo::codes;
    constexpr int kGrayWidth = 64;
    constexpr int kLines = 5;
    orvo::sim::BitWriter out;
    std::vector<uint8_t> want;  // the pixels of every coded line
    for (int y = 0; y < kLines; ++y) {
        out.Put(codes::kEol);
        int prev = 0;
        for (int x = 0; x < kGrayWidth; ++x) {
            if (x % 16 == 5) {
                out.PutBit(false);
                out.Put(codes::kGrayMakeUp[2]);
                out.Put(codes::kGrayMakeUp[0]);
                out.Put(codes::kGrayTerminating[0]);
                want.push_back(static_cast<uint8_t>(prev));
                continue;
            }
            const int p = (x * 37 + y * 91) % 256;
            const int d = prev - p;  // the decoder forms p = prev - d
            out.PutBit(d >= 0);
            int m = std::abs(d);
            if (m >= 64) {
                out.Put(codes::kGrayMakeUp[m / 64 - 1]);
                m %= 64;
            }
            out.Put(codes::kGrayTerminating[m]);
            want.push_back(static_cast<uint8_t>(p));
            prev = p;
        }
    }
    for (int i = 0; i < 6; ++i) out.Put(codes::kEol);

    e2e::WriteSettings(e2e::ChequeIni("Check", 0, 4, 0, kGrayWidth, 10));
    orvo::sim::Scenario scenario = e2e::FastScenario(1);
    scenario.documents[0].front.data = std::make_shared<const std::vector<uint8_t>>(out.Take());
    TheScanner().SetScenario(scenario);
    OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string path = e2e::MakeTempDir("orvo-gray256") + "gray.tif";
    int height = 0;
    ASSERT_EQ(OrvoScan_GetOneImage(path.c_str(), &height), 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);

    // Five coded lines give four rows.
    ASSERT_EQ(height, kLines - 1);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint32_t width = 0;
    uint32_t length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    ASSERT_EQ(width, static_cast<uint32_t>(kGrayWidth));
    ASSERT_EQ(length, static_cast<uint32_t>(kLines - 1));
    std::vector<uint8_t> row(kGrayWidth);
    for (uint32_t y = 0; y < length; ++y) {
        ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
        EXPECT_TRUE(std::equal(row.begin(), row.end(), want.begin() + y * kGrayWidth))
            << "row " << y;
    }
    TIFFClose(tif);
}

TEST(ForeignData, DeviceRecordMatchesThePageFiles) {
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0, kWidth, 120));
    const std::string record = e2e::MakeTempDir("orvo-record");
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.recordDir = record;
    TheScanner().SetScenario(s);
    OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string out = e2e::SystemDir() + "p.raw";
    int height = 0;
    while (OrvoScan_GetOneImage(out.c_str(), &height) == 0) {
    }
    // The page files go with the batch: compared before it ends.
    struct EndBatch {
        ~EndBatch() { EXPECT_EQ(OrvoScan_EndBatch(), 0); }
    } endBatch;
    const std::string tmp = e2e::PageDir();
    for (int d = 0; d < 2; ++d) {
        char name[32];
        std::snprintf(name, sizeof name, "doc%04d.bin", d);
        const std::vector<uint8_t> sent = e2e::ReadBytes(record + name);
        ASSERT_FALSE(sent.empty());
        for (int side = 0; side < 2; ++side) {
            std::snprintf(name, sizeof name, "_tmp%04d.dat", d * 2 + side);
            const std::vector<uint8_t> page = e2e::ReadBytes(tmp + name);
            ASSERT_GT(page.size(), 64u);
            // The front starts the buffer; the rear starts at the block after
            // the front's blocks (its count is in the front's header).
            const std::size_t start =
                side == 0 ? 0 : (sent[2] | (sent[3] << 8)) * std::size_t{32768};
            ASSERT_LE(start + page.size(), sent.size());
            EXPECT_TRUE(
                std::equal(page.begin(), page.end(), sent.begin() + static_cast<long>(start)))
                << name;
        }
        std::snprintf(name, sizeof name, "doc%04d_front.pgm", d);
        EXPECT_TRUE(e2e::Exists(record + name));
    }
}

}  // namespace
