// Opening files that must be regular files: a FIFO, a device or a directory
// in their place is refused at once instead of blocking or being read
// without end.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

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

// The same for a file already open for reading (from its start, whatever the
// descriptor's offset).
ReadResult ReadOpenFile(int fd, std::size_t maxBytes, std::string& data);

// The new content of a file, written where nobody sees it and put in place
// whole by Commit(). The data go to an unnamed file in the target's directory
// (O_TMPFILE), linked in only when complete, so a killed process leaves
// nothing behind. Where the file system has no unnamed files, a named one
// with a short name (".orvoXXXXXXXX") is used, so that every target name a
// plain open() accepts works. A regular file of the writer's own that is
// replaced keeps its permission bits (with keepOwner, any regular file keeps
// them, and its owner and group); a new file, and one that replaces a
// symbolic link or another user's file, gets the mode the umask gives.
class FileReplacement {
  public:
    struct Options {
        bool keepOwner = false;  // refuse (EPERM) when the owner cannot be kept
        bool sync = false;       // flush data and directory to disk on Commit
        bool unnamed = true;     // false: always the named temporary file
    };

    explicit FileReplacement(std::string path) : FileReplacement(std::move(path), Options()) {}
    FileReplacement(std::string path, Options options);
    ~FileReplacement();  // drops the new content unless committed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Descriptor to write the new content to, or -1 (see error()).
    int fd() const { return fd_; }
    // errno of the first failure, 0 when none.
    int error() const { return error_; }
    // Puts the content in place under the target name; false (and the
    // target untouched) on failure.
    bool Commit();

  private:
    bool Fail(int error);
    bool LinkAs(const std::string& name);

    std::string path_;
    std::string dir_;
    std::string named_;  // the named temporary file, when one is used
    Options options_;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
};

// Writes all `length` bytes to `fd`; false on any error (errno tells).
bool WriteAll(int fd, const void* data, std::size_t length);

}  // namespace orvo::platform
