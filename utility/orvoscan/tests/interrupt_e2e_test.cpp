// orvoscan end to end: Ctrl-C and SIGTERM at every stage of a batch. The
// driver's clock runs at its real speed here, so a wait that the signal does
// not end lasts far beyond the bound of the test.
#include <signal.h>

#include "tool_fixture.h"

namespace orvoscan_e2e {
namespace {

class InterruptTest : public RunOutputTest {
  protected:
    void SetUp() override {
        RunOutputTest::SetUp();
        timeScale_ = "1";
    }
};

TEST_F(InterruptTest, CtrlCEndsTheWaitForTheFirstDocument) {
    // The first cheque would come after ten minutes; the driver gives up
    // after two.
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "documents": [{"pauseBeforeMs": 600000}]})");
    const pid_t pid = Start(ScanArgs());
    ASSERT_TRUE(AwaitOutput("Warming up"));
    kill(pid, SIGINT);
    const Result r = Wait(pid, 60s);
    EXPECT_EQ(r.code, 130) << r.out << r.err;
    EXPECT_EQ(r.err.find("Scanner device error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos);
    EXPECT_EQ(NextStart(r.out), 1);
    EXPECT_EQ(Count(".tif"), 0);
}

TEST_F(InterruptTest, CtrlCEndsTheIdleWait) {
    // Two cheques, then the feeder stays empty: the driver waits 25 s for
    // another one before it ends the batch.
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "documents": [{}, {}, {"pauseBeforeMs": 600000}]})");
    std::vector<std::string> args = ScanArgs();
    args.insert(args.begin(), "--json");
    const pid_t pid = Start(args);
    ASSERT_TRUE(AwaitOutput("A000002R"));
    kill(pid, SIGTERM);
    const Result r = Wait(pid, 20s);
    EXPECT_EQ(r.code, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("\"interrupted\":true"), std::string::npos) << r.out;
    const Output o = ReadOutput(out_);
    EXPECT_EQ(o.fronts, (std::set<int>{1, 2}));
    EXPECT_EQ(o.rears, (std::set<int>{1, 2}));
    EXPECT_EQ(o.records.size(), 2u);
    EXPECT_NE(r.out.find("\"nextStart\":3"), std::string::npos);
}

TEST_F(InterruptTest, CtrlCMidBatchKeepsWholeCheques) {
    // A slow feed: the signal comes while cheques are still arriving.
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 300},
                 "defaultStack": 50})");
    const pid_t pid = Start(ScanArgs());
    ASSERT_TRUE(AwaitOutput("A000002F"));
    kill(pid, SIGINT);
    const Result r = Wait(pid, 60s);
    EXPECT_EQ(r.code, 130) << r.out << r.err;
    const Output o = ReadOutput(out_);
    EXPECT_GE(o.fronts.size(), 2u);
    EXPECT_LT(o.fronts.size(), 50u);
    EXPECT_EQ(o.rears, o.fronts);
    EXPECT_EQ(o.records.size(), o.fronts.size());
    EXPECT_TRUE(o.badLines.empty());
    EXPECT_EQ(NextStart(r.out), static_cast<int>(o.fronts.size()) + 1);
}

}  // namespace
}  // namespace orvoscan_e2e
