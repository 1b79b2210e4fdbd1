// One open scanner: its options, the batch it runs, the page being read, and
// the stop a frontend asks for with sane_cancel.
//
// Batch semantics for the automatic feeder: the first sane_start starts a
// driver batch; every sane_start takes the next side (front, then rear when
// both sides are scanned) as a whole page before it returns, so nothing of a
// page is lost between sane_start and sane_read; SANE_STATUS_NO_DOCS when the
// stack is done. sane_cancel while a page is pending (sane_start waiting, or
// a frame not yet read to its end) ends the batch at once; after a frame has
// been read to its end (frontends cancel after every page) it ends only that
// frame, and the next sane_start goes on with the stack. While a batch runs,
// an option keeps its value: setting the value it has is taken, another is
// refused (SANE_STATUS_DEVICE_BUSY).
//
// sane_cancel may come from another thread or from a signal handler (as
// scanimage sends it on Ctrl-C): it only counts the request and wakes the
// session's stop thread through an eventfd. That thread ends the driver's
// batch (EndBatch: a waiting page call returns at once, or once the cheque
// the scanner is reading has been read) and the frontend's thread learns of
// the stop at its next call, drops what came and frees the batch.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvo/sane/options.h"
#include "orvo/sane/page_frame.h"
#include "orvo/sane/private_settings.h"
#include "orvo/scanrun/driver.h"

namespace orvo::sane {

class Session {
  public:
    // `driver` has been started (Init) and outlives the session.
    // `realSettingsFile` is the operator's OrvoScan.ini, read for profiles,
    // never written.
    Session(scanrun::Driver& driver, PrivateSettings& privateSettings, std::string realSettingsFile,
            std::vector<std::string> profiles, const std::string& initialProfile);
    // Ends a running batch and the stop thread.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // False when the stop thread could not be started.
    bool ready() const { return cancelEvent_ >= 0 && canceller_.joinable(); }

    const SANE_Option_Descriptor* Descriptor(SANE_Int index) const;
    SANE_Status Control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info);
    SANE_Status GetParameters(SANE_Parameters* params);
    SANE_Status Start();
    SANE_Status Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
    // Async-signal-safe; returns at once.
    void Cancel();

  private:
    enum class Page { None, Reading, Done, Cancelled };

    bool SettleCancel();
    bool HasValue(SANE_Int index, const void* value);
    bool BatchRunning();
    void EndBatch();
    void CancellerLoop();
    SANE_Status TakePage();

    scanrun::Driver& driver_;
    Options options_;
    PrivateSettings& private_;
    std::string realSettingsFile_;

    // The frontend's thread only.
    Page page_ = Page::None;
    Frame frame_;
    FrameCrop crop_;  // of the running batch
    std::size_t readAt_ = 0;
    int pageIndex_ = 0;  // pages taken in this batch
    bool twoSided_ = true;
    bool micrRead_ = false;
    uint64_t cancelsSeen_ = 0;

    // Driver calls other than the page wait, the batch flag and the stops
    // served are guarded by mutex_: the stop thread ends a batch under it.
    std::mutex mutex_;
    std::condition_variable served_;
    bool batchRunning_ = false;
    // The stop thread ended the batch; the frontend's thread, which takes
    // the pages, frees it at its next call.
    bool batchEndedByStop_ = false;
    uint64_t cancelsServed_ = 0;
    bool stopping_ = false;
    bool cancellerDone_ = false;

    // From sane_start until the frame's last byte is read: a cancel then
    // ends the batch.
    std::atomic<bool> framePending_{false};
    std::atomic<uint64_t> cancelRequests_{0};
    int cancelEvent_ = -1;
    std::thread canceller_;
};

}  // namespace orvo::sane
