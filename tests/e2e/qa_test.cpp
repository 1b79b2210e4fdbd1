// Reading and writing the scanner's QA block through the exported functions.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "harness.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;
namespace op = orvo::sim::op;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("TMPDIR", e2e::MakeTempDir("orvo-qa-tmp").c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 5.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

orvo::sim::Scenario WithQaFault(uint8_t opcode, orvo::sim::FaultAction action, int count = 1) {
    orvo::sim::Scenario s = e2e::FastScenario(1);
    orvo::sim::CommandFault f;
    f.opcode = opcode;
    f.action = action;
    f.count = count;
    s.commandFaults.push_back(f);
    return s;
}

TEST(Qa, ReadGivesTheScannersBlock) {
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.qaBlock = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TheScanner().SetScenario(s);
    unsigned char block[12] = {};
    ASSERT_EQ(OrvoScan_RestoreSettingsQa(block), 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(block[i], i + 1);
}

TEST(Qa, WriteSendsTenBytesAndTwoZeros) {
    TheScanner().SetScenario(e2e::FastScenario(1));
    const unsigned char ten[10] = {7, 0, 63, 14, 7, 1, 9, 15, 7, 9};
    ASSERT_EQ(OrvoScan_SaveSettingsQa(ten), 0);
    const auto writes = TheScanner().QaWrites();
    ASSERT_EQ(writes.size(), 1u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(writes[0][i], ten[i]);
    EXPECT_EQ(writes[0][10], 0);
    EXPECT_EQ(writes[0][11], 0);
    unsigned char back[12];
    ASSERT_EQ(OrvoScan_RestoreSettingsQa(back), 0);
    EXPECT_EQ(back[2], 63);
}

TEST(Qa, FailuresGiveMinusSix) {
    using orvo::sim::FaultAction;
    unsigned char block[12] = {};
    const unsigned char ten[10] = {};
    // A scanner that keeps answering without completing cleanly: given up
    // after half a second.
    TheScanner().SetScenario(WithQaFault(op::kQaRead, FaultAction::NotClean, 1000000000));
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), -6);
    TheScanner().SetScenario(WithQaFault(op::kQaRead, FaultAction::CheckCondition));
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), -6);
    TheScanner().SetScenario(WithQaFault(op::kQaRead, FaultAction::SelectionTimeout));
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), -6);
    TheScanner().SetScenario(WithQaFault(op::kQaWrite, FaultAction::CheckCondition));
    EXPECT_EQ(OrvoScan_SaveSettingsQa(ten), -6);
    TheScanner().SetScenario(WithQaFault(op::kQaWrite, FaultAction::NotClean, 1000000000));
    EXPECT_EQ(OrvoScan_SaveSettingsQa(ten), -6);
    // A few unclean answers are repeated.
    TheScanner().SetScenario(WithQaFault(op::kQaWrite, FaultAction::NotClean, 3));
    EXPECT_EQ(OrvoScan_SaveSettingsQa(ten), 0);
    TheScanner().SetScenario(WithQaFault(op::kQaRead, FaultAction::NotClean, 2));
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), 0);
    // A scanner that never answers; last, for a real device is then held
    // until its own time-out, and nothing else gets through meanwhile.
    TheScanner().SetScenario(WithQaFault(op::kQaRead, FaultAction::NoCompletion));
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), -6);
}

TEST(Qa, NotDuringABatch) {
    orvo::sim::Scenario slow = e2e::FastScenario(3);
    slow.latency.documentIntervalMs = 2000;
    TheScanner().SetScenario(slow);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    unsigned char block[12];
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), -6);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_EQ(OrvoScan_RestoreSettingsQa(block), 0);
}

}  // namespace
