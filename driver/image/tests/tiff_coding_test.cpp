// The TIFF writer's own Group 4 and LZW strips (and the uncompressed rows it
// leaves to libtiff): read back by libtiff they are the rows, bit for bit, on
// made-up rows of every kind, on the virtual scanner's whole cheque pages, on
// the rows of every page of the fuzz corpus and with the same fields as the
// files libtiff codes itself.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "orvo/image/decode.h"
#include "orvo/image/framing.h"
#include "orvo/image/writers.h"
#include "test_bits.h"

#if __has_include("orvo/sim/side_data.h")
#include "orvo/sim/image.h"
#include "orvo/sim/side_data.h"
#include "orvo/sim/window.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"
#define ORVO_HAVE_SIM 1
#endif

namespace orvo {
namespace {

namespace fs = std::filesystem;

struct Kind {
    int bits;
    int compression;
};
constexpr Kind kKinds[] = {{1, COMPRESSION_CCITTFAX4},
                           {8, COMPRESSION_LZW},
                           {4, COMPRESSION_LZW},
                           {8, COMPRESSION_NONE},
                           {4, COMPRESSION_NONE}};

std::string Name(const Kind& k) {
    return std::to_string(k.bits) + "-bit " +
           (k.compression == COMPRESSION_CCITTFAX4 ? "Group 4"
            : k.compression == COMPRESSION_LZW     ? "LZW"
                                                   : "none");
}

// The scanlines of a TIFF as libtiff reads them; empty when it cannot.
std::vector<std::vector<uint8_t>> Scanlines(const std::string& path) {
    std::vector<std::vector<uint8_t>> rows;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return rows;
    uint32_t length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    std::vector<uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    for (uint32_t r = 0; r < length; ++r) {
        if (TIFFReadScanline(tif, line.data(), r, 0) != 1) return {};
        rows.push_back(line);
    }
    TIFFClose(tif);
    return rows;
}

// The directory entries (tag: type, count, value or offset) of a little-endian
// TIFF, without the strip offsets and byte counts, whose values differ with
// the coded sizes.
std::map<int, std::vector<uint32_t>> Fields(const std::string& path) {
    const std::vector<uint8_t> b = testing::ReadBytes(path);
    std::map<int, std::vector<uint32_t>> fields;
    auto u16 = [&](std::size_t o) { return static_cast<uint32_t>(b[o] | (b[o + 1] << 8)); };
    auto u32 = [&](std::size_t o) { return u16(o) | (u16(o + 2) << 16); };
    if (b.size() < 8 || b[0] != 'I') return fields;
    const std::size_t dir = u32(4);
    const uint32_t count = u16(dir);
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t e = dir + 2 + 12 * i;
        const int tag = static_cast<int>(u16(e));
        const uint32_t type = u16(e + 2);
        fields[tag] = {type, u32(e + 4)};
        if (type == TIFF_RATIONAL) {
            const std::size_t at = u32(e + 8);  // numerator and denominator
            fields[tag].push_back(u32(at));
            fields[tag].push_back(u32(at + 4));
        } else if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_STRIPBYTECOUNTS) {
            fields[tag].push_back(u32(e + 8));
        }
    }
    return fields;
}

class TiffCoding : public ::testing::Test {
  protected:
    void SetUp() override { TIFFSetWarningHandler(nullptr); }

    // Writes image rows 1.. of `block` both ways and expects libtiff to read
    // the rows back from both, and the same fields in both files.
    void ExpectRowsBack(const Kind& k, const std::vector<uint8_t>& block, std::size_t step,
                        int width, int rows) {
        const std::size_t line = (static_cast<std::size_t>(width) * k.bits + 7) / 8;
        const RowBlock r{block.data(), block.size(), step, line, width, rows};
        const int photometric = k.bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
        // New names every time: replacing a file can wait for the disk.
        const std::string n = std::to_string(++files_);
        const std::string own = dir_ + "own" + n + ".tif";
        const std::string ref = dir_ + "libtiff" + n + ".tif";
        RowBuffer buffer{rowBuffer_.data(), rowBuffer_.size()};
        ASSERT_TRUE(WriteTiffImage(own, r, buffer, 0, k.bits, photometric, k.compression));
        ASSERT_TRUE(WriteTiffImageScanlines(ref, r, buffer, 0, k.bits, photometric, k.compression));
        const auto got = Scanlines(own);
        ASSERT_EQ(got.size(), static_cast<std::size_t>(rows - 1)) << Name(k);
        for (int y = 1; y < rows; ++y) {
            const auto* want = block.data() + static_cast<std::size_t>(y) * step;
            // Bits past the width in a bilevel row are not part of the image.
            std::vector<uint8_t> expected(want, want + line);
            if (k.bits == 1 && width % 8 != 0) {
                expected.back() &= static_cast<uint8_t>(0xFF << (8 - width % 8));
            }
            std::vector<uint8_t> row = got[static_cast<std::size_t>(y - 1)];
            if (k.bits == 1 && width % 8 != 0) {
                row.back() &= static_cast<uint8_t>(0xFF << (8 - width % 8));
            }
            ASSERT_EQ(row, expected) << Name(k) << ", width " << width << ", row " << y;
        }
        EXPECT_EQ(Fields(own), Fields(ref)) << Name(k) << ", width " << width;
        fs::remove(own);
        fs::remove(ref);
    }

    const testing::TempDir temp_{"orvo-tiffcoding"};
    const std::string dir_ = temp_.dir();
    int files_ = 0;
    std::vector<uint8_t> rowBuffer_ = std::vector<uint8_t>(5120);
};

// Row patterns: random, sparse, runs of many lengths, all white, all black,
// stripes, checkerboard (a change at every pixel), one row like the next.
std::vector<uint8_t> Pattern(int kind, int rows, std::size_t step, std::mt19937& rng) {
    std::vector<uint8_t> b(static_cast<std::size_t>(rows) * step);
    uint8_t value = 0;
    for (int y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < step; ++x) {
            uint8_t& v = b[static_cast<std::size_t>(y) * step + x];
            switch (kind) {
                case 0:
                    v = static_cast<uint8_t>(rng());
                    break;
                case 1:
                    v = rng() % 23 == 0 ? static_cast<uint8_t>(1u << (rng() % 8)) : 0;
                    break;
                case 2:
                    if (rng() % 37 == 0) value = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
                    v = value;
                    break;
                case 3:
                    v = 0;
                    break;
                case 4:
                    v = 0xFF;
                    break;
                case 5:
                    v = (x / 5 + static_cast<std::size_t>(y) / 3) % 2 ? 0xFF : 0x00;
                    break;
                case 6:
                    v = y % 2 ? 0xAA : 0x55;
                    break;
                default:
                    v = y == 0 ? static_cast<uint8_t>(rng()) : b[x];
                    break;
            }
        }
    }
    return b;
}

TEST_F(TiffCoding, RowsOfEveryKindReadBackBitForBit) {
    std::mt19937 rng(41);
    for (const Kind& k : kKinds) {
        for (int width : {1, 3, 7, 8, 13, 63, 64, 65, 127, 1004, 1720, 1728, 2592}) {
            for (int pattern = 0; pattern < 8; ++pattern) {
                const std::size_t line = (static_cast<std::size_t>(width) * k.bits + 7) / 8;
                const std::size_t step = line + 3;  // rows apart by more than a row
                const int rows = 2 + static_cast<int>(rng() % 12);
                ExpectRowsBack(k, Pattern(pattern, rows, step, rng), step, width, rows);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// LZW over a page large enough to fill its code table many times over,
// with long runs (taken a stretch at a time) and noise (a code per byte or
// two) in turn.
TEST_F(TiffCoding, LzwThroughManyFullTables) {
    std::mt19937 rng(43);
    const int width = 2592;
    const int rows = 300;
    std::vector<uint8_t> b(static_cast<std::size_t>(rows) * width);
    uint8_t value = 255;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const std::size_t y = i / width;
        if (y % 40 < 10) {
            b[i] = static_cast<uint8_t>(rng() % 7 + 100);  // noise
        } else {
            if (rng() % (y % 40 < 25 ? 5000 : 40) == 0) value = static_cast<uint8_t>(rng());
            b[i] = value;
        }
    }
    for (int bits : {8, 4}) {
        const int w = bits == 8 ? width : 2 * width;
        ExpectRowsBack({bits, COMPRESSION_LZW}, b, width, w, rows);
    }
}

#ifdef ORVO_HAVE_SIM
// The virtual scanner's cheques, fronts and rears, bilevel and 8-bit and
// 4-bit gray, decoded whole as the driver decodes them and written as the
// driver writes them: libtiff reads back every row.
TEST_F(TiffCoding, ScannerPagesReadBack) {
    Decoder decoder(test::GeneratedTables());
    std::vector<uint8_t> work(1 << 20);
    for (int seed = 1; seed <= 3; ++seed) {
        for (bool front : {true, false}) {
            for (int mode : {0, 4, 3}) {
                SCOPED_TRACE(std::to_string(seed) + (front ? " front" : " rear") + ", mode " +
                             std::to_string(mode));
                sim::WindowSettings w = sim::WindowSettings::PowerOn();
                w.scanWidth = 1728;
                w.scanMode[0] = mode;
                sim::SideOptions options;
                options.alignEol = seed % 2 == 0;
                const sim::SideData side =
                    sim::BuildSide(sim::SyntheticCheque(seed, front), front, w, options);
                ASSERT_TRUE(side.coded);
                const uint8_t* data = side.bytes.data() + sim::kSideHeaderSize;
                const std::size_t n = side.imageBytes;
                if (mode == 0) {
                    const long lines = EolCount(data, n);
                    ASSERT_GT(lines, 700);
                    std::vector<uint8_t> rows(static_cast<std::size_t>(lines) * kMhRowBytes);
                    decoder.DecodeMhPage(data, n, lines, work.data(), work.size(), rows.data(),
                                         rows.size());
                    ExpectRowsBack(kKinds[0], rows, kMhRowBytes, 1728, static_cast<int>(lines));
                } else {
                    const RtcScan scan = RtcSearchCounting(data, n);
                    ASSERT_GE(scan.rtc, 0);
                    const long lines = scan.anchors - 6;
                    ASSERT_GT(lines, 700);
                    std::vector<uint8_t> rows(static_cast<std::size_t>(lines) * kGrayRowBytes);
                    const std::size_t length = static_cast<std::size_t>(scan.rtc) + 1;
                    const int bits = mode == 4 ? 8 : 4;
                    if (bits == 8) {
                        decoder.DecodeGray8Page(data, length, lines, rows.data(), rows.size());
                    } else {
                        decoder.DecodeGray4Page(data, length, lines, rows.data(), rows.size());
                    }
                    for (int compression : {COMPRESSION_LZW, COMPRESSION_NONE}) {
                        ExpectRowsBack({bits, compression}, rows, kGrayRowBytes, 1728,
                                       static_cast<int>(lines));
                    }
                }
                if (HasFatalFailure()) return;
            }
        }
    }
}
#endif

// Every page of the fuzz corpus, decoded as the driver decodes it (bilevel,
// 8-bit and 4-bit gray, damaged pages included), written with the driver's
// own strips and read back by libtiff.
TEST_F(TiffCoding, EveryPageOfTheFuzzCorpusReadsBack) {
    const fs::path corpus = ORVO_FUZZ_CORPUS;
    if (!fs::exists(corpus)) GTEST_SKIP() << "no fuzz corpus at " << corpus;
    Decoder decoder(test::GeneratedTables());
    std::vector<uint8_t> work(1 << 20);
    std::vector<uint8_t> rows(65 * kGrayRowBytes);
    int pages = 0;
    for (const auto& dirEntry : fs::directory_iterator(corpus)) {
        for (const auto& file : fs::directory_iterator(dirEntry.path())) {
            const std::vector<uint8_t> input = testing::ReadBytes(file.path());
            if (input.size() < 2) continue;
            const uint8_t* data = input.data() + 1;
            const std::size_t n = input.size() - 1;
            SCOPED_TRACE(file.path().string());
            // Bilevel: up to 64 rows of the first 2592 pixels; widths of a
            // cheque and of the whole decoded row.
            const long mhLines = std::min(EolCount(data, n), 65L);
            std::fill(rows.begin(), rows.end(), 0);
            decoder.DecodeMhPage(data, n, mhLines, work.data(), work.size(), rows.data(),
                                 65 * kMhRowBytes);
            if (mhLines >= 2) {
                for (int width : {1728, 2592}) {
                    ExpectRowsBack(kKinds[0], rows, kMhRowBytes, width, static_cast<int>(mhLines));
                }
            }
            // Gray: 8-bit and 4-bit rows from the data cut at its RTC.
            const RtcScan scan = RtcSearchCounting(data, n);
            const long grayLines = std::min(scan.anchors - 6, 65L);
            if (scan.rtc >= 0 && grayLines >= 2) {
                const std::size_t length = static_cast<std::size_t>(scan.rtc) + 1;
                std::fill(rows.begin(), rows.end(), 0x77);
                decoder.DecodeGray8Page(data, length, grayLines, rows.data(), rows.size());
                ExpectRowsBack({8, COMPRESSION_LZW}, rows, kGrayRowBytes, 1728,
                               static_cast<int>(grayLines));
                decoder.DecodeGray4Page(data, length, grayLines, rows.data(), rows.size());
                ExpectRowsBack({4, COMPRESSION_LZW}, rows, kGrayRowBytes, 2592,
                               static_cast<int>(grayLines));
            }
            if (HasFatalFailure()) return;
            ++pages;
        }
    }
    EXPECT_GT(pages, 100);
}

}  // namespace
}  // namespace orvo
