// The image writers: TIFF fields read back with libtiff, bitmap files byte
// for byte, and no file under the final name unless it was written whole.
#include "orvo/image/writers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "orvo/image/code_tables.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

class Writers : public ::testing::Test {
  protected:
    void SetUp() override { TIFFSetWarningHandler(nullptr); }
    std::string Path(const char* name) const { return temp_ / name; }
    std::vector<std::string> Names() const { return testing::DirEntries(dir_); }
    RowBuffer Buffer() { return RowBuffer{rowBuffer_.data(), rowBuffer_.size()}; }

    const testing::TempDir temp_{"orvo-writers"};
    const std::string dir_ = temp_.path();
    std::vector<uint8_t> rowBuffer_ = std::vector<uint8_t>(5120);
};

using testing::Le32;

struct TiffInfo {
    uint32_t width = 0, length = 0;
    uint16_t compression = 0, photometric = 0, planar = 0, bits = 0, unit = 0;
    float xres = -1, yres = -1;
    std::vector<std::vector<uint8_t>> rows;
};

TiffInfo ReadTiff(const std::string& path) {
    TiffInfo t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return t;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.length);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
    std::vector<uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    for (uint32_t r = 0; r < t.length; ++r) {
        if (TIFFReadScanline(tif, line.data(), r, 0) != 1) break;
        t.rows.push_back(line);
    }
    TIFFClose(tif);
    return t;
}

// A block of `rows` rows of `step` bytes; row r is filled with r * 16 + 1.
std::vector<uint8_t> Block(int rows, std::size_t step) {
    std::vector<uint8_t> b(rows * step);
    for (int r = 0; r < rows; ++r) {
        std::fill(b.begin() + r * step, b.begin() + (r + 1) * step,
                  static_cast<uint8_t>(r * 16 + 1));
    }
    return b;
}

TEST_F(Writers, BilevelTiffHoldsRowsOneOnwardWithItsFields) {
    auto b = Block(4, 40);
    b[40] = 0x80;  // row 1 starts with a black pixel
    const RowBlock rows{b.data(), b.size(), 40, 16, 128, 4};
    ASSERT_TRUE(Save2Tiff(Path("a.tif"), rows, Buffer(), 0));
    const TiffInfo t = ReadTiff(Path("a.tif"));
    EXPECT_EQ(t.width, 128u);
    EXPECT_EQ(t.length, 3u);
    EXPECT_EQ(t.compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(t.planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(t.bits, 1);
    EXPECT_EQ(t.unit, RESUNIT_INCH);
    EXPECT_FLOAT_EQ(t.xres, 200);
    EXPECT_FLOAT_EQ(t.yres, 200);
    ASSERT_EQ(t.rows.size(), 3u);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(t.rows[r],
                  std::vector<uint8_t>(b.begin() + (r + 1) * 40, b.begin() + (r + 1) * 40 + 16))
            << r;
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"a.tif"});  // no temporary left
}

TEST_F(Writers, ResolutionTable) {
    const double expected[] = {200, 300, 100, 200, 300, 300, 0, 0};
    for (int setting = 0; setting < 8; ++setting) {
        EXPECT_EQ(TiffResolution(setting), expected[setting]);
    }
    EXPECT_EQ(TiffResolution(-1), 0);
    auto b = Block(2, 8);
    const RowBlock rows{b.data(), b.size(), 8, 8, 16, 2};
    ASSERT_TRUE(Save2TiffGray(Path("r2.tif"), rows, Buffer(), 2, 4, 0));
    ASSERT_TRUE(Save2TiffGray(Path("r7.tif"), rows, Buffer(), 7, 4, 0));
    EXPECT_FLOAT_EQ(ReadTiff(Path("r2.tif")).xres, 100);
    EXPECT_FLOAT_EQ(ReadTiff(Path("r2.tif")).yres, 100);
    EXPECT_FLOAT_EQ(ReadTiff(Path("r7.tif")).xres, 0);
    EXPECT_FLOAT_EQ(ReadTiff(Path("r7.tif")).yres, 0);
}

TEST_F(Writers, GrayTiffCompressionAndDepth) {
    auto b = Block(3, 300);
    const RowBlock rows8{b.data(), b.size(), 300, 200, 200, 3};
    const RowBlock rows4{b.data(), b.size(), 300, 100, 200, 3};
    const uint16_t tags[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS};
    for (int c = 0; c < 3; ++c) {
        for (int bits : {4, 8}) {
            const std::string p = Path("g.tif");
            ASSERT_TRUE(Save2TiffGray(p, bits == 8 ? rows8 : rows4, Buffer(), 1, bits, c));
            const TiffInfo t = ReadTiff(p);
            EXPECT_EQ(t.compression, tags[c]);
            EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
            EXPECT_EQ(t.bits, bits);
            ASSERT_EQ(t.rows.size(), 2u);
            EXPECT_EQ(t.rows[1], std::vector<uint8_t>(bits == 8 ? 200 : 100, 2 * 16 + 1));
        }
    }
    EXPECT_FALSE(Save2TiffGray(Path("bad.tif"), rows8, Buffer(), 1, 8, 3));
    EXPECT_FALSE(fs::exists(Path("bad.tif")));
}

TEST_F(Writers, OneRowGivesAnEmptyImageAndNoRowsGiveNoFile) {
    uint8_t row0[8] = {};
    const RowBlock one{row0, sizeof row0, 8, 8, 64, 1};
    ASSERT_TRUE(Save2Tiff(Path("one.tif"), one, Buffer(), 0));
    EXPECT_EQ(ReadTiff(Path("one.tif")).length, 0u);
    ASSERT_TRUE(Save2DIB(Path("one.bmp"), one));
    const auto bmp = testing::ReadBytes(Path("one.bmp"));
    ASSERT_EQ(bmp.size(), 14u + 40 + 8);
    EXPECT_EQ(Le32(bmp, 14 + 8), 0u);   // biHeight
    EXPECT_EQ(Le32(bmp, 14 + 20), 0u);  // biSizeImage

    const RowBlock none{row0, sizeof row0, 8, 8, 64, 0};
    EXPECT_FALSE(Save2Tiff(Path("none.tif"), none, Buffer(), 0));
    EXPECT_FALSE(Save2DIB(Path("none.bmp"), none));
    EXPECT_FALSE(fs::exists(Path("none.tif")));
    EXPECT_FALSE(fs::exists(Path("none.bmp")));
}

TEST_F(Writers, RowsOutsideTheBuffersWriteNothing) {
    auto b = Block(3, 100);
    // rowBytes larger than the row buffer
    const RowBlock wide{b.data(), b.size(), 100, 100, 800, 3};
    std::vector<uint8_t> small(50);
    EXPECT_FALSE(Save2Tiff(Path("w.tif"), wide, RowBuffer{small.data(), small.size()}, 0));
    // the last row would end past the block
    const RowBlock tall{b.data(), b.size(), 100, 100, 800, 4};
    EXPECT_FALSE(Save2Tiff(Path("t.tif"), tall, Buffer(), 0));
    EXPECT_FALSE(Save2DIB(Path("t.bmp"), tall));
    EXPECT_TRUE(Names().empty());
}

TEST_F(Writers, FailedWriteLeavesNoFileAndKeepsAnOldOne) {
    {
        std::ofstream old(Path("keep.tif"));
        old << "old";
    }
    // libtiff would need 8000-byte scanlines from a 5120-byte row buffer: the
    // write fails after the temporary file was created.
    std::vector<uint8_t> b(3 * 100, 7);
    const RowBlock rows{b.data(), b.size(), 100, 100, 8000, 3};
    EXPECT_FALSE(Save2TiffGray(Path("keep.tif"), rows, Buffer(), 0, 8, 0));
    EXPECT_EQ(testing::ReadBytes(Path("keep.tif")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Names(), std::vector<std::string>{"keep.tif"});

    const std::string missing = dir_ + "/no/such/dir/x";
    EXPECT_FALSE(Save2RAW(missing, b.data(), b.size()));
    EXPECT_FALSE(Save2DIB(missing, rows));
    EXPECT_FALSE(Save2Tiff(missing, RowBlock{b.data(), b.size(), 100, 100, 64, 3}, Buffer(), 0));

    if (geteuid() != 0) {
        fs::create_directory(Path("ro"));
        fs::permissions(Path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(Save2RAW(Path("ro/x.raw"), b.data(), b.size()));
        EXPECT_FALSE(fs::exists(Path("ro/x.raw")));
        fs::permissions(Path("ro"), fs::perms::owner_all);
    }
}

TEST_F(Writers, BilevelBitmapWidth2000) {
    constexpr std::size_t kStep = 324;
    const int rowsCount = 5;
    auto b = Block(rowsCount, kStep);
    const RowBlock rows{b.data(), b.size(), kStep, 256, 2000, rowsCount};
    ASSERT_TRUE(Save2DIB(Path("a.bmp"), rows));
    const auto f = testing::ReadBytes(Path("a.bmp"));
    const uint32_t height = rowsCount - 1;
    ASSERT_EQ(f.size(), 14 + 40 + 8 + 252 * height);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(Le32(f, 2), 14 + 40 + 8 + 252 * height);
    EXPECT_EQ(Le32(f, 6), 0u);
    EXPECT_EQ(Le32(f, 10), 14u + 40 + 8);
    const std::size_t h = 14;
    EXPECT_EQ(Le32(f, h + 0), 40u);
    EXPECT_EQ(Le32(f, h + 4), 2000u);
    EXPECT_EQ(Le32(f, h + 8), height);
    EXPECT_EQ(f[h + 12] | (f[h + 13] << 8), 1);
    EXPECT_EQ(f[h + 14] | (f[h + 15] << 8), 1);
    EXPECT_EQ(Le32(f, h + 16), 0u);
    EXPECT_EQ(Le32(f, h + 20), 252 * height);
    EXPECT_EQ(Le32(f, h + 24), 0u);
    EXPECT_EQ(Le32(f, h + 28), 0u);
    EXPECT_EQ(Le32(f, h + 32), 2u);
    EXPECT_EQ(Le32(f, h + 36), 2u);
    // Entry 0 white, entry 1 black.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + 62),
              (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0}));
    // Bottom-up: the file's first row is source row 4, its last source row 1;
    // 252 of the 256 row bytes fit the stride.
    for (uint32_t j = 0; j < height; ++j) {
        const std::size_t o = 62 + j * 252;
        const uint8_t v = static_cast<uint8_t>((height - j) * 16 + 1);
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + o, f.begin() + o + 252),
                  std::vector<uint8_t>(252, v))
            << j;
    }
}

TEST_F(Writers, GrayBitmapPalettesAndPadding) {
    auto b = Block(3, 64);
    ASSERT_TRUE(Save2DIBGray(Path("g4.bmp"), RowBlock{b.data(), b.size(), 64, 3, 5, 3}, 4));
    const auto f = testing::ReadBytes(Path("g4.bmp"));
    ASSERT_EQ(f.size(), 14u + 40 + 64 + 2 * 4);
    EXPECT_EQ(Le32(f, 14 + 32), 16u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(f[54 + 4 * i], i * 16);
        EXPECT_EQ(f[54 + 4 * i + 2], i * 16);
        EXPECT_EQ(f[54 + 4 * i + 3], 0);
    }
    EXPECT_EQ(f[54 + 4 * 15], 240);
    // 5 pixels at 4 bits: stride 4, 3 row bytes copied and one byte of padding.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 118, f.end()),
              (std::vector<uint8_t>{33, 33, 33, 0, 17, 17, 17, 0}));

    ASSERT_TRUE(Save2DIBGray(Path("g8.bmp"), RowBlock{b.data(), b.size(), 64, 10, 10, 2}, 8));
    const auto g = testing::ReadBytes(Path("g8.bmp"));
    ASSERT_EQ(g.size(), 14u + 40 + 1024 + 12);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(g[54 + 4 * i + 1], i);
    EXPECT_FALSE(Save2DIBGray(Path("g2.bmp"), RowBlock{b.data(), b.size(), 64, 10, 10, 2}, 2));
}

TEST_F(Writers, DibFileChecksItsBlock) {
    std::vector<uint8_t> block(40 + 8 + 4, 0);
    block[0] = 41;
    EXPECT_EQ(WriteDibFile(block.data(), block.size(), Path("x.bmp")), 0);
    block[0] = 40;
    block[4] = 32;  // width 32, 1 bit
    block[8] = 2;   // height 2: 8 image bytes, but the block holds 4
    block[14] = 1;
    block[32] = 2;
    EXPECT_EQ(WriteDibFile(block.data(), block.size(), Path("x.bmp")), 0);
    block[8] = 1;
    EXPECT_EQ(WriteDibFile(block.data(), block.size(), Path("x.bmp")), 1);
    EXPECT_EQ(block[20], 4);  // biSizeImage stored
    EXPECT_EQ(testing::ReadBytes(Path("x.bmp")).size(), 14u + 52);
    EXPECT_EQ(WriteDibFile(nullptr, 0, Path("y.bmp")), 0);
    EXPECT_FALSE(fs::exists(Path("y.bmp")));
}

TEST_F(Writers, RawIsTheBytesAsTheyAre) {
    const std::vector<uint8_t> data = {0, 1, 2, 255, 13, 10};
    ASSERT_TRUE(Save2RAW(Path("p.raw"), data.data(), data.size()));
    EXPECT_EQ(testing::ReadBytes(Path("p.raw")), data);
    ASSERT_TRUE(Save2RAW(Path("p.raw"), data.data(), 0));  // replaced
    EXPECT_TRUE(testing::ReadBytes(Path("p.raw")).empty());
    EXPECT_FALSE(Save2RAW(Path("q.raw"), nullptr, 4));
    EXPECT_EQ(Names(), std::vector<std::string>{"p.raw"});
}

TEST_F(Writers, NamesUpToTheFileSystemLimitAndKeptPermissionBits) {
    // 255 bytes is the longest name the file system takes.
    const std::string longest = std::string(251, 'p') + ".tif";
    const std::string longDib = std::string(251, 'd') + ".bmp";
    const std::string longRaw = std::string(244, 'r') + ".raw";
    std::vector<uint8_t> b(3 * 64, 0x5A);
    const RowBlock rows{b.data(), b.size(), 64, 8, 64, 3};
    EXPECT_TRUE(Save2Tiff(Path(longest.c_str()), rows, Buffer(), 0));
    EXPECT_TRUE(Save2DIB(Path(longDib.c_str()), rows));
    EXPECT_TRUE(Save2RAW(Path(longRaw.c_str()), b.data(), b.size()));
    EXPECT_EQ(ReadTiff(Path(longest.c_str())).length, 2u);
    EXPECT_EQ(testing::ReadBytes(Path(longRaw.c_str())), b);

    // A page written over an existing file keeps that file's permission bits.
    {
        std::ofstream old(Path("shared.raw"));
        old << "old";
    }
    ASSERT_EQ(chmod(Path("shared.raw").c_str(), 0604), 0);
    ASSERT_TRUE(Save2RAW(Path("shared.raw"), b.data(), b.size()));
    struct stat st{};
    ASSERT_EQ(stat(Path("shared.raw").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(testing::ReadBytes(Path("shared.raw")), b);

    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {longDib, longest, longRaw, "shared.raw"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

// A process killed in the middle of writing a page (here by the file size
// limit, at its 4096th byte) leaves neither a part of the page nor a
// temporary file, and an older file of that name stays as it was.
TEST_F(Writers, KilledWriterLeavesNothingBehind) {
    {
        std::ofstream old(Path("old.raw"));
        old << "old";
    }
    const std::vector<uint8_t> big(1 << 20, 9);
    for (const char* name : {"new.raw", "old.raw"}) {
        ASSERT_EQ(testing::RunInChild([&] {
                      testing::EndAtFileSize(4096);
                      Save2RAW(Path(name), big.data(), big.size());
                      return 0;
                  }),
                  128 + SIGXFSZ)
            << name;
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"old.raw"});
    EXPECT_EQ(testing::ReadBytes(Path("old.raw")), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace orvo
