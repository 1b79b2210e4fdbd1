// A file written under a temporary name next to its final path and renamed
// into place only when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

class PendingFile {
  public:
    explicit PendingFile(std::string path);
    ~PendingFile();  // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Descriptor of the temporary file, or -1 when it could not be created.
    int fd() const { return fd_; }
    const std::string& tempPath() const { return temp_; }
    // The descriptor was handed on and closed by its new owner.
    void Released() { fd_ = -1; }
    // Flushes and closes (when still open) and renames to the final path.
    bool Commit();

  private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes all `length` bytes; false on any error.
bool WriteAll(int fd, const void* data, std::size_t length);

}  // namespace orvo
