// While the scanner has nothing to deliver, the worker asks it less and less
// often (down to once every 16 ms), and a stack fed without pauses is read
// without a single rest. The driver's clock runs at real speed here: a rest
// is only ever as long as or longer than planned, so these counts are upper
// bounds that a busy machine can only lower.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

constexpr uint8_t kGetDataBufferStatus = 0x34;
constexpr uint8_t kReadBuffer = 0x3C;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("TMPDIR", e2e::MakeTempDir("orvo-idle-tmp").c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 1.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// Runs a batch and returns, for each document, the polls from the end of
// the one before (or from the start of the feed) to the one that found it.
std::vector<int> PollsBeforeEachDocument(const orvo::sim::Scenario& s) {
    TheScanner().SetScenario(s);
    EXPECT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string out = e2e::MakeTempDir("orvo-idle") + "page.raw";
    int height = 0;
    while (OrvoScan_GetOneImage(out.c_str(), &height) == 0) {
    }
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    std::vector<int> polls;
    int count = 0;
    for (const auto& r : TheScanner().CommandLog()) {
        if (r.opcode == kReadBuffer) count = 0;
        if (r.opcode != kGetDataBufferStatus) continue;
        ++count;
        if (r.readyForMs >= 0) {
            polls.push_back(count);
            count = 0;
        }
    }
    return polls;
}

TEST(IdlePolling, AWaitIsPolledLessAndLessOften) {
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[0].pauseBeforeMs = 400;
    s.documents[1].pauseBeforeMs = 400;
    const std::vector<int> polls = PollsBeforeEachDocument(s);
    ASSERT_EQ(polls.size(), 2u);
    // Rests of 2, 4, 8 ms and then 16 ms: at most 4 + 400 / 16 empty polls
    // and the one that finds the document (a poll after every 5 ms would be
    // about 80). After the first document the rests start short again.
    for (int n : polls) EXPECT_LE(n, 30);
}

TEST(IdlePolling, DocumentsWithoutPausesAreReadWithoutRests) {
    const std::vector<int> polls = PollsBeforeEachDocument(e2e::FastScenario(5));
    ASSERT_EQ(polls.size(), 5u);
    // The document is there at the first poll every time.
    for (int n : polls) EXPECT_EQ(n, 1);
}

}  // namespace
