// The decoders on hand-made bit streams, on libtiff's own Group 3 data and on
// damaged data.
#include "orvo/image/decode.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <random>

#include "orvo/image/framing.h"
#include "test_bits.h"

namespace orvo {
namespace {

using test::Bits;

constexpr uint8_t kUntouched = 0x5A;

struct MhPage {
    std::vector<uint8_t> work = std::vector<uint8_t>(1 << 16);
    std::vector<uint8_t> rows;
    explicit MhPage(std::size_t nRows) : rows(nRows * kMhRowBytes, kUntouched) {}
    const uint8_t* row(std::size_t r) const { return rows.data() + r * kMhRowBytes; }
    void Decode(const std::vector<uint8_t>& data, long lines) {
        Decoder d(test::GeneratedTables());
        d.DecodeMhPage(data.data(), data.size(), lines, work.data(), work.size(), rows.data(),
                       rows.size());
    }
};

std::vector<uint8_t> Row(const std::vector<int>& runs) {
    std::vector<uint8_t> r(kMhRowBytes, 0);
    int x = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (int p = x; p < x + runs[i] && p < kLinePixels; ++p) {
            if (i % 2 == 1) r[p / 8] |= static_cast<uint8_t>(0x80 >> (p % 8));
        }
        x += runs[i];
    }
    return r;
}

std::vector<uint8_t> Bytes(const uint8_t* p, std::size_t n) {
    return {p, p + n};
}

TEST(MhDecode, PageOfNLinesFillsRowsOneToNMinusOne) {
    const std::vector<std::vector<int>> lines = {
        {0, 5, 10, 2577}, {1000, 3, 1589}, {2592}, {64, 64, 64, 2400}, {7, 1, 2584}};
    Bits b;
    b.Text("1111");
    for (const auto& l : lines) b.MhLine(l);
    b.Rtc();
    const long n = EolCount(b.bytes().data(), b.bytes().size());
    ASSERT_EQ(n, 5);
    MhPage page(8);
    page.Decode(b.bytes(), n);
    EXPECT_EQ(Bytes(page.row(0), kMhRowBytes), std::vector<uint8_t>(kMhRowBytes, kUntouched));
    for (int r = 1; r < n; ++r) EXPECT_EQ(Bytes(page.row(r), kMhRowBytes), Row(lines[r - 1])) << r;
    // The last line is not decoded, and nothing beyond it.
    for (int r = n; r < 8; ++r) {
        EXPECT_EQ(Bytes(page.row(r), kMhRowBytes), std::vector<uint8_t>(kMhRowBytes, kUntouched));
    }
    // White run 0 first: the line starts black; make-up 960 + 40 gives 1000.
    EXPECT_EQ(page.row(1)[0], 0xF8);
    EXPECT_EQ(page.row(2)[125], 0xE0);
}

TEST(MhDecode, FillBitsBeforeEveryEolAreAccepted) {
    Bits b;
    for (int fill : {0, 3, 7, 13, 30}) b.Eol(fill).Run(false, 20).Run(true, 2572);
    b.Eol(5).Rtc();
    MhPage page(8);
    page.Decode(b.bytes(), EolCount(b.bytes().data(), b.bytes().size()));
    for (int r = 1; r <= 5; ++r) EXPECT_EQ(Bytes(page.row(r), kMhRowBytes), Row({20, 2572})) << r;
}

TEST(MhDecode, RunsPastTheLineAreDropped) {
    Bits b;
    b.MhLine({100, 3000, 50}).MhLine({2592, 4000}).MhLine({1}).Rtc();
    MhPage page(5);
    page.Decode(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), kMhRowBytes), Row({100, 2492}));
    EXPECT_EQ(Bytes(page.row(2), kMhRowBytes), Row({2592}));
}

TEST(MhDecode, EmptyLineDoesNotUseARow) {
    Bits b;
    b.MhLine({10, 10, 2572}).Eol().MhLine({20, 20, 2552}).MhLine({1}).Rtc();
    MhPage page(5);
    page.Decode(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), kMhRowBytes), Row({10, 10}));
    EXPECT_EQ(Bytes(page.row(2), kMhRowBytes), Row({20, 20}));
    EXPECT_EQ(page.row(3)[0], kUntouched);
}

TEST(MhDecode, BrokenMakeUpEndsTheLineWhite) {
    // A black make-up code followed by an EOL: the line holds the runs before.
    Bits b;
    b.Eol().Run(false, 8).Put(codes::MhMakeUp(true, 128)).MhLine({4, 4, 2584}).Rtc();
    MhPage page(5);
    page.Decode(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), kMhRowBytes), Row({8}));
    EXPECT_EQ(Bytes(page.row(2), kMhRowBytes), Row({4, 4, 2584}));
}

TEST(MhDecode, FewerThanTwoLinesOrNoEolDecodeNothing) {
    Bits b;
    b.MhLine({5, 5}).Rtc();
    for (long lines : {-6L, 0L, 1L}) {
        MhPage page(3);
        page.Decode(b.bytes(), lines);
        EXPECT_EQ(page.rows, std::vector<uint8_t>(3 * kMhRowBytes, kUntouched));
    }
    Bits noEol;
    noEol.Text(std::string(40, '1')).Run(false, 5);
    MhPage page(3);
    page.Decode(noEol.bytes(), 5);
    EXPECT_EQ(page.rows, std::vector<uint8_t>(3 * kMhRowBytes, kUntouched));
}

TEST(MhDecode, TheLastBitOfTheDataNeverEntersACode) {
    // White 2 (0111) ends exactly on the last bit: the reader is exhausted first.
    Bits b;
    b.Eol().Text("0111");
    ASSERT_EQ(b.bitCount(), 16u);
    Decoder d(test::GeneratedTables());
    d.Start(b.bytes().data(), b.bytes().size());
    ASSERT_TRUE(d.SkipToEol());
    uint8_t row[kMhRowBytes];
    EXPECT_FALSE(d.DecodeMhLine(row, sizeof row));
    // With one more byte the same code is read.
    Bits c;
    c.Eol().Text("0111").Run(true, 3).Pad(1);
    d.Start(c.bytes().data(), c.bytes().size());
    ASSERT_TRUE(d.SkipToEol());
    EXPECT_TRUE(d.DecodeMhLine(row, sizeof row));
    EXPECT_EQ(Bytes(row, kMhRowBytes), Row({2, 3}));
}

TEST(MhDecode, StopsAtTheLastWholeRowThatFits) {
    Bits b;
    for (int i = 0; i < 10; ++i) b.MhLine({i, 1, 2591 - i});
    b.Rtc();
    std::vector<uint8_t> rows(3 * kMhRowBytes + 100, kUntouched);  // rows 1 and 2 fit
    std::vector<uint8_t> work(4096);
    Decoder d(test::GeneratedTables());
    d.DecodeMhPage(b.bytes().data(), b.bytes().size(), 10, work.data(), work.size(), rows.data(),
                   rows.size());
    EXPECT_EQ(Bytes(rows.data() + 2 * kMhRowBytes, kMhRowBytes), Row({1, 1, 2590}));
    EXPECT_EQ(Bytes(rows.data() + 3 * kMhRowBytes, 100), std::vector<uint8_t>(100, kUntouched));
    // A work buffer smaller than the data cuts the data.
    std::vector<uint8_t> small(8);
    std::fill(rows.begin(), rows.end(), kUntouched);
    d.DecodeMhPage(b.bytes().data(), b.bytes().size(), 10, small.data(), small.size(), rows.data(),
                   rows.size());
    // 63 usable bits: line 1 whole, line 2 up to its first run.
    EXPECT_EQ(Bytes(rows.data() + kMhRowBytes, kMhRowBytes), Row({0, 1, 2591}));
    EXPECT_EQ(Bytes(rows.data() + 2 * kMhRowBytes, kMhRowBytes), Row({1}));
    EXPECT_EQ(rows[3 * kMhRowBytes], kUntouched);
}

// MH data made by libtiff's own Group 3 1-D encoder decode to its source rows.
TEST(MhDecode, DecodesLibtiffGroup3Data) {
    constexpr int kRows = 60;
    std::mt19937 rng(11);
    std::vector<std::vector<uint8_t>> source;
    for (int r = 0; r < kRows; ++r) {
        std::vector<uint8_t> row(kMhRowBytes, 0);
        int x = static_cast<int>(rng() % 40);
        while (x < kLinePixels) {
            const int len = static_cast<int>(rng() % (r % 3 == 0 ? 2000 : 70)) + 1;
            for (int p = x; p < x + len && p < kLinePixels; ++p) {
                row[p / 8] |= static_cast<uint8_t>(0x80 >> (p % 8));
            }
            x += len + static_cast<int>(rng() % 90) + 1;
        }
        source.push_back(row);
    }
    for (uint32_t options : {0u, static_cast<uint32_t>(GROUP3OPT_FILLBITS)}) {
        SCOPED_TRACE(options);
        char path[] = "/tmp/orvo-g3-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        TIFF* out = TIFFOpen(path, "w");
        ASSERT_NE(out, nullptr);
        TIFFSetField(out, TIFFTAG_IMAGEWIDTH, kLinePixels);
        TIFFSetField(out, TIFFTAG_IMAGELENGTH, kRows);
        TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, options);
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, kRows);
        for (int r = 0; r < kRows; ++r) {
            ASSERT_EQ(TIFFWriteScanline(out, source[r].data(), r, 0), 1);
        }
        TIFFClose(out);
        TIFF* in = TIFFOpen(path, "r");
        ASSERT_NE(in, nullptr);
        std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFRawStripSize(in, 0)));
        ASSERT_GT(TIFFReadRawStrip(in, 0, strip.data(), static_cast<tmsize_t>(strip.size())), 0);
        TIFFClose(in);
        unlink(path);

        // libtiff leaves the RTC out of the strip; the scanner sends one.
        Bits rtc;
        rtc.Rtc();
        strip.insert(strip.end(), rtc.bytes().begin(), rtc.bytes().end());
        const long lines = EolCount(strip.data(), strip.size());
        EXPECT_EQ(lines, kRows);
        MhPage page(kRows + 1);
        page.work.resize(strip.size());
        page.Decode(strip, lines);
        for (int r = 1; r < kRows; ++r) {
            EXPECT_EQ(Bytes(page.row(r), kMhRowBytes), source[r - 1]) << "row " << r;
        }
    }
}

// ---- gray pages ----

struct GrayPage {
    std::vector<uint8_t> rows;
    explicit GrayPage(std::size_t nRows) : rows(nRows * kGrayRowBytes, kUntouched) {}
    const uint8_t* row(std::size_t r) const { return rows.data() + r * kGrayRowBytes; }
    void Decode8(const std::vector<uint8_t>& d, long lines) {
        Decoder(test::GeneratedTables())
            .DecodeGray8Page(d.data(), d.size(), lines, rows.data(), rows.size());
    }
    void Decode4(const std::vector<uint8_t>& d, long lines) {
        Decoder(test::GeneratedTables())
            .DecodeGray4Page(d.data(), d.size(), lines, rows.data(), rows.size());
    }
};

std::vector<uint8_t> Pixels(const std::vector<int>& values) {
    std::vector<uint8_t> p;
    uint8_t v = 0;
    for (int d : values) p.push_back(v = static_cast<uint8_t>(v - d));
    return p;
}

Bits& Gray8Line(Bits& b, const std::vector<int>& values) {
    b.Eol();
    for (int v : values) b.Gray8(v);
    return b;
}

TEST(Gray8Decode, LinesBecomeRunningDifferences) {
    const std::vector<int> a = {-200, 0, 5, -5, 130, 64, -191, 63, 1};
    const std::vector<int> c = {-100, 3, 3};
    Bits b;
    Gray8Line(b, a);
    Gray8Line(b, c);
    b.Rtc();
    const long lines = EolCount(b.bytes().data(), b.bytes().size());
    ASSERT_EQ(lines, 2);
    // Two lines and the RTC: the page decodes the first line only.
    GrayPage page(4);
    page.Decode8(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), a.size()), Pixels(a));
    EXPECT_EQ(page.row(1)[a.size()], kUntouched);  // nothing beyond the pixels
    EXPECT_EQ(Bytes(page.row(2), c.size()), Pixels(c));
    EXPECT_EQ(page.row(0)[0], kUntouched);
    EXPECT_EQ(page.row(3)[0], kUntouched);
}

TEST(Gray8Decode, SignZeroMagnitudeZeroEndsTheLine) {
    Bits b;
    Gray8Line(b, {4, 4}).Text("0").Put(codes::kGrayTerminating[0]).Gray8(9);  // 9 dropped
    b.Eol().Text("0").Put(codes::kGrayTerminating[0]).Gray8(1);               // empty line
    Gray8Line(b, {7});
    b.Rtc();
    GrayPage page(5);
    page.Decode8(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), 3), (std::vector<uint8_t>{252, 248, kUntouched}));
    EXPECT_EQ(page.row(2)[0], kUntouched);  // skipped, left as it was
    EXPECT_EQ(page.row(3)[0], 249);         // the row moved on all the same
}

TEST(Gray8Decode, MakeUpCodesAddingUpTo256AreAValueOfZero) {
    // 192 + 64 + 0 = 256 keeps to 0 in its low 8 bits: with sign 0 it is not
    // the end mark, the pixel repeats and the line goes on.
    auto twoFiftySix = [](Bits& b, int sign) -> Bits& {
        return b.Bit(sign)
            .Put(codes::kGrayMakeUp[2])
            .Put(codes::kGrayMakeUp[0])
            .Put(codes::kGrayTerminating[0]);
    };
    Bits b;
    Gray8Line(b, {-5});
    twoFiftySix(b, 0).Gray8(-7);
    twoFiftySix(b, 1).Gray8(2);
    Gray8Line(b, {-1});
    b.Rtc();
    GrayPage page(4);
    page.Decode8(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), 6), (std::vector<uint8_t>{5, 5, 12, 12, 10, kUntouched}));
    EXPECT_EQ(Bytes(page.row(2), 2), (std::vector<uint8_t>{1, kUntouched}));
}

TEST(Gray8Decode, LongLinesKeepToTheirRow) {
    std::vector<int> values(kGrayValueCount + 100, -1);
    Bits b;
    Gray8Line(b, values);
    Gray8Line(b, {2});
    b.Rtc();
    GrayPage page(4);
    page.Decode8(b.bytes(), 3);
    for (std::size_t k = 0; k < kGrayRowBytes; ++k) ASSERT_EQ(page.row(1)[k], (k + 1) & 0xFF);
    // The 5184-value list ended the first line; the rest of it is skipped by
    // the next line's search for its EOL.
    EXPECT_EQ(page.row(2)[0], 254);
}

TEST(Gray8Decode, FillBitsAndNoRtc) {
    Bits b;
    b.Eol(9).Gray8(3).Gray8(-3).Eol(4).Gray8(1).Rtc();
    GrayPage page(3);
    page.Decode8(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), 2), (std::vector<uint8_t>{253, 0}));
    EXPECT_EQ(page.row(2)[0], 255);
    // A page whose coded length was cut to nothing decodes nothing.
    GrayPage none(3);
    none.Decode8({}, -6);
    none.Decode8(b.bytes(), 1);
    EXPECT_EQ(none.rows, std::vector<uint8_t>(3 * kGrayRowBytes, kUntouched));
}

Bits& Gray4Line(Bits& b, const std::vector<int>& values) {
    b.Eol();
    for (int v : values) b.Gray4(v);
    return b;
}

TEST(Gray4Decode, PacksTwoPixelsPerByteAndClearsToThePixelCount) {
    const std::vector<int> odd = {-3, -4, -15};  // pixels 3, 7, 22
    const std::vector<int> even = {-1, -14, 13, 15};
    Bits b;
    Gray4Line(b, odd);
    Gray4Line(b, even);
    b.Eol().Rtc();
    GrayPage page(4);
    page.Decode4(b.bytes(), 3);
    EXPECT_EQ(Bytes(page.row(1), 4), (std::vector<uint8_t>{0x37, 0x60, 0x00, kUntouched}));
    // pixels 1, 15, 2, 243: bytes 0x1F, 0x23, then bytes 2 and 3 cleared
    EXPECT_EQ(Bytes(page.row(2), 5), (std::vector<uint8_t>{0x1F, 0x23, 0x00, 0x00, kUntouched}));
}

TEST(Gray4Decode, DataRunningOutRepeatsTheLastPixel) {
    Bits b;
    b.Eol().Gray4(-5).Gray4(-1).Pad(1);  // sign 1, then a code cut short
    GrayPage page(3);
    page.Decode4(b.bytes(), 5);
    EXPECT_EQ(page.row(1)[0], 0x56);
    for (std::size_t k = 1; k < kGrayRowBytes; ++k) ASSERT_EQ(page.row(1)[k], 0x66) << k;
    EXPECT_EQ(page.row(2)[0], kUntouched);  // the data are exhausted: no more rows
}

TEST(Gray4Decode, EndMarkEndsTheLine) {
    Bits b;
    b.Eol().Text("00").Gray4(3);             // empty line
    b.Eol().Gray4(-2).Text("00").Gray4(-9);  // end mark inside
    b.Eol().Gray4(-8).Rtc();
    GrayPage page(5);
    page.Decode4(b.bytes(), 4);
    EXPECT_EQ(page.row(1)[0], kUntouched);
    EXPECT_EQ(Bytes(page.row(2), 2), (std::vector<uint8_t>{0x20, kUntouched}));
    EXPECT_EQ(Bytes(page.row(3), 2), (std::vector<uint8_t>{0x80, kUntouched}));
}

// Damaged and truncated data: nothing is read or written out of bounds (run
// under the address sanitizer), and every page ends.
TEST(DamagedData, NeverLeavesTheBuffers) {
    std::mt19937 rng(5);
    Bits good;
    for (int i = 0; i < 20; ++i) good.MhLine({i * 7, 100 + i, 2000});
    good.Rtc();
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> data;
        if (round % 3 == 0) {
            data = good.bytes();
            for (int k = 0; k < 10; ++k) data[rng() % data.size()] ^= static_cast<uint8_t>(rng());
            data.resize(rng() % data.size());
        } else {
            data.resize(rng() % 3000);
            for (auto& x : data) x = static_cast<uint8_t>(rng() & (round % 2 ? 0xFF : 0x11));
        }
        // Exact-size heap copies, so that any overread is caught.
        auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
        std::copy(data.begin(), data.end(), copy.get());
        const std::size_t dstSize = rng() % (6 * kGrayRowBytes);
        auto dst = std::make_unique<uint8_t[]>(dstSize + 1);
        std::vector<uint8_t> work(rng() % 4000);
        const long lines = static_cast<long>(rng() % 5000) - 10;
        Decoder d(test::GeneratedTables());
        d.DecodeMhPage(copy.get(), data.size(), lines, work.data(), work.size(), dst.get(),
                       dstSize);
        d.DecodeGray8Page(copy.get(), data.size(), lines, dst.get(), dstSize);
        d.DecodeGray4Page(copy.get(), data.size(), lines, dst.get(), dstSize);
    }
}

}  // namespace
}  // namespace orvo
