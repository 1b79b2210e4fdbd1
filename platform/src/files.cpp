#include "orvo/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace orvo::platform {

namespace {

std::atomic<uint32_t> g_serial{0};

// ".orvo" and eight hex digits in `dir` (which ends in '/'): short, so that
// a target name as long as the file system allows still has a temporary
// name beside it. Process, serial and clock are mixed so that two writers
// rarely try the same name; O_EXCL settles the rest.
std::string ShortTempName(const std::string& dir) {
    const auto now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint32_t x = static_cast<uint32_t>(getpid()) * 2654435761u;
    x ^= (g_serial.fetch_add(1) + 1) * 0x9E3779B1u;
    x ^= static_cast<uint32_t>(now ^ (now >> 32));
    char name[16];
    std::snprintf(name, sizeof name, ".orvo%08x", static_cast<unsigned>(x));
    return dir + name;
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, int mode) {
    const int fd =
        open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) return -1;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        close(fd);
        errno = S_ISREG(st.st_mode) ? error : EINVAL;
        return -1;
    }
    // A regular file never blocks; the flag only kept open() from waiting.
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

FileReplacement::FileReplacement(std::string path, Options options)
    : path_(std::move(path)), options_(options) {
    const std::size_t slash = path_.rfind('/');
    if (path_.empty() || slash + 1 == path_.size()) {
        Fail(path_.empty() ? ENOENT : EISDIR);
        return;
    }
    dir_ = slash == std::string::npos ? std::string("./") : path_.substr(0, slash + 1);
    // Only a regular file of the writer's own (or one whose owner is kept)
    // hands on its permission bits: a symbolic link in its place (another
    // user's link to a file of open mode) or another user's file never
    // does, and the new file gets the mode the umask gives.
    struct stat old{};
    const bool replaces = lstat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
                          (options_.keepOwner || old.st_uid == geteuid());

    if (options_.unnamed) {
        fd_ = open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        // Only a file system without unnamed files falls back to a name.
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR) {
            Fail(errno);
            return;
        }
    }
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
        std::string name = ShortTempName(dir_);
        fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            named_ = std::move(name);
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (fd_ < 0) {
        Fail(errno != 0 ? errno : EEXIST);
        return;
    }
    if (!replaces) return;
    if (options_.keepOwner) {
        struct stat now{};
        if (fstat(fd_, &now) != 0) {
            Fail(errno);
            return;
        }
        if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
            fchown(fd_, old.st_uid, old.st_gid) != 0) {
            Fail(EPERM);
            return;
        }
    }
    // After the owner: a change of owner clears the set-id bits.
    if (fchmod(fd_, old.st_mode & 07777) != 0) Fail(errno);
}

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !named_.empty()) unlink(named_.c_str());
}

bool FileReplacement::Fail(int error) {
    if (error_ == 0) error_ = error;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!named_.empty()) unlink(named_.c_str());
    named_.clear();
    return false;
}

bool FileReplacement::LinkAs(const std::string& name) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_);
    if (linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    const int error = errno;
    // Without /proc: the descriptor itself (allowed to privileged callers).
    if (error == ENOENT && linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
        return true;
    }
    errno = error;
    return false;
}

bool FileReplacement::Commit() {
    if (fd_ < 0 || committed_) return false;
    if (options_.sync && fsync(fd_) != 0) return Fail(errno);
    if (!named_.empty()) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) return Fail(errno);
        if (rename(named_.c_str(), path_.c_str()) != 0) return Fail(errno);
        named_.clear();
    } else if (!LinkAs(path_)) {
        // The target exists: linked under a short name beside it, then
        // renamed over it.
        if (errno != EEXIST) return Fail(errno);
        std::string name;
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            name = ShortTempName(dir_);
            error = LinkAs(name) ? 0 : errno;
        }
        if (error != 0) return Fail(error);
        if (rename(name.c_str(), path_.c_str()) != 0) {
            error = errno;
            unlink(name.c_str());
            return Fail(error);
        }
    }
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    committed_ = true;
    if (options_.sync) {
        const int dfd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            fsync(dfd);  // the new name is in place either way
            close(dfd);
        }
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& data) {
    data.clear();
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        return errno == EINVAL ? ReadResult::NotRegular : ReadResult::Failed;
    }
    const ReadResult result = ReadOpenFile(fd, maxBytes, data);
    close(fd);
    return result;
}

ReadResult ReadOpenFile(int fd, std::size_t maxBytes, std::string& data) {
    data.clear();
    struct stat st{};
    if (fstat(fd, &st) != 0) return ReadResult::Failed;
    if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) return ReadResult::TooLarge;
    char chunk[65536];
    for (;;) {
        const ssize_t n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(data.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            data.clear();
            return ReadResult::Failed;
        }
        if (n == 0) break;
        // A file that grows while it is read stops at the bound.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
            data.clear();
            return ReadResult::TooLarge;
        }
        data.append(chunk, static_cast<std::size_t>(n));
    }
    return ReadResult::Ok;
}

}  // namespace orvo::platform
