// Running SCSI requests through ASPI with the one shared request block, the
// status check that yields the device error word, and scanner discovery.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "wnaspi32.h"

namespace orvo {

// The process-wide request block and request-outstanding flag.
SRB_ExecSCSICmd& RequestBlock();
std::atomic<int>& RequestOutstanding();

enum class StatusCheck {
    None,     // not run
    Plain,    // CHECK CONDITION is a device error
    OptionA,  // also a selection time-out of the target
};

enum class Outcome {
    Completed,  // SS_COMP, adapter and target status 0
    NotClean,   // finished, not cleanly, no device error: the caller may repeat
    Error,      // the status check found a device error (word set)
    TimedOut,   // not answered within the wait; the request was withdrawn
    Cancelled,  // the caller's cancel event fired; the request was withdrawn
};

// Runs the status check on a finished request: sets `deviceError` and returns
// true when the request ended in a device error.
bool CheckStatus(const SRB_ExecSCSICmd& srb, bool optionA, uint32_t& deviceError);

// One request: a fresh event (or the kept one, see RequestEventKeeper), the
// block cleared and filled by `fill`, submit, wait up to `timeoutMs` (or until
// `cancelEvent` fires, when >= 0), close the event, then the status check. A
// request whose wait ended without completion is withdrawn from the ASPI layer
// before the call returns, so the layer never touches the block or its buffer
// afterwards.
Outcome Exchange(const std::function<void(SRB_ExecSCSICmd&)>& fill, uint32_t timeoutMs,
                 StatusCheck check, int cancelEvent = -1);

// While it lives, the requests this thread runs share one event instead of
// making a new one each (the worker, which asks the scanner up to sixty times
// a second while it waits for a cheque). The event is used again only after a
// request whose answer was awaited and taken from it: the ASPI layer has
// signalled it once and is done with it. After a wait that ended otherwise
// (timed out, cancelled, failed) the event is closed, for the layer may still
// signal it, and the next request makes a new one.
class RequestEventKeeper {
  public:
    RequestEventKeeper();
    ~RequestEventKeeper();
    RequestEventKeeper(const RequestEventKeeper&) = delete;
    RequestEventKeeper& operator=(const RequestEventKeeper&) = delete;

  private:
    friend Outcome Exchange(const std::function<void(SRB_ExecSCSICmd&)>&, uint32_t, StatusCheck,
                            int);
    int event_ = -1;
    RequestEventKeeper* outer_;
};

// The scanner for this process alone, against other processes (also of other
// users): taken by a batch and by the QA transfers, counted, and given up
// when the last of them ends or the process does.
enum class ScannerLock {
    Held,  // this process has the scanner
    Busy,  // another process has it: *holder names it ("pid 1234 (orvoscan)")
};
ScannerLock LockScanner(std::string* holder);
void UnlockScanner();
// Runs `work` with the scanner locked; ORVOSCAN_ERR_BUSY (and a log.txt
// line naming the holder) instead when another process has it.
int WithScannerAlone(const std::function<int()>& work);

// Finds the scanner over adapters 0..adapterCount-1 and targets 0..7 and
// records its address in the driver state. False when it was not found or an
// INQUIRY or the final TEST UNIT READY timed out.
bool DiscoverScanner(int adapterCount);

}  // namespace orvo
