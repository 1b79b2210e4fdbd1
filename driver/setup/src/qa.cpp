#include "orvo/setup/qa.h"

#include <cstring>
#include <functional>

#include "orvo/batch/batch.h"
#include "orvo/core/driver_state.h"
#include "orvo/platform/clock.h"
#include "orvo/transport/commands.h"
#include "orvo/transport/transport.h"

namespace orvo {

namespace {

constexpr int kQaFailed = -6;
constexpr uint32_t kQaReadBudgetMs = 500;

// During a batch the worker owns the request block; the scanner is only
// reached through it.
bool BatchRunning() {
    const BatchState& b = Batch();
    return b.hasWorker && !b.workerDone.load(std::memory_order_acquire);
}

}  // namespace

int QaRead(uint8_t (&block)[12]) {
    if (!State().scannerKnown || BatchRunning()) return kQaFailed;
    const uint32_t start = platform::TickCount();
    for (;;) {
        uint8_t reply[kQaBlockSize] = {};
        const Outcome o = Exchange([&](SRB_ExecSCSICmd& srb) { BuildQaRead(srb, reply); }, kWaitQa,
                                   StatusCheck::OptionA);
        if (o == Outcome::TimedOut || o == Outcome::Error || o == Outcome::Cancelled) {
            return kQaFailed;
        }
        // A clean answer is taken however long it took; the budget only
        // bounds the repeats of answers that were not clean.
        if (o == Outcome::Completed) {
            std::memcpy(block, reply, sizeof reply);
            return 0;
        }
        if (platform::TicksSince(start, platform::TickCount()) > kQaReadBudgetMs) return kQaFailed;
        std::memcpy(block, reply, sizeof reply);
    }
}

namespace {

// Repeats a request until it completes cleanly. A scanner that keeps
// answering without completing cleanly is given up on after the budget
// instead of being asked forever.
int RepeatUntilClean(const std::function<void(SRB_ExecSCSICmd&)>& fill, uint32_t waitMs) {
    if (!State().scannerKnown || BatchRunning()) return kQaFailed;
    const uint32_t start = platform::TickCount();
    for (;;) {
        const Outcome o = Exchange(fill, waitMs, StatusCheck::OptionA);
        if (o == Outcome::Completed) return 0;
        if (o != Outcome::NotClean) return kQaFailed;
        if (platform::TicksSince(start, platform::TickCount()) > kQaWriteBudgetMs) return kQaFailed;
    }
}

}  // namespace

int QaWrite(const uint8_t* qa10) {
    uint8_t block[kQaBlockSize];
    return RepeatUntilClean([&](SRB_ExecSCSICmd& srb) { BuildQaWrite(srb, qa10, block); }, kWaitQa);
}

int QaAction(int selector) {
    return RepeatUntilClean([&](SRB_ExecSCSICmd& srb) { BuildQaAction(srb, selector); },
                            kWaitQaAction);
}

}  // namespace orvo
