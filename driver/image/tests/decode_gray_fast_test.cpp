// The table-driven gray decoders against their bit-by-bit references: the
// derived tables, and identical rows, line results and page ends on scanner
// pages, hand-made lines, damaged and random data and unusual code tables.
#include <gtest/gtest.h>

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
constexpr uint8_t kGrayRowGuard = 0xA5;

using test::Bits;

enum class Depth { k8, k4 };

bool Line(Decoder& d, Depth depth, bool fast, uint8_t* row, std::size_t size) {
    if (depth == Depth::k8) {
        return fast ? d.DecodeGray8Line(row, size) : d.DecodeGray8LineReference(row, size);
    }
    return fast ? d.DecodeGray4Line(row, size) : d.DecodeGray4LineReference(row, size);
}

void Page(Decoder& d, Depth depth, bool fast, const uint8_t* data, std::size_t length, long lines,
          uint8_t* dst, std::size_t dstSize) {
    if (depth == Depth::k8) {
        if (fast) {
            d.DecodeGray8Page(data, length, lines, dst, dstSize);
        } else {
            d.DecodeGray8PageReference(data, length, lines, dst, dstSize);
        }
    } else if (fast) {
        d.DecodeGray4Page(data, length, lines, dst, dstSize);
    } else {
        d.DecodeGray4PageReference(data, length, lines, dst, dstSize);
    }
}

// Line after line from the same start: the same result, row bytes and
// exhaustion after every line; also with a row shorter than a whole one.
void ExpectSameLines(const CodeTables& tables, Depth depth, const std::vector<uint8_t>& data,
                     std::size_t rowSize = kGrayRowBytes) {
    auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
    std::copy(data.begin(), data.end(), copy.get());
    Decoder fast(tables);
    Decoder ref(tables);
    fast.Start(copy.get(), data.size());
    ref.Start(copy.get(), data.size());
    std::vector<uint8_t> fastRow(rowSize), refRow(rowSize);
    for (int line = 0; line < 100000 && !ref.Exhausted(); ++line) {
        std::fill(fastRow.begin(), fastRow.end(), kGrayRowGuard);
        std::fill(refRow.begin(), refRow.end(), kGrayRowGuard);
        const bool a = Line(fast, depth, true, fastRow.data(), rowSize);
        const bool b = Line(ref, depth, false, refRow.data(), rowSize);
        ASSERT_EQ(a, b) << "line " << line;
        ASSERT_EQ(fastRow, refRow) << "line " << line;
        ASSERT_EQ(fast.Exhausted(), ref.Exhausted()) << "line " << line;
    }
    EXPECT_TRUE(fast.Exhausted());
}

// Whole pages into exact-size, guard-filled buffers.
void ExpectSamePage(const CodeTables& tables, Depth depth, const std::vector<uint8_t>& data,
                    long lines, std::size_t dstRows) {
    auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
    std::copy(data.begin(), data.end(), copy.get());
    const std::size_t dstSize = dstRows * kGrayRowBytes;
    std::vector<uint8_t> fastRows(dstSize, kGrayRowGuard), refRows(dstSize, kGrayRowGuard);
    Decoder fast(tables);
    Decoder ref(tables);
    Page(fast, depth, true, copy.get(), data.size(), lines, fastRows.data(), dstSize);
    Page(ref, depth, false, copy.get(), data.size(), lines, refRows.data(), dstSize);
    for (std::size_t r = 0; r < dstRows; ++r) {
        const auto a = fastRows.begin() + static_cast<long>(r * kGrayRowBytes);
        const auto b = refRows.begin() + static_cast<long>(r * kGrayRowBytes);
        ASSERT_TRUE(std::equal(a, a + kGrayRowBytes, b)) << "row " << r;
    }
}

void ExpectSame(const CodeTables& tables, Depth depth, const std::vector<uint8_t>& data,
                bool shortRows = true) {
    ExpectSameLines(tables, depth, data);
    if (shortRows) ExpectSameLines(tables, depth, data, 7);
    const long lines = EolCount(data.data(), data.size());
    ExpectSamePage(tables, depth, data, lines, static_cast<std::size_t>(lines > 0 ? lines : 1) + 1);
}

// Every way a gray line can go: long runs of zero differences (several per
// table look-up), every magnitude, make-up codes and chains of them (256 with
// either sign), end marks, invalid and EOL-class codes, fill bits before
// EOLs, and lines longer than the 5184-value list.
Bits Gray8Lines() {
    Bits b;
    b.Text("1011");  // noise before the first EOL
    b.Eol();
    for (int v = -255; v <= 255; ++v) b.Gray8(v);
    b.Eol(3);
    for (int k = 0; k < 300; ++k) b.Gray8(k % 37 == 0 ? 5 : 0);
    b.Eol();
    for (int chain = 0; chain < 4; ++chain) {
        b.Bit(chain % 2).Put(codes::kGrayMakeUp[2]).Put(codes::kGrayMakeUp[0]);
        if (chain >= 2) b.Put(codes::kGrayMakeUp[1]);
        b.Put(codes::kGrayTerminating[chain * 9]).Gray8(-3);
    }
    b.Text("0").Put(codes::kGrayTerminating[0]).Gray8(9);  // end mark, then skipped values
    b.Eol(11);
    b.Gray8(4).Text("1").Put(codes::kGrayMakeUp[1]);  // make-up cut by an EOL
    b.Eol().Gray8(2).Text("111111111");               // no code within 8 bits
    b.Eol();
    for (int k = 0; k < 6000; ++k) b.Gray8(k % 3 == 0 ? 0 : (k % 5) - 2);
    b.Eol().Text("1").Put(codes::kGrayMakeUp[0]);
    for (int k = 0; k < 12; ++k) b.Put(codes::kGrayMakeUp[k % 3]);  // a long chain
    b.Put(codes::kGrayTerminating[1]).Gray8(1);
    b.Eol().Text("0").Put(codes::kGrayTerminating[0]);  // empty line
    b.Rtc();
    return b;
}

Bits Gray4Lines() {
    Bits b;
    b.Text("01");
    b.Eol();
    for (int v = -15; v <= 15; ++v) b.Gray4(v);
    b.Eol(5);
    for (int k = 0; k < 400; ++k) b.Gray4(k % 41 == 0 ? -7 : 0);
    b.Eol().Gray4(3).Text("00").Gray4(1);                          // end mark inside
    b.Eol().Gray4(13).Gray4(-15).Gray4(14).Text("1111011111111");  // long codes, then none
    b.Eol();
    for (int k = 0; k < 6000; ++k) b.Gray4(k % 4 == 0 ? 0 : (k % 7) - 3);
    b.Eol().Text("00");  // empty line
    b.Rtc();
    return b;
}

TEST(GrayFastTables, EightBitTablesHoldEveryValueAndTheZeroRun) {
    GrayFastTables t;
    DeriveGray8FastTables(test::GeneratedTables().gray, t);
    // The zero difference is 1 then 100: four bits, repeated.
    EXPECT_EQ(t.zeroLength, 4u);
    EXPECT_EQ(t.zeroRun, 0xCCCCCCCCCCCCCCCCull);
    EXPECT_EQ(t.zeroRuns[57], 14);
    for (int sign = 0; sign <= 1; ++sign) {
        for (int m = 0; m < 64; ++m) {
            const codes::CodeWord c = codes::kGrayTerminating[m];
            const unsigned taken = 1u + c.length;
            const uint32_t index =
                ((static_cast<uint32_t>(sign) << c.length | c.bits) << (kGrayFastBits - taken)) |
                1u;  // a 1 bit after it: no EOL ahead
            const uint32_t e = t.value[index] & 0xFFFF;
            if (sign == 0 && m == 0) {
                EXPECT_EQ(e, (kGrayFastEnd << 12) | (taken << 8));
            } else {
                const unsigned v = sign ? m : (0x100 - m) & 0xFF;
                EXPECT_EQ(e, (kGrayFastValue << 12) | (taken << 8) | v) << sign << " " << m;
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        const codes::CodeWord c = codes::kGrayMakeUp[i];
        const uint32_t index = (uint32_t{1} << c.length | c.bits) << (kGrayFastBits - 1 - c.length);
        EXPECT_EQ(t.value[index] & 0xFFFF,
                  (kGrayFastMakeUp << 12) | ((1u + c.length) << 8) | (i + 1));
        EXPECT_EQ(t.code[c.bits << (8 - c.length)], (c.length << 8) | 0xC0 | (i + 1));
    }
    EXPECT_EQ(t.value[0], kGrayFastEolAhead << 12);
    EXPECT_EQ(t.value[1], kGrayFastEolAhead << 12);
    EXPECT_NE(t.value[2] >> 12, kGrayFastEolAhead);
    // No code word of the table is 0000000x: eight bits without a code.
    EXPECT_EQ(t.code[0], 8 << 8);
    // Two values in twelve bits: +0 (1 100) and -1 (0 1010), then 1010 0...,
    // which is no second value once the first two are taken.
    EXPECT_EQ(t.value[0b110001010101],
              (kGrayFastValue << 12) | (4u << 8) | 0u | (((5u << 8) | 0xFFu) << 16));
    // +0, then +10 (1 11000111) that runs past the twelve bits: one value.
    EXPECT_EQ(t.value[0b110011100011], (kGrayFastValue << 12) | (4u << 8));
}

TEST(GrayFastTables, LoadedTablesAreDerivedAtLoad) {
    const char* dir = std::getenv("ORVOSCAN_SYSTEM_DIR");
    if (dir == nullptr || LoadCodeTables(dir) != 0) GTEST_SKIP() << "no code table files";
    auto expected = std::make_unique<GrayFastTables>();
    DeriveGray8FastTables(LoadedCodeTables().gray, *expected);
    EXPECT_EQ(0, std::memcmp(expected.get(), &LoadedFastTables().gray8, sizeof *expected));
}

TEST(GrayFastDecode, EightBitSameAsReferenceOnHandMadeLines) {
    const Bits b = Gray8Lines();
    ExpectSame(test::GeneratedTables(), Depth::k8, b.bytes());
    // Cut at every length near the end and at a spread of lengths before it:
    // the tables hand over to the bit walk exactly where the data end.
    const std::size_t size = b.bytes().size();
    for (std::size_t n = 0; n <= size; n += n + 40 < size ? 97 : 1) {
        SCOPED_TRACE(n);
        ExpectSame(
            test::GeneratedTables(), Depth::k8,
            std::vector<uint8_t>(b.bytes().begin(), b.bytes().begin() + static_cast<long>(n)));
    }
}

TEST(GrayFastDecode, FourBitSameAsReferenceOnHandMadeLines) {
    const Bits b = Gray4Lines();
    ExpectSame(test::GeneratedTables(), Depth::k4, b.bytes());
    const std::size_t size = b.bytes().size();
    for (std::size_t n = 0; n <= size; n += n + 40 < size ? 89 : 1) {
        SCOPED_TRACE(n);
        ExpectSame(
            test::GeneratedTables(), Depth::k4,
            std::vector<uint8_t>(b.bytes().begin(), b.bytes().begin() + static_cast<long>(n)));
    }
}

TEST(GrayFastDecode, SameAsReferenceOnRandomAndDamagedData) {
    std::mt19937 rng(29);
    const Bits good8 = Gray8Lines();
    const Bits good4 = Gray4Lines();
    for (int round = 0; round < 160; ++round) {
        SCOPED_TRACE(round);
        const Depth depth = round % 4 < 2 ? Depth::k8 : Depth::k4;
        const std::vector<uint8_t> data =
            round % 2 == 0 ? test::DamagedData((depth == Depth::k8 ? good8 : good4).bytes(),
                                               1 + round % 9, round % 8 == 0, rng)
                           : test::RandomBitData(3000, rng);
        ExpectSame(test::GeneratedTables(), depth, data);
        const long lines = static_cast<long>(rng() % 40) - 2;
        ExpectSamePage(test::GeneratedTables(), depth, data, lines, rng() % 8);
    }
}

// The 8-bit fast tables come from whatever gray table was loaded: tables
// with EOL-class entries, make-up codes of value 0, long and missing zero
// codes, or nothing at all give the same rows as the bit walk.
TEST(GrayFastDecode, EightBitSameAsReferenceWithUnusualCodeTables) {
    std::mt19937 rng(31);
    const std::vector<uint8_t> data8 = Gray8Lines().bytes();
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        auto tables = std::make_unique<CodeTables>(test::GeneratedTables());
        for (int k = 0; k < 1 + round; ++k) {
            const uint32_t v = rng();
            tables->gray[v % kGrayCodeTableSize] = static_cast<uint8_t>(v >> 12);
        }
        if (round % 5 == 0) tables->gray[2 + 1] = 0x80;  // a one-bit zero code: 1
        if (round % 7 == 0) tables->gray[0b1100] = 0;    // the usual zero code gone
        std::vector<uint8_t> data(1 + rng() % 2000);
        for (auto& x : data) x = static_cast<uint8_t>(rng() | rng());
        ExpectSame(*tables, Depth::k8, data);
        ExpectSame(*tables, Depth::k8, data8);
    }
    auto empty = std::make_unique<CodeTables>();
    ExpectSame(*empty, Depth::k8, data8);
}

#ifdef ORVO_HAVE_SIM
// The virtual scanner's gray cheques, fronts and rears, 8-bit and 4-bit,
// with and without fill bits: identical rows, and the rows are the pixels.
TEST(GrayFastDecode, SameAsReferenceOnScannerPages) {
    for (int seed = 1; seed <= 2; ++seed) {
        for (bool front : {true, false}) {
            for (Depth depth : {Depth::k8, Depth::k4}) {
                sim::WindowSettings w = sim::WindowSettings::PowerOn();
                w.scanWidth = 1728;
                w.scanMode[0] = depth == Depth::k8 ? 4 : 3;
                sim::SideOptions options;
                options.alignEol = seed % 2 == 0;
                const sim::Image page = sim::SyntheticCheque(seed, front);
                const sim::SideData side = sim::BuildSide(page, front, w, options);
                ASSERT_TRUE(side.coded);
                const auto begin = side.bytes.begin() + static_cast<long>(sim::kSideHeaderSize);
                const std::vector<uint8_t> data(begin, begin + side.imageBytes);
                SCOPED_TRACE(std::to_string(seed) + (front ? " front" : " rear"));
                ExpectSame(test::GeneratedTables(), depth, data, false);
            }
        }
    }
}
#endif

}  // namespace
}  // namespace orvo
