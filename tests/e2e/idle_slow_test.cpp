// The idle end of a batch on the real clock: 25 seconds without a new
// document after the last one end the batch normally, with TERMINATE.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "harness.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

TEST(IdleEnd, TwentyFiveSecondsAfterTheLastDocument) {
    setenv("TMPDIR", e2e::MakeTempDir("orvo-idle-tmp").c_str(), 1);
    e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0, 1728, 200));
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[1].pauseBeforeMs = 60000;  // the second cheque never comes in time
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_Init(), 0);
    OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string out = e2e::SystemDir() + "page.raw";
    int pages = 0;
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastPage = start;
    for (int i = 0; i < 10; ++i) {
        int height = 0;
        result = OrvoScan_GetOneImage(out.c_str(), &height);
        if (result != 0) break;
        ++pages;
        lastPage = std::chrono::steady_clock::now();
    }
    const auto end = std::chrono::steady_clock::now();
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(result, ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_GetDeviceError(), 0u);
    // Not a timing assertion on speed: the batch must not end before the
    // idle time has passed.
    EXPECT_GE(end - lastPage, std::chrono::seconds(24));
    EXPECT_EQ(TheScanner().CommandLog().back().opcode, orvo::sim::op::kTerminate);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

}  // namespace
