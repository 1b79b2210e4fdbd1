// The run's MICR file (micr.txt): records are only ever appended, each whole or
// not at all, and are on disk before the next page is taken. The file is
// created when missing and never emptied.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

namespace orvo::scanrun {

// Whether `path` can take records without being opened: an existing regular
// file that may be written, or a missing file in a writable directory; never
// a symbolic link. False with the reason (e.g. "is a FIFO, not a regular
// file") in `reason`.
bool MicrFileAppendable(const std::string& path, std::string* reason);

class MicrFile {
  public:
    explicit MicrFile(std::string path) : path_(std::move(path)) {}
    ~MicrFile();
    MicrFile(const MicrFile&) = delete;
    MicrFile& operator=(const MicrFile&) = delete;

    const std::string& path() const { return path_; }

    // Opens the file for appending, creating it when missing. Only a regular
    // file is accepted; a FIFO or a device is refused without waiting for a
    // reader, and a symbolic link is never followed (another user may have
    // planted it in a shared output directory). False with error() set when
    // it cannot be used.
    bool Open();

    // Appends one record and flushes it to disk (opening the file first when
    // Open() was not called). A record is whole or absent: after a short or
    // failed write or a failed flush the file is cut back to its length
    // before the record. False with error() set then. When the file ended
    // inside a line (a record cut short by an earlier program), the first
    // record starts on a new line.
    bool Append(const std::string& record);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& what, int err);

    std::string path_;
    std::string error_;
    int fd_ = -1;
    bool needsLineEnd_ = false;
};

}  // namespace orvo::scanrun
