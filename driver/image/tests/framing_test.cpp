// EOL anchors, RTC search and EOL count over coded data.
#include "orvo/image/framing.h"

#include <gtest/gtest.h>

#include <random>

#include "test_bits.h"

namespace orvo {
namespace {

using test::Bits;

long Anchors(const std::vector<uint8_t>& d) {
    return EolCount(d.data(), d.size()) + 6;
}

TEST(EolAnchor, FindsAnEolAtEveryBitAlignmentOnce) {
    for (int lead = 0; lead < 24; ++lead) {
        Bits b;
        b.Text(std::string(lead, '1')).Eol().Text("1111111111111111");
        const auto& d = b.bytes();
        const std::size_t finalByte = static_cast<std::size_t>(lead + 11) / 8;
        for (std::size_t i = 0; i < d.size(); ++i) {
            EXPECT_EQ(IsEolAnchor(d.data(), d.size(), i), i + 1 == finalByte)
                << "lead " << lead << " index " << i;
        }
    }
}

TEST(EolAnchor, FillBitsAreCountedOnce) {
    for (int lead = 0; lead < 8; ++lead) {
        for (int fill = 0; fill <= 30; ++fill) {
            Bits b;
            b.Text(std::string(lead, '1')).Eol(fill).Text("10101010");
            EXPECT_EQ(Anchors(b.bytes()), 1) << "lead " << lead << " fill " << fill;
        }
    }
}

TEST(EolAnchor, TenZerosAreNoEol) {
    Bits b;
    b.Text("1").Text(std::string(10, '0')).Text("1").Text(std::string(10, '0')).Text("11111111");
    EXPECT_EQ(Anchors(b.bytes()), 0);
    EXPECT_FALSE(IsEolAnchor(b.bytes().data(), b.bytes().size(), b.bytes().size()));
    EXPECT_FALSE(IsEolAnchor(nullptr, 0, 0));
}

TEST(EolAnchor, EolInTheLastByteUsesZeroAfterTheData) {
    // The byte after the data counts as 0x00, so an EOL ending in the last
    // byte is found at the byte before it, but nothing is found past the end.
    const uint8_t d[] = {0xFF, 0x00, 0x01};
    EXPECT_TRUE(IsEolAnchor(d, 3, 1));
    EXPECT_FALSE(IsEolAnchor(d, 3, 2));
}

TEST(RtcSearch, EndsAtTheByteHoldingTheLastBitOfTheSixthEol) {
    for (int lead = 0; lead < 8; ++lead) {
        Bits b;
        b.Text(std::string(lead, '1')).MhLine({10, 20, 30, 40}).MhLine({30, 50, 60}).Rtc();
        const std::size_t lastBit = b.bitCount() - 1;
        b.Text("1111111111111111");
        EXPECT_EQ(RtcSearch(b.bytes().data(), b.bytes().size()), static_cast<long>(lastBit / 8))
            << "lead " << lead;
    }
}

TEST(RtcSearch, NeedsSixEolsAtMostTwoBytesApart) {
    Bits five;
    five.Eol().Eol().Eol().Eol().Eol().Text("11111111");
    EXPECT_EQ(RtcSearch(five.bytes().data(), five.bytes().size()), -1);

    // Three EOLs, then data long enough to break the run, then three more.
    Bits split;
    split.Eol().Eol().Eol().Text(std::string(40, '1')).Eol().Eol().Eol().Text("11111111");
    EXPECT_EQ(RtcSearch(split.bytes().data(), split.bytes().size()), -1);

    // Lines are long, so the EOLs before them never form a run with the RTC.
    Bits page;
    page.MhLine({100, 2492}).MhLine({2592}).Rtc();
    const long end = RtcSearch(page.bytes().data(), page.bytes().size());
    EXPECT_EQ(end, static_cast<long>((page.bitCount() - 1) / 8));
    EXPECT_EQ(RtcSearch(nullptr, 0), -1);
}

TEST(RtcSearch, RunAtTheStartOfTheDataIsNotReset) {
    // An RTC in the very first bytes: indices 0 to 2 never reset the run.
    Bits b;
    b.Rtc().Text("11111111");
    EXPECT_EQ(RtcSearch(b.bytes().data(), b.bytes().size()), 8);
}

TEST(EolCount, OneRtcAndNLinesGiveN) {
    for (int n : {0, 1, 2, 7}) {
        Bits b;
        for (int i = 0; i < n; ++i) b.MhLine({i, 2592 - i});
        b.Rtc();
        EXPECT_EQ(EolCount(b.bytes().data(), b.bytes().size()), n);
    }
    EXPECT_EQ(EolCount(nullptr, 0), -6);
}

TEST(EolCount, EveryAnchorIsFoundWhereverItLies) {
    // Data dense in bytes with a 0 low nibble (the only anchor candidates),
    // at every length and start, against a plain byte-by-byte count.
    std::mt19937 rng(3);
    std::vector<uint8_t> data(300);
    for (int round = 0; round < 50; ++round) {
        for (auto& x : data) x = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() & rng() & 0xF1);
        for (std::size_t start : {0, 1, 7}) {
            for (std::size_t n = 0; n + start <= data.size(); n += 13) {
                const uint8_t* d = data.data() + start;
                long plain = 0;
                for (std::size_t i = 0; i < n; ++i) plain += IsEolAnchor(d, n, i) ? 1 : 0;
                ASSERT_EQ(EolCount(d, n), plain - 6) << round << " " << start << " " << n;
            }
        }
    }
}

TEST(RtcSearchCounting, CountsTheAnchorsThroughTheRtc) {
    Bits page;
    page.MhLine({100, 2492}).MhLine({2592}).MhLine({5, 5, 2582}).Rtc();
    page.MhLine({2592}).Rtc();  // a second page after the first RTC
    const auto& d = page.bytes();
    const RtcScan scan = RtcSearchCounting(d.data(), d.size());
    EXPECT_EQ(scan.rtc, RtcSearch(d.data(), d.size()));
    EXPECT_EQ(scan.anchors, 9);
    EXPECT_EQ(EolCount(d.data(), static_cast<std::size_t>(scan.rtc) + 1), 3);
    // No RTC: every anchor.
    Bits lines;
    lines.MhLine({2592}).MhLine({2592}).Eol();
    const RtcScan none = RtcSearchCounting(lines.bytes().data(), lines.bytes().size());
    EXPECT_EQ(none.rtc, -1);
    EXPECT_EQ(none.anchors, 3);
}

}  // namespace
}  // namespace orvo
