#include "orvo/scanrun/micr_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_kind.h"

namespace orvo::scanrun {

namespace {

// Records go to the output directory itself, never through a link another
// user may have planted there.
std::string LinkRefused(const std::string& path) {
    struct stat st{};
    const std::string to = ::stat(path.c_str(), &st) == 0 ? FileKind(st.st_mode) : "a missing file";
    return "is a symbolic link to " + to +
           ": records are never written through a link (remove it, or choose another output "
           "directory)";
}

std::string ParentDirectory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool MicrFileAppendable(const std::string& path, std::string* reason) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            *reason = LinkRefused(path);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            *reason = "is " + FileKind(st.st_mode) + ", not a regular file";
            return false;
        }
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
            *reason = std::string("cannot be written: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        *reason = std::strerror(errno);
        return false;
    }
    const std::string dir = ParentDirectory(path);
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        *reason = "cannot be created in " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

MicrFile::~MicrFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool MicrFile::Fail(const std::string& what, int err) {
    error_ = path_ + ": " + what + (err != 0 ? std::string(": ") + std::strerror(err) : "");
    return false;
}

bool MicrFile::Open() {
    error_.clear();
    if (fd_ >= 0) return true;
    // Named first so that a FIFO or a directory is refused with its kind
    // rather than with what open() happens to say about it.
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return Fail(LinkRefused(path_), 0);
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return Fail("is " + FileKind(st.st_mode) + ", not a regular file", 0);
    }
    // O_NONBLOCK: a FIFO put in place meanwhile must not block the run; the
    // descriptor is checked to be a regular file before it is used.
    // O_NOFOLLOW: nor is a link put in place meanwhile followed.
    const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    int fd;
    do {
        fd = ::open(path_.c_str(), O_RDWR | flags, 0644);
    } while (fd < 0 && errno == EINTR);
    bool readable = fd >= 0;
    if (fd < 0 && errno == EACCES) {
        do {
            fd = ::open(path_.c_str(), O_WRONLY | flags, 0644);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0 && errno == ELOOP) return Fail(LinkRefused(path_), 0);
    if (fd < 0) return Fail("cannot be opened for appending", errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail("is " + FileKind(st.st_mode) + ", not a regular file", 0);
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    // A file that ends inside a line would glue the next record onto it.
    char last = '\n';
    if (readable && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1) {
        needsLineEnd_ = last != '\n';
    }
    fd_ = fd;
    return true;
}

bool MicrFile::Append(const std::string& record) {
    error_.clear();
    if (fd_ < 0 && !Open()) return false;
    const std::string data = needsLineEnd_ ? "\r\n" + record : record;
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return Fail("cannot be read for its length", errno);
    const off_t before = st.st_size;

    // The whole record in one write where the system allows; a short write
    // is continued, and whatever stops it is reported.
    std::size_t done = 0;
    int err = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const char* what = "record not written";
    if (err == 0) {
        int synced;
        do {
            synced = ::fdatasync(fd_);
        } while (synced != 0 && errno == EINTR);
        if (synced == 0) {
            needsLineEnd_ = false;
            return true;
        }
        err = errno;
        what = "record not flushed to disk";
    }

    // Whole or absent: cut the file back to its length before the record,
    // unless someone else has appended meanwhile.
    std::string message = what;
    const bool known = ::fstat(fd_, &st) == 0;
    const std::string counts = std::to_string(done) + " of " + std::to_string(data.size());
    if (known && done == 0 && st.st_size == before) {
        // Nothing reached the file.
    } else if (known && st.st_size == before + static_cast<off_t>(done) &&
               ::ftruncate(fd_, before) == 0) {
        message += " (" + counts + " bytes had reached the file and were removed)";
    } else {
        message += " (" + counts + " bytes reached the file and could not be removed)";
    }
    return Fail(message, err);
}

}  // namespace orvo::scanrun
