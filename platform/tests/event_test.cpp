#include "orvo/platform/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace orvo::platform {
namespace {

class EventTest : public ::testing::Test {
  protected:
    void SetUp() override {
        a_ = CreateEvent();
        b_ = CreateEvent();
        ASSERT_GE(a_, 0);
        ASSERT_GE(b_, 0);
    }
    void TearDown() override {
        CloseEvent(a_);
        CloseEvent(b_);
    }
    int a_ = -1;
    int b_ = -1;
};

TEST_F(EventTest, StartsUnsignalledAndResetsItselfAfterOneWait) {
    EXPECT_EQ(WaitForEvent(a_, 0), WaitResult::TimedOut);
    SetEvent(a_);
    SetEvent(a_);  // two signals before a wait still wake only one wait
    EXPECT_EQ(WaitForEvent(a_, 0), WaitResult::Signalled);
    EXPECT_EQ(WaitForEvent(a_, 0), WaitResult::TimedOut);
}

TEST_F(EventTest, WaitTimesOutWhenNobodySignals) {
    EXPECT_EQ(WaitForEvent(a_, 30), WaitResult::TimedOut);
}

TEST_F(EventTest, InfiniteWaitReturnsForAnEarlierSignal) {
    SetEvent(a_);
    EXPECT_EQ(WaitForEvent(a_, kInfinite), WaitResult::Signalled);
}

TEST_F(EventTest, WaitWakesForASignalFromAnotherThread) {
    std::thread setter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        SetEvent(a_);
    });
    EXPECT_EQ(WaitForEvent(a_, 60000), WaitResult::Signalled);
    setter.join();
}

TEST_F(EventTest, WaitOnABadDescriptorFails) {
    EXPECT_EQ(WaitForEvent(-1, 10), WaitResult::Failed);
    int closed = CreateEvent();
    CloseEvent(closed);
    EXPECT_EQ(WaitForEvent(closed, 10), WaitResult::Failed);
}

TEST_F(EventTest, WaitForAnyReportsTheSignalledEventAndConsumesOnlyIt) {
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 0), -1);
    SetEvent(b_);
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 1000), 1);
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 0), -1);

    SetEvent(a_);
    SetEvent(b_);
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 1000), 0);
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 1000), 1);
    EXPECT_EQ(WaitForAnyEvent({a_, b_}, 20), -1);
}

TEST_F(EventTest, WaitForAnyFailsOnNoEventsOrABadOne) {
    EXPECT_EQ(WaitForAnyEvent({}, 10), -2);
    EXPECT_EQ(WaitForAnyEvent({a_, -1}, 10), -2);
}

}  // namespace
}  // namespace orvo::platform
