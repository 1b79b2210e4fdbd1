#include "orvo/scanrun/micr_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvo::scanrun {

MicrFile::~MicrFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool MicrFile::Fail(const char* what, int err) {
    error_ = path_ + ": " + what + ": " + std::strerror(err);
    return false;
}

bool MicrFile::Append(const std::string& record) {
    error_.clear();
    if (fd_ < 0) {
        do {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return Fail("cannot open for appending", errno);
    }
    // One write of the whole record, so that a record is never interleaved
    // with or split by another writer's data.
    ssize_t written;
    do {
        written = ::write(fd_, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) return Fail("cannot write the record", errno);
    if (static_cast<std::size_t>(written) != record.size()) {
        return Fail("record written only in part", ENOSPC);
    }
    int synced;
    do {
        synced = ::fdatasync(fd_);
    } while (synced != 0 && errno == EINTR);
    if (synced != 0) return Fail("cannot flush the record to disk", errno);
    return true;
}

}  // namespace orvo::scanrun
