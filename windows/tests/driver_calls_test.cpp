// The service's driver calls for K4TR.dll: one program at a time, refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver_calls.h"

namespace {

struct Step {
    std::string call, session, body;
    int status;
    std::string contains;  // in the answer
};

void RunSteps(orvoscand::DriverCalls& calls, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        SCOPED_TRACE(s.call + " by " + s.session);
        const orvoscand::DriverReply reply = calls.Call(s.call, s.session, s.body);
        EXPECT_EQ(reply.status, s.status) << reply.json;
        EXPECT_NE(reply.json.find(s.contains), std::string::npos) << reply.json;
    }
}

TEST(DriverCalls, OneProgramAtATime) {
    orvoscand::DriverLock driverLock;
    int starts = 0;
    orvoscand::DriverCalls calls(driverLock, ::testing::TempDir(),
                                 [&starts] { return ++starts, 0; });
    RunSteps(calls, {
                        {"version", "a", "", 200, "QXS.1.00.00.71QS.03.04.28"},
                        {"version", "b", "", 409, "in use by another program"},
                        // The dialog, on the class's own thread: the driver has not started.
                        {"setup", "a", "{\"profile\":\"Check\"}", 200, "\"result\":-2"},
                        {"end", "a", "", 200, "\"result\":0"},
                        {"version", "b", "", 200, "QXS."},
                        {"end-batch", "a", "", 200, "\"result\":0"},  // not the holder: nothing
                        {"end", "b", "", 200, "\"result\":0"},
                    });
    EXPECT_EQ(starts, 5);  // the service's driver is started before each call that ran
    // The service's own batch holds the driver.
    std::lock_guard<orvoscand::DriverLock> batch(driverLock);
    RunSteps(calls, {{"version", "c", "", 409, "in use by a batch of the service"}});
}

// Calls of one program from several threads (on several connections) reach
// the driver one at a time; another program is refused meanwhile.
TEST(DriverCalls, OneCallAtATime) {
    orvoscand::DriverLock driverLock;
    std::atomic<int> inside{0}, overlaps{0}, unexpected{0};
    orvoscand::DriverCalls calls(driverLock, ::testing::TempDir(), [&] {
        if (++inside > 1) ++overlaps;
        std::this_thread::yield();
        --inside;
        return 0;
    });
    RunSteps(calls, {{"version", "a", "", 200, "QXS."}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const int status = calls.Call("version", t == 0 ? "b" : "a", "").status;
                if (status != (t == 0 ? 409 : 200)) ++unexpected;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(overlaps, 0);
}

TEST(DriverCalls, Refusals) {
    orvoscand::DriverLock driverLock;
    orvoscand::DriverCalls calls(driverLock, ::testing::TempDir(), {});
    RunSteps(calls, {
                        {"version", "", "", 400, "Orvo-Session"},
                        {"version", "a b", "", 400, "Orvo-Session"},
                        {"version", std::string(65, 'a'), "", 400, "Orvo-Session"},
                        {"version", "a", "[1]", 400, "no JSON object"},
                        {"version", "a", "{", 400, "no JSON object"},
                        {"image-format", "a", "{\"format\":\"0\"}", 400, "format"},
                        {"start-batch", "a", "{}", 400, "profile"},
                        {"setup", "a", "{\"profile\":7}", 400, "profile"},
                        {"save-settings-qa", "a", "{\"qa\":\"AAAAAAAAAAAA\"}", 400, "10 bytes"},
                        {"format-disk", "a", "", 404, "no driver call"},
                    });
}

}  // namespace
