// Taking turns on a settings file between processes.
//
// Writers lock the file with an open-file-description write lock (fcntl
// F_OFD_SETLK) on a descriptor opened for writing, so only a user who may
// write the file can hold it. Readers take no lock at all: a user who can
// only read the file therefore can never make anybody wait. A reader waits
// only while a writer holds its write lock (a rewrite in place is under way),
// at most kLockWaitMs, and after one wait given up on a file it does not wait
// for that file again while the same write lock is still held: a stuck
// writer costs a process one bounded wait, not one per key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orvo/platform/files.h"

namespace orvo::platform::profile_turn {

// The longest wait for another process's write (milliseconds).
inline constexpr uint32_t kLockWaitMs = 10000;

// A writer's turn on a settings file, held while this object lives: on the
// file itself (a replacement is a new file, so the lock is taken again until
// it is on the file the name leads to), or on its directory while the file
// does not exist yet.
class WriteTurn {
  public:
    enum class Result {
        kHeld,        // this writer has the turn
        kNotRegular,  // a FIFO, device or directory in the file's place
        kTimedOut,    // another writer held it longer than kLockWaitMs
        kUnlocked,    // no lock could be taken (the write itself says why, if it fails)
    };

    explicit WriteTurn(const std::string& target) { result_ = Take(target); }
    ~WriteTurn();
    WriteTurn(const WriteTurn&) = delete;
    WriteTurn& operator=(const WriteTurn&) = delete;

    Result result() const { return result_; }
    // Who held the lock when it was given up on.
    const std::string& holder() const { return holder_; }

  private:
    Result Take(const std::string& target);
    bool WaitForFile(int fd);
    bool WaitForDirectory(int fd);

    int fd_ = -1;
    Result result_ = Result::kUnlocked;
    std::string holder_;
};

// Reads the regular file `target` whole (at most maxBytes) as no writer is
// changing it: waits, bounded as above, while a writer holds its lock, and
// reads again when a write came between.
ReadResult ReadInTurn(const std::string& target, std::size_t maxBytes, std::string& data);

}  // namespace orvo::platform::profile_turn
