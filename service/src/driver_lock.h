// The service's hold on the driver: a batch of the service holds it for its
// whole run, a Windows program (K4TR.dll) from its first call to its end.
// Unlike std::mutex it may be given up by another thread than the one that
// took it: a program's calls arrive on whichever connection thread serves
// them.
#pragma once

#include <condition_variable>
#include <mutex>

namespace orvoscand {

class DriverLock {
  public:
    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        free_.wait(guard, [this] { return !held_; });
        held_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (held_) return false;
        held_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            held_ = false;
        }
        free_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
};

}  // namespace orvoscand
