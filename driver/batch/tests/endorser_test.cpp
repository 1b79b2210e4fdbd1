#include "orvo/batch/endorser.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvo {
namespace {

std::string Expand(const std::string& format, int year = 2003, int month = 5, int day = 14) {
    std::string text = "stale";
    EXPECT_TRUE(BuildEndorserText(format, year, month, day, text)) << format;
    return text;
}

bool Rejected(const std::string& format) {
    std::string text;
    return !BuildEndorserText(format, 2003, 5, 14, text);
}

TEST(EndorserText, ExpandsEveryPiece) {
    EXPECT_EQ(Expand("$Y$M$D"), "20030514");
    EXPECT_EQ(Expand("No.$N5"), "No.$N5");
    EXPECT_EQ(Expand("$$"), "$");
    EXPECT_EQ(Expand("NO.$N6 $Y/$M/$D", 2003, 3, 5), "NO.$N6 2003/03/05");
    EXPECT_EQ(Expand(""), "");
    EXPECT_EQ(Expand("PAID"), "PAID");
    EXPECT_EQ(Expand("$$Y"), "$Y");
    EXPECT_EQ(Expand("$N0$N9"), "$N0$N9");
    EXPECT_EQ(Expand("$Y", 987, 1, 1), "0987");
    EXPECT_EQ(Expand("$M$D", 2003, 12, 31), "1231");
}

TEST(EndorserText, RejectsBadDollarSequences) {
    EXPECT_TRUE(Rejected("$"));
    EXPECT_TRUE(Rejected("$N"));
    EXPECT_TRUE(Rejected("$Nx"));
    EXPECT_TRUE(Rejected("$y"));
    EXPECT_TRUE(Rejected("$X"));
    EXPECT_TRUE(Rejected("$m"));
    EXPECT_TRUE(Rejected("$n5"));
    EXPECT_TRUE(Rejected("ABC $"));
    EXPECT_TRUE(Rejected("$Y$M$D$N"));
    EXPECT_TRUE(Rejected("$ "));
}

TEST(EndorserText, CutBeforeThePieceThatDoesNotFit) {
    // 33 characters, then a 4-digit year: cut before the year.
    const std::string head(33, 'a');
    EXPECT_EQ(Expand(head + "$Y"), head);
    // 31 characters and the year make exactly 35.
    const std::string head31(31, 'b');
    EXPECT_EQ(Expand(head31 + "$Y"), head31 + "2003");
    // 33 characters and a 3-character $N piece do not fit, the day does.
    EXPECT_EQ(Expand(head + "$N1"), head);
    EXPECT_EQ(Expand(head + "$D"), head + "14");
    // Long expansions of a 35-character template.
    const std::string dates = "$Y$M$D $Y$M$D $Y$M$D $Y$M$D $Y$M$D";
    EXPECT_EQ(Expand(dates), "20030514 20030514 20030514 20030514");
    const std::string text = Expand("$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y");
    EXPECT_EQ(text, "20032003200320032003200320032003");
    // Once the text is full the walk stops; a later bad sequence is not seen.
    EXPECT_EQ(Expand("$Y$Y$Y$Y$Y$Y$Y$Y$Y$q"), "20032003200320032003200320032003");
    // A bad sequence is found before its length is checked.
    EXPECT_TRUE(Rejected("$Y$Y$Y$Y$Y$Y$Y$Yabc$q"));
    EXPECT_EQ(Expand("$Y$Y$Y$Y$Y$Y$Y$Yabc$$"), "20032003200320032003200320032003abc");
}

TEST(EndorserText, TextNeverLongerThan35) {
    for (int len = 0; len < 60; ++len) {
        std::string text;
        ASSERT_TRUE(BuildEndorserText(std::string(len, 'z'), 2003, 5, 14, text));
        EXPECT_EQ(text.size(), std::min<std::size_t>(len, 35));
    }
    std::string text;
    ASSERT_TRUE(BuildEndorserText("$Y$Y$Y$Y$Y$Y$Y$Y$Y", -2147483647 - 1, 0, 0, text));
    EXPECT_LE(text.size(), kEndorserTextMax);
}

TEST(EndorserDate, EightCharactersSelectTheKeyDate) {
    const EndorserDateParts d = EndorserDate("20030514", 2024, 1, 2);
    EXPECT_EQ(d.year, 2003);
    EXPECT_EQ(d.month, 5);
    EXPECT_EQ(d.day, 14);
    // Each part is read like atoi: leading digits, 0 without any.
    const EndorserDateParts odd = EndorserDate("20x3ab1c", 2024, 1, 2);
    EXPECT_EQ(odd.year, 20);
    EXPECT_EQ(odd.month, 0);
    EXPECT_EQ(odd.day, 1);
    const EndorserDateParts signs = EndorserDate(" 999-1+2", 2024, 1, 2);
    EXPECT_EQ(signs.year, 999);
    EXPECT_EQ(signs.month, -1);
    EXPECT_EQ(signs.day, 2);
}

TEST(EndorserDate, OtherLengthsSelectTheLocalDate) {
    for (const char* key : {"", "2003051", "200305140", "2003-05-14"}) {
        const EndorserDateParts d = EndorserDate(key, 2024, 1, 2);
        EXPECT_EQ(d.year, 2024) << key;
        EXPECT_EQ(d.month, 1) << key;
        EXPECT_EQ(d.day, 2) << key;
    }
}

}  // namespace
}  // namespace orvo
