// The driver calls of one scan run on a thread of their own, so that the
// window never waits for the scanner: the thread makes every call of the
// batch (OrvoScan_StartBatch, OrvoScan_GetOneImage, the MICR reads,
// OrvoScan_EndBatch) one step at a time as the window asks, and each answer
// arrives as a signal on the window's thread. Between two steps the thread
// waits for the window, so the window reads the run (page(), statistics(),
// outcome()) only while the thread does nothing with it; each answer passes
// through this object's mutex, so what the thread wrote is seen.
//
// The window's thread calls the driver during a batch only through
// Interrupt(): OrvoScan_EndBatch, the one call another thread may make while
// OrvoScan_GetOneImage waits.
#pragma once

#include <QObject>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "orvo/scanrun/scan_run.h"

namespace orvo::viewer {

class BatchThread : public QObject {
    Q_OBJECT

  public:
    // `run` must outlive this object.
    explicit BatchThread(scanrun::ScanRun& run, QObject* parent = nullptr);
    // Ends the batch at once (a wait for a page ends) and ends the thread; a
    // run still in progress is left to the ScanRun's destructor.
    ~BatchThread() override;
    BatchThread(const BatchThread&) = delete;
    BatchThread& operator=(const BatchThread&) = delete;

    // ScanRun::Start() on the thread; answered by started().
    void Start();
    // ScanRun::Next() on the thread; answered by stepped(). Asked once per
    // answer, until a step has `ended` set.
    void Next();
    // ScanRun::Interrupt(): the batch ends after the cheque the scanner is
    // reading (at once while it waits for one), whose pages still come as
    // steps; a second call ends it at once.
    void Interrupt();

  signals:
    // A receiver must not delete this object while it handles the signal.
    void started(bool ok);
    void stepped(const orvo::scanrun::PageStep& step);

  private:
    enum class Ask { None, Start, Next, Quit };
    void Request(Ask ask);
    void Loop();
    void Deliver();  // on the window's thread

    scanrun::ScanRun& run_;
    std::mutex mutex_;
    std::condition_variable wake_;
    Ask ask_ = Ask::None;
    std::optional<bool> started_;  // answers not yet delivered
    std::optional<scanrun::PageStep> step_;
    std::thread thread_;
};

}  // namespace orvo::viewer
