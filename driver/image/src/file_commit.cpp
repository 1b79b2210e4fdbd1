#include "file_commit.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace orvo {

namespace {
std::atomic<unsigned> g_serial{0};
}

PendingFile::PendingFile(std::string path) : path_(std::move(path)) {
    if (path_.empty()) return;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".part-%ld-%u", static_cast<long>(getpid()),
                      g_serial.fetch_add(1));
        temp_ = path_ + suffix;
        fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) temp_.clear();
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
}

bool PendingFile::Commit() {
    if (temp_.empty()) return false;
    if (fd_ >= 0) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) return false;
    }
    if (rename(temp_.c_str(), path_.c_str()) != 0) return false;
    committed_ = true;
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace orvo
