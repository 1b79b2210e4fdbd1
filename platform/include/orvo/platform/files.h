// Opening files that must be regular files: a FIFO, a device or a directory
// in their place is refused at once instead of blocking or being read
// without end.
#pragma once

#include <cstddef>
#include <string>

namespace orvo::platform {

// open(path, flags, mode) for a regular file only. Never waits for a FIFO's
// other end, never makes a terminal the controlling one. Returns the
// descriptor (close-on-exec, blocking) or -1 with errno set (EINVAL for a
// file that is not a regular file, ELOOP for a symbolic link with O_NOFOLLOW).
int OpenRegularFile(const std::string& path, int flags, int mode = 0600);

enum class ReadResult {
    Ok,
    Missing,     // no such file
    NotRegular,  // a FIFO, device, directory, ...
    TooLarge,    // more than maxBytes; nothing read
    Failed,      // could not be opened or read
};

// Reads a whole regular file of at most maxBytes bytes into `data` (its size
// is checked before anything is read).
ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& data);

}  // namespace orvo::platform
