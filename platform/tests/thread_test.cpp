#include "orvo/platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

namespace orvo::platform {
namespace {

// Runs on a thread of its own so the test program's threads keep their
// priority; whatever the system allows, a raise either shows or changes nothing.
TEST(ThreadTest, RaiseEitherTakesEffectOrChangesNothing) {
    std::thread worker([] {
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        int policyBefore = 0;
        sched_param paramBefore{};
        pthread_getschedparam(pthread_self(), &policyBefore, &paramBefore);
        const int niceBefore = getpriority(PRIO_PROCESS, tid);

        const bool raised = RaiseCurrentThreadPriority();

        int policyAfter = 0;
        sched_param paramAfter{};
        pthread_getschedparam(pthread_self(), &policyAfter, &paramAfter);
        const int niceAfter = getpriority(PRIO_PROCESS, tid);
        if (raised) {
            EXPECT_TRUE(policyAfter == SCHED_FIFO || niceAfter < niceBefore);
        } else {
            EXPECT_EQ(policyAfter, policyBefore);
            EXPECT_EQ(niceAfter, niceBefore);
        }
    });
    worker.join();
}

}  // namespace
}  // namespace orvo::platform
