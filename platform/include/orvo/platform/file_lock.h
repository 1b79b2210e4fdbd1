// Exclusive locks between processes: an advisory lock (flock) on an open file
// or directory, held until its descriptor is closed or the process ends.
#pragma once

#include <string>

namespace orvo::platform {

enum class LockState {
    Held,    // this descriptor holds the lock now
    Busy,    // another open file (another process) holds it
    Failed,  // the lock cannot be taken on this file
};

// Takes the exclusive lock on the file of `fd` without waiting.
LockState TryLockExclusive(int fd);

// Who holds a lock (flock, POSIX or open-file-description) on the file of
// `fd`, as "pid 1234 (orvoscan)"; "another process" when the system does not
// tell.
std::string LockHolder(int fd);

}  // namespace orvo::platform
