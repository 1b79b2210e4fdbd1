// The lock on an output directory: one scan run at a time writes page files,
// micr.txt and quality.txt there, whichever program runs it (orvoscan, the
// desktop utility, the scanning service). A ScanRun takes it in Start() and
// gives it up when the run ends; a program that writes into an output by
// other means takes it itself:
//
//     orvo::scanrun::OutputLock lock(directory);   // never waits
//     if (lock.state() == OutputLock::State::Busy) {
//         // refuse at once: lock.message() names the directory and the
//         // holder ("pid 1234 (orvoscan), user alice, since 10:42:07")
//     } else if (lock.state() == OutputLock::State::Failed) {
//         // lock.message() says why (directory missing, not writable, ...)
//     }
//     // ... write; the lock goes with the object (or with the process)
//
// The lock is an open-file-description write lock on the file
// ".orvoscan.lock" in the directory, opened for writing: only a user who may
// write the output can take it. The file holds the holder's description and
// is removed when the lock is given up; one left by a killed process is
// taken over by the next run.
#pragma once

#include <string>

namespace orvo::scanrun {

// The name of the lock file in an output directory.
inline constexpr const char* kOutputLockName = ".orvoscan.lock";

class OutputLock {
  public:
    enum class State {
        Held,    // this object holds the output
        Busy,    // another run holds it (holder() names it)
        Failed,  // no lock could be made (message() says why)
    };

    // Takes the lock on `directory` without waiting.
    explicit OutputLock(const std::string& directory);
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    State state() const { return state_; }
    // Busy: the holder, as its lock file describes it ("another program"
    // when it does not say).
    const std::string& holder() const { return holder_; }
    // Busy or Failed: a sentence for the operator naming the directory.
    const std::string& message() const { return message_; }
    // Gives the lock up now (also done by the destructor).
    void Release();

  private:
    std::string path_;
    int fd_ = -1;
    State state_ = State::Failed;
    std::string holder_;
    std::string message_;
};

}  // namespace orvo::scanrun
