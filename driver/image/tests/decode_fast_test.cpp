// The fast bilevel decoder against the bit-by-bit one: the derived lookup
// tables, and identical rows, line results and page ends on scanner pages,
// libtiff's Group 3 data, random and damaged data and unusual code tables.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orvo/image/decode.h"
#include "orvo/image/framing.h"
#include "test_bits.h"

#if __has_include("orvo/sim/side_data.h")
#include "orvo/sim/image.h"
#include "orvo/sim/side_data.h"
#include "orvo/sim/window.h"
#define ORVO_HAVE_SIM 1
#endif

namespace orvo {
namespace {

// Fills rows that a decoder must not touch.
constexpr uint8_t kRowGuard = 0xA5;

using test::Bits;

// Decodes one page with both decoders into exact-size, guard-filled buffers
// and expects the same bytes everywhere.
void ExpectSamePage(const CodeTables& tables, const std::vector<uint8_t>& data, long lines,
                    std::size_t workSize, std::size_t dstRows) {
    auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
    std::copy(data.begin(), data.end(), copy.get());
    const std::size_t dstSize = dstRows * kMhRowBytes;
    std::vector<uint8_t> fastRows(dstSize, kRowGuard), refRows(dstSize, kRowGuard);
    std::vector<uint8_t> fastWork(workSize), refWork(workSize);
    Decoder fast(tables);
    Decoder ref(tables);
    fast.DecodeMhPage(copy.get(), data.size(), lines, fastWork.data(), workSize, fastRows.data(),
                      dstSize);
    ref.DecodeMhPageReference(copy.get(), data.size(), lines, refWork.data(), workSize,
                              refRows.data(), dstSize);
    ASSERT_EQ(fastRows.size(), refRows.size());
    for (std::size_t r = 0; r < dstRows; ++r) {
        const auto a = fastRows.begin() + static_cast<long>(r * kMhRowBytes);
        const auto b = refRows.begin() + static_cast<long>(r * kMhRowBytes);
        ASSERT_TRUE(std::equal(a, a + kMhRowBytes, b)) << "row " << r;
    }
}

// Decodes line after line with both line decoders from the same start and
// expects the same result, row and exhaustion after every line.
void ExpectSameLines(const CodeTables& tables, const std::vector<uint8_t>& data,
                     int maxLines = 5000) {
    auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
    std::copy(data.begin(), data.end(), copy.get());
    Decoder fast(tables);
    Decoder ref(tables);
    fast.Start(copy.get(), data.size());
    ref.Start(copy.get(), data.size());
    ASSERT_EQ(fast.SkipToEol(), ref.SkipToEol());
    uint8_t fastRow[kMhRowBytes], refRow[kMhRowBytes];
    for (int line = 0; line < maxLines && !ref.Exhausted(); ++line) {
        std::memset(fastRow, kRowGuard, sizeof fastRow);
        std::memset(refRow, kRowGuard, sizeof refRow);
        ASSERT_EQ(fast.DecodeMhLine(fastRow, sizeof fastRow),
                  ref.DecodeMhLineReference(refRow, sizeof refRow))
            << "line " << line;
        ASSERT_EQ(0, std::memcmp(fastRow, refRow, sizeof fastRow)) << "line " << line;
        ASSERT_EQ(fast.Exhausted(), ref.Exhausted()) << "line " << line;
    }
    EXPECT_TRUE(fast.Exhausted());
}

void ExpectSame(const CodeTables& tables, const std::vector<uint8_t>& data) {
    ExpectSameLines(tables, data);
    const long lines = std::min(EolCount(data.data(), data.size()), 4000L);
    ExpectSamePage(tables, data, lines, data.size(),
                   static_cast<std::size_t>(lines > 0 ? lines : 1) + 1);
}

// ---- the derived tables ----

TEST(MhFastTables, HoldEveryShortCodeWithItsLengthAndEntry) {
    const CodeTables& tables = test::GeneratedTables();
    MhFastTables fast;
    DeriveMhFastTables(tables, fast);
    struct Colour {
        const uint8_t* table;
        const uint16_t* fast;
        bool black;
    };
    for (const Colour& c :
         {Colour{tables.white, fast.white, false}, Colour{tables.black, fast.black, true}}) {
        std::vector<codes::CodeWord> words;
        for (int run = 0; run < 64; ++run) {
            words.push_back(c.black ? codes::kBlackTerminating[run]
                                    : codes::kWhiteTerminating[run]);
        }
        for (int run = 64; run <= 2560; run += 64) words.push_back(codes::MhMakeUp(c.black, run));
        words.push_back(codes::kEol);
        for (const codes::CodeWord& w : words) {
            const unsigned shift = kMhFastBits - w.length;
            for (uint32_t tail = 0; tail < 4; ++tail) {
                if (w.length > kMhFastBits) break;
                const uint32_t index = (uint32_t{w.bits} << shift) | (tail & ((1u << shift) - 1));
                EXPECT_EQ(c.fast[index],
                          static_cast<uint16_t>((w.length << 8) | c.table[codes::CodeState(w)]))
                    << "code of " << int{w.length} << " bits, black " << c.black;
            }
            if (w.length > kMhFastBits) {
                // Longer codes are left to the bit-by-bit walk.
                EXPECT_EQ(c.fast[w.bits >> (w.length - kMhFastBits)], 0);
            }
        }
        // Twelve 0 bits are fill before an EOL, not a code.
        EXPECT_EQ(c.fast[0], 0);
    }
}

TEST(MhFastTables, LoadedTablesAreDerivedAtLoad) {
    const char* dir = std::getenv("ORVOSCAN_SYSTEM_DIR");
    if (dir == nullptr || LoadCodeTables(dir) != 0) GTEST_SKIP() << "no code table files";
    auto expected = std::make_unique<FastTables>();
    DeriveFastTables(LoadedCodeTables(), *expected);
    EXPECT_EQ(0, std::memcmp(expected.get(), &LoadedFastTables(), sizeof *expected));
    EXPECT_EQ(LoadedFastTables().mh.white[0x700], (4 << 8) | 0x82);  // 0111: white run 2
    // A failed load leaves the derived tables matching what the tables hold.
    EXPECT_EQ(LoadCodeTables("/nonexistent-orvo-dir"), -1);
    EXPECT_EQ(0, std::memcmp(expected.get(), &LoadedFastTables(), sizeof *expected));
}

// ---- identical output ----

TEST(MhFastDecode, SameAsReferenceOnHandMadeLines) {
    Bits b;
    b.Text("10110");                                 // noise before the first EOL
    b.MhLine({0, 5, 10, 2577});                      // starts black
    b.MhLine({2592});                                // one white make-up + terminating
    b.MhLine({64, 1728, 5, 795});                    // black make-up (13-bit codes)
    b.MhLine({2560, 2000, 3000});                    // runs beyond the line
    b.Eol(5).Eol(13);                                // empty line, fill bits
    b.MhLine({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2582});  // short runs
    b.Eol(3);
    b.Run(false, 100).Run(true, 2560 + 2560 + 7);  // chained make-up codes
    b.Rtc();
    ExpectSame(test::GeneratedTables(), b.bytes());
    // Cut at every length: the fast path must hand over to the bit walk
    // exactly where the data end.
    for (std::size_t n = 0; n <= b.bytes().size(); ++n) {
        SCOPED_TRACE(n);
        ExpectSame(
            test::GeneratedTables(),
            std::vector<uint8_t>(b.bytes().begin(), b.bytes().begin() + static_cast<long>(n)));
    }
}

// MH data from libtiff's own Group 3 one-dimensional encoder, with and
// without fill bits, at cheque and full widths.
TEST(MhFastDecode, SameAsReferenceOnLibtiffGroup3Data) {
    std::mt19937 rng(5);
    for (int width : {1728, kLinePixels}) {
        for (uint32_t options : {0u, static_cast<uint32_t>(GROUP3OPT_FILLBITS)}) {
            SCOPED_TRACE(std::to_string(width) + " " + std::to_string(options));
            constexpr int kRows = 80;
            const std::size_t rowBytes = static_cast<std::size_t>(width + 7) / 8;
            char path[] = "/tmp/orvo-g3fast-XXXXXX";
            const int fd = mkstemp(path);
            ASSERT_GE(fd, 0);
            close(fd);
            TIFF* out = TIFFOpen(path, "w");
            ASSERT_NE(out, nullptr);
            TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
            TIFFSetField(out, TIFFTAG_IMAGELENGTH, kRows);
            TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
            TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
            TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, options);
            TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
            TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, kRows);
            std::vector<uint8_t> row(rowBytes);
            for (int r = 0; r < kRows; ++r) {
                // Dense speckle, long runs and blank rows in turn.
                for (auto& byte : row) {
                    const uint32_t v = rng();
                    byte = r % 3 == 0   ? static_cast<uint8_t>(v)
                           : r % 3 == 1 ? (v % 97 == 0 ? 0xFF : 0)
                                        : 0;
                }
                ASSERT_EQ(TIFFWriteScanline(out, row.data(), r, 0), 1);
            }
            TIFFClose(out);
            TIFF* in = TIFFOpen(path, "r");
            ASSERT_NE(in, nullptr);
            std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFRawStripSize(in, 0)));
            ASSERT_GT(TIFFReadRawStrip(in, 0, strip.data(), static_cast<tmsize_t>(strip.size())),
                      0);
            TIFFClose(in);
            unlink(path);
            Bits rtc;
            rtc.Rtc();
            strip.insert(strip.end(), rtc.bytes().begin(), rtc.bytes().end());
            ExpectSame(test::GeneratedTables(), strip);
        }
    }
}

TEST(MhFastDecode, SameAsReferenceOnRandomAndDamagedData) {
    std::mt19937 rng(17);
    Bits good;
    for (int l = 0; l < 40; ++l) {
        std::vector<int> runs;
        int total = 0;
        while (total < 2592) {
            const int run = static_cast<int>(rng() % (l % 4 == 0 ? 3000 : 80));
            runs.push_back(run);
            total += run;
        }
        good.Eol(static_cast<int>(rng() % 3) == 0 ? static_cast<int>(rng() % 9) : 0);
        for (std::size_t i = 0; i < runs.size(); ++i) good.Run(i % 2 == 1, runs[i]);
    }
    good.Rtc();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const std::vector<uint8_t> data =
            round % 2 == 0 ? test::DamagedData(good.bytes(), 1 + round % 7, round % 4 == 0, rng)
                           : test::RandomBitData(4000, rng);
        ExpectSame(test::GeneratedTables(), data);
        // Small work and destination buffers end the page at the same place.
        const long lines = static_cast<long>(rng() % 60) - 2;
        ExpectSamePage(test::GeneratedTables(), data, lines, rng() % (data.size() + 1), rng() % 12);
    }
}

// The fast tables come from whatever tables were loaded: odd tables with
// short EOL codes, codes in unusual places and entries of every class give
// the same result as the bit walk.
TEST(MhFastDecode, SameAsReferenceWithUnusualCodeTables) {
    std::mt19937 rng(23);
    for (int round = 0; round < 20; ++round) {
        auto tables = std::make_unique<CodeTables>();
        for (std::size_t i = 0; i < kMhCodeTableSize; ++i) {
            // Mostly "read on", the rest of every class.
            const uint32_t v = rng();
            const uint8_t entry = v % 5 == 0 ? static_cast<uint8_t>(v >> 8) : 0;
            tables->white[i] = entry;
            tables->black[kMhCodeTableSize - 1 - i] = entry;
        }
        tables->white[4097] = tables->white[8193] = 0x40;
        tables->black[4097] = tables->black[8193] = 0x40;
        std::vector<uint8_t> data(1 + rng() % 3000);
        for (auto& x : data) x = static_cast<uint8_t>(rng() & rng());
        SCOPED_TRACE(round);
        ExpectSame(*tables, data);
    }
    // All-zero tables (nothing loaded): every code runs into the bit walk.
    auto empty = std::make_unique<CodeTables>();
    std::vector<uint8_t> data(500);
    for (auto& x : data) x = static_cast<uint8_t>(rng());
    ExpectSame(*empty, data);
}

#ifdef ORVO_HAVE_SIM
// The virtual scanner's cheques, fronts and rears, with and without fill
// bits before the EOLs: identical rows, and the rows are the page's pixels.
TEST(MhFastDecode, SameAsReferenceOnScannerPages) {
    for (int seed = 1; seed <= 6; ++seed) {
        for (bool front : {true, false}) {
            sim::WindowSettings w = sim::WindowSettings::PowerOn();
            w.scanWidth = 1728;
            sim::SideOptions options;
            options.alignEol = seed % 2 == 0;
            const sim::Image page = sim::SyntheticCheque(seed, front);
            const sim::SideData side = sim::BuildSide(page, front, w, options);
            ASSERT_TRUE(side.coded);
            const auto begin = side.bytes.begin() + static_cast<long>(sim::kSideHeaderSize);
            const std::vector<uint8_t> data(begin, begin + side.imageBytes);
            SCOPED_TRACE(std::to_string(seed) + (front ? " front" : " rear"));
            ExpectSame(test::GeneratedTables(), data);
        }
    }
}
#endif

}  // namespace
}  // namespace orvo
