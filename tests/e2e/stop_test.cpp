// A batch stopped from another thread of the client: OrvoScan_EndBatch while
// OrvoScan_GetOneImage, OrvoScan_GetOneImageBufPtr or OrvoScan_IsPageLoaded
// waits. A wait for the next document ends at once with -3; a document being
// read is read and handed over whole first; a second OrvoScan_EndBatch ends
// at once; nothing is freed under a waiting call.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "orvo/sim/image.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string tmp = e2e::MakeTempDir("orvo-stop-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 4.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

enum class Call { GetOneImage, GetOneImageBufPtr, IsPageLoaded };

int Wait(Call call, const std::string& path) {
    int height = 0;
    switch (call) {
        case Call::GetOneImage:
            return OrvoScan_GetOneImage(path.c_str(), &height);
        case Call::GetOneImageBufPtr:
            return OrvoScan_GetOneImageBufPtr(path.c_str(), &height);
        case Call::IsPageLoaded:
            return OrvoScan_IsPageLoaded();
    }
    return 999;
}

// Polls `done` every millisecond for at most 20 s.
template <typename F>
bool PollFor(F done) {
    for (int i = 0; i < 20000; ++i) {
        if (done()) return true;
        usleep(1000);
    }
    return done();
}

int Count(uint8_t opcode) {
    int n = 0;
    for (const auto& r : TheScanner().CommandLog()) n += r.opcode == opcode ? 1 : 0;
    return n;
}

int Polls() {
    return Count(orvo::sim::op::kGetDataBufferStatus);
}

// The client thread waits in `call` while this thread ends the batch; the
// wait must end with -3 instead of the scanner's time limits.
int StopWhileWaiting(Call call) {
    std::atomic<int> result{999};
    std::atomic<bool> entering{false};
    const std::string path = e2e::SystemDir() + "stopped.raw";
    std::thread client([&] {
        entering = true;
        result = Wait(call, path);
    });
    // The worker polls for a document that does not come, and the client
    // is on its way into the call.
    const int before = Polls();
    EXPECT_TRUE(PollFor([&] { return entering.load() && Polls() > before + 3; }));
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    client.join();
    return result;
}

class StopFirstDocument : public ::testing::TestWithParam<Call> {};

TEST_P(StopFirstDocument, WaitForTheFirstDocumentEndsAtOnce) {
    // The first cheque would come long after the driver's 120 s limit: an
    // uninterrupted wait ends in a device error, a stopped one with -3.
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].pauseBeforeMs = 10'000'000;
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    EXPECT_EQ(StopWhileWaiting(GetParam()), ORVOSCAN_NO_PAGE);
    // The batch is over and the scanner was told so.
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_GetDeviceError(), 0u);
    EXPECT_FALSE(e2e::Exists(e2e::SystemDir() + "stopped.raw"));
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryWaitingCall, StopFirstDocument,
                         ::testing::Values(Call::GetOneImage, Call::GetOneImageBufPtr,
                                           Call::IsPageLoaded),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Call::GetOneImage:
                                     return std::string("GetOneImage");
                                 case Call::GetOneImageBufPtr:
                                     return std::string("GetOneImageBufPtr");
                                 case Call::IsPageLoaded:
                                     return std::string("IsPageLoaded");
                             }
                             return std::string("unknown");
                         });

TEST(Stop, WaitDuringTheIdleTimeEndsAtOnce) {
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[1].pauseBeforeMs = 10'000'000;
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string path = e2e::SystemDir() + "page.raw";
    int height = 0;
    ASSERT_EQ(OrvoScan_GetOneImage(path.c_str(), &height), 0);
    ASSERT_EQ(OrvoScan_GetOneImage(path.c_str(), &height), 0);
    EXPECT_EQ(StopWhileWaiting(Call::GetOneImage), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_GetOneImage(path.c_str(), &height), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(Stop, EndWhileADocumentIsReadHandsItOverWhole) {
    // How many blocks the first cheque of the stack takes.
    TheScanner().SetScenario(e2e::FastScenario(1));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    ASSERT_EQ(OrvoScan_IsPageLoaded(), 0);
    const int firstChequeBlocks = Count(orvo::sim::op::kReadBuffer);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);

    // The second cheque's sides are stripes three dots wide, which code to
    // many blocks: it is read for a good while, a short block at a time, so
    // that an end from another thread comes while it is read, and the
    // scanner is still told of the end soon after that end.
    auto stripes = std::make_shared<orvo::sim::Image>(1728, 800);
    for (int y = 0; y < stripes->height; ++y) {
        for (int x = 0; x < stripes->width; ++x) stripes->at(x, y) = (x / 3) % 2 == 0 ? 0 : 255;
    }

    // Ends from another thread while the second cheque is read (a third
    // cheque would follow at once), and what the client thread's page calls
    // answer after the first cheque's two pages.
    struct Case {
        const char* what;
        int ends;
        bool scannerStops;  // the cheque's second block is never answered
        std::vector<int> after;
    };
    const Case cases[] = {
        {"one end: that cheque whole, then the end", 1, false, {0, 0, ORVOSCAN_NO_PAGE}},
        {"a second end: at once", 2, false, {ORVOSCAN_NO_PAGE}},
        {"the scanner stops answering", 1, true, {ORVOSCAN_ERR_DEVICE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        orvo::sim::Scenario s = e2e::FastScenario(3);
        s.documents[1].front.image = stripes;
        s.documents[1].rear.image = stripes;
        s.latency.blockMs = 240;
        if (c.scannerStops) {
            orvo::sim::CommandFault stop;
            stop.opcode = orvo::sim::op::kReadBuffer;
            stop.occurrence = firstChequeBlocks + 2;
            stop.count = 1000;
            stop.action = orvo::sim::FaultAction::NoCompletion;
            s.commandFaults.push_back(stop);
        }
        TheScanner().SetScenario(s);
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        std::vector<int> results;
        std::atomic<int> taken{0};
        std::thread client([&] {
            const std::string path = e2e::SystemDir() + "read.raw";
            for (int i = 0; i < 10; ++i) {
                const int r = Wait(Call::GetOneImage, path);
                results.push_back(r);
                if (r != 0) break;
                ++taken;
            }
        });
        EXPECT_TRUE(PollFor([&] { return taken.load() >= 2 && e2e::ReadingDocument(2); }));
        for (int i = 0; i < c.ends; ++i) EXPECT_EQ(OrvoScan_EndBatch(), 0);
        client.join();
        ASSERT_GE(results.size(), 2u);
        EXPECT_EQ(std::vector<int>(results.begin() + 2, results.end()), c.after);
        // No third cheque was fed, and the scanner was told the batch is over.
        EXPECT_EQ(TheScanner().DocumentsAnnounced(), 2);
        if (!c.scannerStops) {
            EXPECT_EQ(TheScanner().CommandLog().back().opcode, orvo::sim::op::kTerminate);
        } else {
            EXPECT_EQ(OrvoScan_GetDeviceError(), ORVOSCAN_DEV_UNKNOWN);
        }
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
        EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    }
}

TEST(Stop, EndBatchWhilePagesAreTakenFreesNothingUnderThem) {
    // The client takes pages as fast as they come while another thread ends
    // the batch in the middle: every call either took its page or says the
    // batch is over, and once over it stays over. Coded gray pages as bitmap
    // files keep the client busy decoding most of the time.
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 4, 0, 1728, 300));
    ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_DIB), 1);
    for (Call call : {Call::GetOneImage, Call::GetOneImageBufPtr}) {
        TheScanner().SetScenario(e2e::FastScenario(40));
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        std::vector<int> results;
        std::atomic<int> taken{0};
        std::thread client([&] {
            const std::string path = e2e::SystemDir() + "busy.raw";
            for (int i = 0; i < 200; ++i) {
                const int r = Wait(call, path);
                results.push_back(r);
                if (r == 0) ++taken;
                if (r != 0) break;
            }
        });
        EXPECT_TRUE(PollFor([&] { return taken.load() >= 3; }));
        // The first end lets the cheque in progress come, the second ends
        // the batch under the client at once.
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
        client.join();
        ASSERT_FALSE(results.empty());
        EXPECT_EQ(results.back(), ORVOSCAN_NO_PAGE);
        for (std::size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i], 0);
        EXPECT_EQ(Wait(call, e2e::SystemDir() + "after.raw"), ORVOSCAN_NO_PAGE);
    }
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
    ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW), 1);
}

TEST(Stop, PagesLeftUntakenGoWithTheBatch) {
    TheScanner().SetScenario(e2e::FastScenario(2));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    ASSERT_EQ(OrvoScan_IsPageLoaded(), 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    const std::string path = e2e::SystemDir() + "late.raw";
    for (Call call : {Call::IsPageLoaded, Call::GetOneImage, Call::GetOneImageBufPtr}) {
        EXPECT_EQ(Wait(call, path), ORVOSCAN_NO_PAGE);
    }
    EXPECT_FALSE(e2e::Exists(path));
}

TEST(Stop, TwoThreadsEndingTheBatchAtOnce) {
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].pauseBeforeMs = 10'000'000;
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    std::atomic<int> other{999};
    std::thread second([&] { other = OrvoScan_EndBatch(); });
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    second.join();
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    // A new batch runs as usual afterwards.
    TheScanner().SetScenario(e2e::FastScenario(1));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    EXPECT_EQ(OrvoScan_GetOneImage((e2e::SystemDir() + "a.raw").c_str(), &height), 0);
    EXPECT_EQ(OrvoScan_GetOneImage((e2e::SystemDir() + "b.raw").c_str(), &height), 0);
    EXPECT_EQ(OrvoScan_GetOneImage((e2e::SystemDir() + "c.raw").c_str(), &height),
              ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

}  // namespace
