// The wait for the first cheque is bounded (120 s): the batch ends with an
// unknown device error, and the scanner, feeding nothing, is told to stop.
// A program of its own with a fast clock, as nothing else here would stand it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;
namespace op = orvo::sim::op;

TEST(FirstDocumentLimit, EndsTheBatchAndTheFeed) {
    setenv("TMPDIR", e2e::MakeTempDir("orvo-firstdoc-tmp").c_str(), 1);
    e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 100.0);
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].pauseBeforeMs = 100'000'000;
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_Init(), 0);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    EXPECT_EQ(OrvoScan_GetOneImage((e2e::SystemDir() + "p.tif").c_str(), &height),
              ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(OrvoScan_GetDeviceError(), 0x80000000u);
    std::vector<uint8_t> ops;
    for (const auto& r : TheScanner().CommandLog()) ops.push_back(r.opcode);
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.back(), op::kTerminate);
    int terminates = 0;
    for (uint8_t o : ops) terminates += o == op::kTerminate ? 1 : 0;
    EXPECT_EQ(terminates, 1);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

}  // namespace
