// Whenever the worker leaves a feed it started, the scanner is told to stop
// (TERMINATE), once: at the end of the batch, on OrvoScan_EndBatch, a new
// OrvoScan_StartBatch or OrvoScan_Init during a batch, a device error, a
// request that never finishes (the first-document limit in its own test
// program). Read back from the virtual scanner's command log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;
namespace op = orvo::sim::op;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string tmp = e2e::MakeTempDir("orvo-feedend-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

std::vector<uint8_t> Opcodes() {
    std::vector<uint8_t> ops;
    for (const auto& r : TheScanner().CommandLog()) ops.push_back(r.opcode);
    return ops;
}

int Count(const std::vector<uint8_t>& ops, uint8_t opcode) {
    int n = 0;
    for (uint8_t o : ops) n += o == opcode ? 1 : 0;
    return n;
}

// Polls the scanner's log every millisecond, at most 20 s.
bool PollsSeen(int atLeast) {
    for (int i = 0; i < 20000; ++i) {
        if (Count(Opcodes(), op::kGetDataBufferStatus) >= atLeast) return true;
        usleep(1000);
    }
    return false;
}

orvo::sim::Scenario NeverAFirstDocument() {
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].pauseBeforeMs = 100'000'000;
    return s;
}

orvo::sim::Scenario WithFault(orvo::sim::Scenario s, uint8_t opcode, orvo::sim::FaultAction action,
                              int occurrence = 1) {
    orvo::sim::CommandFault f;
    f.opcode = opcode;
    f.action = action;
    f.occurrence = occurrence;
    f.count = 1000000;
    s.commandFaults.push_back(f);
    return s;
}

int TakeAll() {
    const std::string path = e2e::SystemDir() + "page.raw";
    int height = 0;
    for (int i = 0; i < 100; ++i) {
        const int r = OrvoScan_GetOneImage(path.c_str(), &height);
        if (r != 0) return r;
    }
    return 0;
}

TEST(FeedEnd, EndBatchWhileWaitingForTheFirstDocument) {
    TheScanner().SetScenario(NeverAFirstDocument());
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    ASSERT_TRUE(PollsSeen(3));
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    const auto ops = Opcodes();
    EXPECT_EQ(ops.back(), op::kTerminate);
    EXPECT_EQ(Count(ops, op::kTerminate), 1);
}

TEST(FeedEnd, EndBatchWithARequestThatNeverFinishes) {
    // The second block of the first cheque is never delivered.
    TheScanner().SetScenario(
        WithFault(e2e::FastScenario(3), op::kReadBuffer, orvo::sim::FaultAction::NoCompletion, 2));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    for (int i = 0; i < 20000 && Count(Opcodes(), op::kReadBuffer) < 2; ++i) usleep(1000);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    const auto ops = Opcodes();
    EXPECT_EQ(ops.back(), op::kTerminate);
    EXPECT_EQ(Count(ops, op::kTerminate), 1);
}

TEST(FeedEnd, NewBatchOrDriverStartDuringABatch) {
    for (bool init : {false, true}) {
        TheScanner().SetScenario(NeverAFirstDocument());
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        ASSERT_TRUE(PollsSeen(3));
        // The scanner's log goes on from here: the old batch's end, then
        // the new start.
        const std::size_t before = TheScanner().CommandLog().size();
        if (init) {
            ASSERT_EQ(OrvoScan_Init(), 0);
        } else {
            ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
            // The new worker's first request.
            for (int n = 0; n < 20000 && Count(Opcodes(), op::kTestUnitReady) < 2; ++n) {
                usleep(1000);
            }
        }
        const auto log = TheScanner().CommandLog();
        std::vector<uint8_t> after;
        for (std::size_t i = before; i < log.size(); ++i) after.push_back(log[i].opcode);
        // Polls still in flight may come first; then TERMINATE, then the
        // next conversation.
        std::size_t i = 0;
        while (i < after.size() && after[i] == op::kGetDataBufferStatus) ++i;
        ASSERT_LT(i, after.size()) << init;
        EXPECT_EQ(after[i], op::kTerminate) << init;
        ASSERT_LT(i + 1, after.size()) << init;
        EXPECT_EQ(after[i + 1], init ? op::kInquiry : op::kTestUnitReady) << init;
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
    }
}

TEST(FeedEnd, DeviceErrorDuringTheFeedKeepsItsCause) {
    orvo::sim::Scenario s = e2e::FastScenario(3);
    s.documents[1].jam = true;
    ASSERT_TRUE(orvo::sim::SenseByName("doubleFeed", &s.documents[1].jamSense));
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    EXPECT_EQ(TakeAll(), ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(OrvoScan_GetDeviceError(), 0x40u);
    const auto ops = Opcodes();
    EXPECT_EQ(ops.back(), op::kTerminate);
    EXPECT_EQ(Count(ops, op::kTerminate), 1);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(FeedEnd, ScannerThatNeverAnswersTerminateDoesNotHoldUpTheStop) {
    TheScanner().SetScenario(
        WithFault(NeverAFirstDocument(), op::kTerminate, orvo::sim::FaultAction::NoCompletion));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    ASSERT_TRUE(PollsSeen(3));
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_EQ(Opcodes().back(), op::kTerminate);
}

TEST(FeedEnd, NoTerminateBeforeTheFeedStarted) {
    orvo::sim::Scenario s = e2e::FastScenario(1);
    orvo::sim::CommandFault f;
    f.opcode = op::kSetWindow;
    f.action = orvo::sim::FaultAction::CheckCondition;
    ASSERT_TRUE(orvo::sim::SenseByName("coverOpen", &f.sense));
    s.commandFaults.push_back(f);
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    EXPECT_EQ(TakeAll(), ORVOSCAN_ERR_DEVICE);
    const auto ops = Opcodes();
    EXPECT_EQ(Count(ops, op::kScan), 0);
    EXPECT_EQ(Count(ops, op::kTerminate), 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(FeedEnd, NormalEndsSendOneTerminate) {
    TheScanner().SetScenario(e2e::FastScenario(2));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    EXPECT_EQ(TakeAll(), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    const auto ops = Opcodes();
    EXPECT_EQ(ops.back(), op::kTerminate);
    EXPECT_EQ(Count(ops, op::kTerminate), 1);
}

}  // namespace
