#include "orvo/platform/clock.h"

#include <gtest/gtest.h>

#include "clock_detail.h"

namespace orvo::platform {
namespace {

TEST(ClockTest, TicksSinceCountsAcrossTheWrap) {
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(TicksSince(100u, 100u), 0u);
    EXPECT_EQ(TicksSince(0u, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(ClockTest, TickCountAdvancesAtLeastBySleptTime) {
    const uint32_t start = TickCount();
    SleepMs(20);
    EXPECT_GE(TicksSince(start, TickCount()), 20u);
}

TEST(ClockTest, RealMsFollowsTheScale) {
    EXPECT_EQ(RealMs(0), 0u);
    EXPECT_GE(RealMs(1), 1u);
    const double scale = TimeScale();
    EXPECT_GE(scale, 1.0);
    EXPECT_LE(RealMs(25000), static_cast<uint32_t>(25000 / scale) + 1);
    EXPECT_GE(RealMs(25000), static_cast<uint32_t>(25000 / scale));
}

TEST(ClockTest, TimeScaleTextIsAcceptedOnlyWhenSound) {
    EXPECT_EQ(detail::ParseTimeScale(nullptr), 1.0);
    EXPECT_EQ(detail::ParseTimeScale(""), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("50"), 50.0);
    EXPECT_EQ(detail::ParseTimeScale("2.5"), 2.5);
    EXPECT_EQ(detail::ParseTimeScale("0.5"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("-3"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("fast"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("50x"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("inf"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("nan"), 1.0);
    EXPECT_EQ(detail::ParseTimeScale("1e300"), 1e6);
}

TEST(ClockTest, NowGivesAPlausibleLocalTime) {
    const LocalTime t = Now();
    EXPECT_GE(t.year, 2000);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 60);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
}

}  // namespace
}  // namespace orvo::platform
