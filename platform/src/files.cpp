#include "orvo/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orvo::platform {

int OpenRegularFile(const std::string& path, int flags, int mode) {
    const int fd =
        open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) return -1;
    struct stat st {};
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

ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& data) {
    data.clear();
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        return errno == EINVAL ? ReadResult::NotRegular : ReadResult::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return ReadResult::Failed;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        close(fd);
        return ReadResult::TooLarge;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        // A file that grows while it is read stops at the bound.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
            close(fd);
            data.clear();
            return ReadResult::TooLarge;
        }
        data.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return ReadResult::Ok;
}

}  // namespace orvo::platform
