#include "batch_thread.h"

#include <utility>

namespace orvo::viewer {

BatchThread::BatchThread(scanrun::ScanRun& run, QObject* parent)
    : QObject(parent), run_(run), thread_([this] { Loop(); }) {}

BatchThread::~BatchThread() {
    run_.Interrupt();
    run_.Interrupt();
    Request(Ask::Quit);
    thread_.join();
}

void BatchThread::Start() {
    Request(Ask::Start);
}

void BatchThread::Next() {
    Request(Ask::Next);
}

void BatchThread::Interrupt() {
    run_.Interrupt();
}

void BatchThread::Request(Ask ask) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ask_ = ask;
    }
    wake_.notify_one();
}

void BatchThread::Loop() {
    for (;;) {
        Ask ask;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return ask_ != Ask::None; });
            ask = std::exchange(ask_, Ask::None);
        }
        if (ask == Ask::Quit) return;
        // The answer is handed over under the mutex (so that whatever the run
        // wrote is seen by the window's thread, which takes it under the same
        // mutex) and announced by an event queued to this object's thread.
        // The destructor joins this thread before the object goes, and the
        // object's pending events go with it.
        if (ask == Ask::Start) {
            const bool ok = run_.Start();
            std::lock_guard<std::mutex> lock(mutex_);
            started_ = ok;
        } else {
            scanrun::PageStep step = run_.Next();
            std::lock_guard<std::mutex> lock(mutex_);
            step_ = std::move(step);
        }
        QMetaObject::invokeMethod(this, &BatchThread::Deliver, Qt::QueuedConnection);
    }
}

void BatchThread::Deliver() {
    std::optional<bool> started;
    std::optional<scanrun::PageStep> step;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started = std::exchange(started_, std::nullopt);
        step = std::exchange(step_, std::nullopt);
    }
    if (started) {
        emit this->started(*started);
    } else if (step) {
        emit stepped(*step);
    }
}

}  // namespace orvo::viewer
