// Page files of the driver read into SANE frames.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <tiffio.h>

#include <filesystem>
#include <vector>

#include "orvo/sane/page_frame.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::sane {
namespace {

namespace fs = std::filesystem;

class PageFrameTest : public ::testing::Test {
  protected:
    // A TIFF of `rows` rows of packed samples.
    std::string Write(const std::string& name, uint32_t width, uint16_t bits, uint16_t photometric,
                      uint16_t compression, const std::vector<std::vector<uint8_t>>& rows,
                      uint16_t samples = 1) {
        const std::string path = (dir_ / name).string();
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        EXPECT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
        for (uint32_t y = 0; y < rows.size(); ++y) {
            std::vector<uint8_t> row = rows[y];
            EXPECT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
        }
        TIFFClose(tif);
        return path;
    }

    const testing::TempDir temp_{"orvo-sane-frame"};
    const fs::path dir_ = temp_.path();
};

TEST_F(PageFrameTest, BilevelPagesAreLineartWithOneForBlack) {
    // 12 pixels: the driver's bilevel files are MINISWHITE (1 = black) G4.
    const std::string path = Write("bw.tif", 12, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4,
                                   {{0xA5, 0xF0}, {0x01, 0x30}});
    Frame f;
    std::string error;
    ASSERT_TRUE(ReadPageFile(path, &f, &error)) << error;
    EXPECT_EQ(f.depth, 1);
    EXPECT_EQ(f.pixelsPerLine, 12);
    EXPECT_EQ(f.bytesPerLine, 2);
    EXPECT_EQ(f.lines, 2);
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0xA5, 0xF0, 0x01, 0x30}));
}

TEST_F(PageFrameTest, UnusedBitsOfTheLastByteAreClearAndMinIsBlackIsTurned) {
    const std::string path =
        Write("inv.tif", 10, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {{0x0F, 0x00}});
    Frame f;
    std::string error;
    ASSERT_TRUE(ReadPageFile(path, &f, &error)) << error;
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0xF0, 0xC0}));
}

TEST_F(PageFrameTest, GrayPagesAreEightBitsZeroForBlack) {
    const std::string gray8 =
        Write("g8.tif", 3, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, {{0, 128, 255}});
    Frame f;
    std::string error;
    ASSERT_TRUE(ReadPageFile(gray8, &f, &error)) << error;
    EXPECT_EQ(f.depth, 8);
    EXPECT_EQ(f.bytesPerLine, 3);
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0, 128, 255}));
    // 16 levels: every value times 17, an odd width's last nibble unused.
    const std::string gray4 =
        Write("g4.tif", 3, 4, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {{0x0F, 0x7A}});
    ASSERT_TRUE(ReadPageFile(gray4, &f, &error)) << error;
    EXPECT_EQ(f.bytesPerLine, 3);
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0, 255, 119}));
}

TEST_F(PageFrameTest, WhatIsNoDriverPageIsRefused) {
    Frame f;
    std::string error;
    EXPECT_FALSE(ReadPageFile((dir_ / "missing.tif").string(), &f, &error));
    EXPECT_NE(error.find("missing.tif"), std::string::npos);
    const std::string rgb =
        Write("rgb.tif", 1, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, {{1, 2, 3}}, 3);
    EXPECT_FALSE(ReadPageFile(rgb, &f, &error));
    const std::string wide =
        Write("two.tif", 2, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {{0}});
    EXPECT_FALSE(ReadPageFile(wide, &f, &error));
    // A file cut short: the rows that are missing are reported.
    const std::string full =
        Write("cut.tif", 64, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE,
              std::vector<std::vector<uint8_t>>(64, std::vector<uint8_t>(64, 9)));
    fs::resize_file(full, fs::file_size(full) / 3);
    EXPECT_FALSE(ReadPageFile(full, &f, &error));
}

}  // namespace
}  // namespace orvo::sane
