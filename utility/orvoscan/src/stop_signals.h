// Ctrl-C (SIGINT), SIGTERM and SIGHUP during a scan. The signals are blocked
// in every thread and taken by one thread of their own, which may call the
// driver (a signal handler may not). Until the batch has started (the driver
// starting, the settings read, waits for another program's write among them)
// a signal ends the program at once with status 130: nothing has been fed or
// written yet. From then on the first signal ends the run before
// the next cheque and cuts short a wait for it at once, the second also cuts
// short a wait for the rear page of the cheque in progress, the third ends
// the program at once with status 130.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "orvo/scanrun/scan_run.h"

namespace orvoscan {

class StopSignals {
  public:
    // Blocks the signals in the calling thread and in every thread started
    // after it (construct before the driver starts its own threads), and
    // starts the thread that takes them.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the signals could not be taken (they then end the program
    // as usual).
    bool ok() const { return thread_.joinable(); }

    // Signals go to this run from now on; one that came before is passed on
    // at once.
    void Attach(orvo::scanrun::ScanRun* run);
    void Detach();
    // The batch has started (or was refused): from now on signals go to the
    // run instead of ending the program at once.
    void Settle() { settled_.store(true); }

    int received() const { return received_.load(); }

  private:
    void Loop();
    void Take();

    int signalFd_ = -1;
    int quitFd_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    orvo::scanrun::ScanRun* run_ = nullptr;
    std::atomic<int> received_{0};
    std::atomic<bool> settled_{false};
};

}  // namespace orvoscan
