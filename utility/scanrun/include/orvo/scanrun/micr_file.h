// The run's MICR file (micr.txt): records are only ever appended, each in one
// write, and are on disk before the next page is taken. The file is created
// when missing and never emptied.
#pragma once

#include <string>
#include <utility>

namespace orvo::scanrun {

class MicrFile {
  public:
    explicit MicrFile(std::string path) : path_(std::move(path)) {}
    ~MicrFile();
    MicrFile(const MicrFile&) = delete;
    MicrFile& operator=(const MicrFile&) = delete;

    const std::string& path() const { return path_; }

    // Appends one record with a single write and flushes it to disk. False
    // when the file cannot be opened, the write is refused or incomplete, or
    // the flush fails; error() then says why. The file is opened on the first
    // record.
    bool Append(const std::string& record);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const char* what, int err);

    std::string path_;
    std::string error_;
    int fd_ = -1;
};

}  // namespace orvo::scanrun
