#include "orvo/transport/transport.h"

#include <cstring>
#include <mutex>

#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"
#include "orvo/platform/event.h"
#include "orvo/transport/commands.h"
#include "orvoscan.h"

namespace orvo {

SRB_ExecSCSICmd& RequestBlock() {
    static SRB_ExecSCSICmd srb;
    return srb;
}

std::atomic<int>& RequestOutstanding() {
    static std::atomic<int> flag{0};
    return flag;
}

bool CheckStatus(const SRB_ExecSCSICmd& srb, bool optionA, uint32_t& deviceError) {
    deviceError = 0;
    if (optionA && srb.SRB_Status == SS_ERR && srb.SRB_HaStat == HASTAT_SEL_TO) {
        deviceError = kDeviceErrorUnknown;
        return true;
    }
    if (srb.SRB_TargStat != STATUS_CHKCOND) return false;
    const uint8_t sense3 = srb.SenseArea[3];
    const uint8_t sense4 = srb.SenseArea[4];
    uint32_t word = sense3;
    word |= static_cast<uint32_t>(sense4 & 0x07) << 8;
    deviceError = word != 0 ? word : kDeviceErrorUnknown;
    return true;
}

namespace {

// Withdraws a request the caller no longer waits for: afterwards the ASPI
// layer leaves the block, its data buffer and its event alone.
void Withdraw(SRB_ExecSCSICmd& srb) {
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = srb.SRB_HaId;
    abort.SRB_ToAbort = &srb;
    SendASPI32Command(&abort);
}

uint8_t LoadStatus(const SRB_ExecSCSICmd& srb) {
    return __atomic_load_n(&srb.SRB_Status, __ATOMIC_ACQUIRE);
}

thread_local RequestEventKeeper* t_eventKeeper = nullptr;

}  // namespace

Outcome Exchange(const std::function<void(SRB_ExecSCSICmd&)>& fill, uint32_t timeoutMs,
                 StatusCheck check, int cancelEvent) {
    SRB_ExecSCSICmd& srb = RequestBlock();
    RequestEventKeeper* keeper = t_eventKeeper;
    int event = -1;
    if (keeper != nullptr && keeper->event_ >= 0) {
        event = keeper->event_;
        keeper->event_ = -1;
    } else {
        event = platform::CreateEvent();
    }
    if (event < 0) return Outcome::TimedOut;  // a request that cannot be awaited

    std::memset(&srb, 0, sizeof srb);
    fill(srb);
    srb.SRB_PostProc = ORVO_ASPI_EVENT_HANDLE(event);
    SendASPI32Command(&srb);
    RequestOutstanding().store(1, std::memory_order_release);

    int woke;
    if (cancelEvent >= 0) {
        woke = platform::WaitForAnyEvent({event, cancelEvent}, timeoutMs);
    } else {
        woke = platform::WaitForEvent(event, timeoutMs) == platform::WaitResult::Signalled ? 0 : -1;
    }
    // A request that was not answered in time is withdrawn, so that the layer
    // never writes into the block or its buffer later.
    if (woke != 0 && LoadStatus(srb) == SS_PENDING) Withdraw(srb);
    // Kept only when its one signal was taken: no late signal can follow.
    if (woke == 0 && keeper != nullptr) {
        keeper->event_ = event;
    } else {
        platform::CloseEvent(event);
    }
    RequestOutstanding().store(0, std::memory_order_release);

    if (woke != 0) return woke == 1 ? Outcome::Cancelled : Outcome::TimedOut;

    if (check != StatusCheck::None) {
        uint32_t word = 0;
        const bool error = CheckStatus(srb, check == StatusCheck::OptionA, word);
        State().deviceError.store(word, std::memory_order_relaxed);
        if (error) return Outcome::Error;
    }
    if (srb.SRB_Status == SS_COMP && srb.SRB_HaStat == 0 && srb.SRB_TargStat == 0) {
        return Outcome::Completed;
    }
    return Outcome::NotClean;
}

RequestEventKeeper::RequestEventKeeper() : outer_(t_eventKeeper) {
    t_eventKeeper = this;
}

RequestEventKeeper::~RequestEventKeeper() {
    t_eventKeeper = outer_;
    platform::CloseEvent(event_);
}

namespace {

struct LockCount {
    std::mutex mutex;
    int users = 0;
    uint16_t adapter = 0;
    uint16_t target = 0;
};

LockCount& Locks() {
    static LockCount* locks = new LockCount;
    return *locks;
}

}  // namespace

ScannerLock LockScanner(std::string* holder) {
    LockCount& locks = Locks();
    std::lock_guard lock(locks.mutex);
    if (locks.users > 0) {
        ++locks.users;
        return ScannerLock::Held;
    }
    const uint16_t adapter = State().adapter;
    const uint16_t target = State().target;
    char who[128] = {};
    const uint32_t status = OrvoAspiLockDevice(static_cast<uint8_t>(adapter),
                                               static_cast<uint8_t>(target), 0, who, sizeof who);
    if (status == SS_ERR) {
        if (holder != nullptr) *holder = who[0] != '\0' ? who : "another process";
        return ScannerLock::Busy;
    }
    // Without a device to lock (no scanner found yet) the requests fail on
    // their own; nothing is refused here.
    locks.users = 1;
    locks.adapter = adapter;
    locks.target = target;
    return ScannerLock::Held;
}

void UnlockScanner() {
    LockCount& locks = Locks();
    std::lock_guard lock(locks.mutex);
    if (locks.users == 0) return;
    if (--locks.users > 0) return;
    OrvoAspiUnlockDevice(static_cast<uint8_t>(locks.adapter), static_cast<uint8_t>(locks.target),
                         0);
}

int WithScannerAlone(const std::function<int()>& work) {
    std::string holder;
    if (LockScanner(&holder) == ScannerLock::Busy) {
        Trace(TraceFile::Log, 0, ("scanner in use by " + holder).c_str(), 0);
        return ORVOSCAN_ERR_BUSY;
    }
    const int result = work();
    UnlockScanner();
    return result;
}

bool DiscoverScanner(int adapterCount) {
    bool found = false;
    for (int ha = 0; ha < adapterCount && !found; ++ha) {
        for (int target = 0; target < 8 && !found; ++target) {
            uint8_t reply[kInquirySize] = {};
            const Outcome outcome = Exchange(
                [&](SRB_ExecSCSICmd& srb) {
                    BuildInquiry(srb, static_cast<uint8_t>(ha), static_cast<uint8_t>(target),
                                 reply);
                },
                kWaitLong, StatusCheck::None);
            if (outcome == Outcome::TimedOut || outcome == Outcome::Cancelled) return false;
            if (RequestBlock().SRB_Status == SS_COMP && std::memcmp(reply + 8, kVendor, 8) == 0 &&
                std::memcmp(reply + 16, kProduct, 16) == 0) {
                State().adapter = static_cast<uint16_t>(ha);
                State().target = static_cast<uint16_t>(target);
                State().scannerKnown = true;
                found = true;
            }
        }
    }
    if (!found) return false;
    const Outcome ready = Exchange(BuildTestUnitReady, kWaitLong, StatusCheck::None);
    return ready != Outcome::TimedOut && ready != Outcome::Cancelled;
}

}  // namespace orvo
