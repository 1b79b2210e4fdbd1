#include <gtest/gtest.h>

#include <cstring>

#include "orvo/scanrun/micr_record.h"

namespace orvo::scanrun {
namespace {

TEST(MicrLine, CutsTheDriverTextAtItsSize) {
    // The driver's area holds the text, CR, LF; its size excludes the line end.
    const MicrLine line = TakeMicr("T021000021T 1234567890U 0001\r\n", 28);
    EXPECT_EQ(line.text, "T021000021T 1234567890U 0001");
    EXPECT_FALSE(line.error);
    EXPECT_EQ(FormatMicrRecord(3, line), "00000030T021000021T 1234567890U 0001\r\n");
}

TEST(MicrLine, ReadErrorCharactersSetTheFlag) {
    const MicrLine line = TakeMicr("T0210?0021T 12\r\n", 14);
    EXPECT_TRUE(line.error);
    const std::string record = FormatMicrRecord(12, line);
    EXPECT_EQ(record, std::string("00000121T0210?0021T 12\r\n"));
    EXPECT_EQ(record[7], '1');
    EXPECT_EQ(record.substr(record.size() - 2), "\r\n");
    EXPECT_TRUE(TakeMicr("12_4\r\n", 4).error);
}

TEST(MicrLine, ErrorsBeyondTheSizeDoNotCount) {
    EXPECT_EQ(CountReadErrors("1234_", 4), 0);
    EXPECT_EQ(CountReadErrors("1?3?_", 5), 3);
    EXPECT_EQ(CountReadErrors("1?3?_", 2), 1);
    EXPECT_EQ(CountReadErrors("?", -1), 0);
    const MicrLine line = TakeMicr("1234\r_\n", 4);
    EXPECT_FALSE(line.error);
    EXPECT_EQ(line.text, "1234");
}

TEST(MicrLine, OddDriverValuesStayBounded) {
    // Empty MICR (size 0): the record is number, flag and line end.
    EXPECT_EQ(FormatMicrRecord(1, TakeMicr("\r\n", 0)), "00000010\r\n");
    // A size beyond the text keeps the whole text.
    EXPECT_EQ(TakeMicr("AB", 40).text, "AB");
    EXPECT_EQ(TakeMicr(nullptr, 5).text, "");
    EXPECT_EQ(TakeMicr("ABC", -3).text, "");
    // An area without a terminating zero is read no further than its size.
    char area[kMicrAreaSize + 8];
    std::memset(area, '7', sizeof area);
    EXPECT_EQ(TakeMicr(area, 1000).text.size(), kMicrAreaSize);
    // Numbers wider than seven digits are written in full.
    EXPECT_EQ(FormatMicrRecord(12345678, TakeMicr("", 0)), "123456780\r\n");
}

TEST(MicrStatistics, TextAndRate) {
    MicrStatistics stats;
    EXPECT_EQ(stats.Text(), "MICR OK :\t0\nMICR ERR :\t0\nOK rate : \t 0.00%");
    const MicrLine good = TakeMicr("1\r\n", 1);
    const MicrLine bad = TakeMicr("?\r\n", 1);
    for (int i = 0; i < 3; ++i) stats.Add(good);
    stats.Add(bad);
    EXPECT_EQ(stats.Text(), "MICR OK :\t3\nMICR ERR :\t1\nOK rate : \t75.00%");

    MicrStatistics third;
    third.Add(good);
    third.Add(bad);
    third.Add(bad);
    EXPECT_EQ(third.Text(), "MICR OK :\t1\nMICR ERR :\t2\nOK rate : \t33.33%");
    EXPECT_EQ(third.good(), 1);
    EXPECT_EQ(third.bad(), 2);
}

}  // namespace
}  // namespace orvo::scanrun
