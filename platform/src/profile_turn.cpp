// Writers' locks and readers' waits on a settings file.
#include "profile_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "orvo/platform/clock.h"
#include "orvo/platform/file_lock.h"

namespace orvo::platform::profile_turn {

namespace {

constexpr uint32_t kLongestRestMs = 16;
// Reads of a file that a write changed meanwhile are made again this often.
constexpr int kReadAttempts = 4;

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

struct flock WholeFile(short type) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// A writer's write lock is on the file of `fd` now. A read lock (which any
// reader could take) does not count: no writer of ours takes one.
bool WriterHolds(int fd) {
    struct flock probe = WholeFile(F_RDLCK);
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_WRLCK;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Unchanged(const struct stat& a, const struct stat& b) {
    return SameFile(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The file whose writer a reader of this process has given up waiting for.
// While that writer's lock stays, no read of the file waits again.
struct GivenUp {
    std::mutex mutex;
    bool any = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

// A plain static, not a leaked heap object: the SANE backend carries this code
// and is unloaded by frontends, and an object only its own statics point to
// would then be lost.
GivenUp& GaveUp() {
    static GivenUp given;
    return given;
}

bool GaveUpOn(const struct stat& st) {
    GivenUp& g = GaveUp();
    std::lock_guard lock(g.mutex);
    return g.any && g.dev == st.st_dev && g.ino == st.st_ino;
}

void SetGaveUp(const struct stat& st, bool gaveUp) {
    GivenUp& g = GaveUp();
    std::lock_guard lock(g.mutex);
    if (gaveUp) {
        g.any = true;
        g.dev = st.st_dev;
        g.ino = st.st_ino;
    } else if (g.any && g.dev == st.st_dev && g.ino == st.st_ino) {
        g.any = false;
    }
}

// Polls `ready` until it is true or kLockWaitMs have passed.
template <typename Ready>
bool PollFor(Ready ready) {
    const uint32_t start = TickCount();
    uint32_t rest = 1;
    for (;;) {
        if (ready()) return true;
        if (TicksSince(start, TickCount()) >= kLockWaitMs) return false;
        SleepMs(rest);
        rest = std::min(rest * 2, kLongestRestMs);
    }
}

// Waits while a writer holds the file of `fd`, unless this process has
// given up on that writer already.
void WaitForWriter(int fd, const struct stat& st) {
    if (!WriterHolds(fd)) {
        SetGaveUp(st, false);
        return;
    }
    if (GaveUpOn(st)) return;
    if (!PollFor([fd] { return !WriterHolds(fd); })) SetGaveUp(st, true);
}

}  // namespace

WriteTurn::~WriteTurn() {
    if (fd_ >= 0) ::close(fd_);
}

bool WriteTurn::WaitForFile(int fd) {
    bool onlyReaders = false;
    const bool held = PollFor([&] {
        struct flock lock = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) {
            onlyReaders = false;
            return true;
        }
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            onlyReaders = true;  // no lock on this file system: go ahead without
            return true;
        }
        // Only read locks in the way: none of ours, so no writer is busy.
        onlyReaders = !WriterHolds(fd);
        return onlyReaders;
    });
    if (!held) holder_ = LockHolder(fd);
    if (onlyReaders) result_ = Result::kUnlocked;
    return held;
}

bool WriteTurn::WaitForDirectory(int fd) {
    const bool held = PollFor([fd] { return TryLockExclusive(fd) != LockState::Busy; });
    if (!held) holder_ = LockHolder(fd);
    return held;
}

WriteTurn::Result WriteTurn::Take(const std::string& target) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = OpenRegularFile(target, O_RDWR);
        if (fd < 0 && errno == EINVAL) return Result::kNotRegular;
        if (fd < 0 && errno != ENOENT) return Result::kUnlocked;  // the write will say why
        if (fd < 0) {
            // Not there yet: the directory stands for it while it is made.
            const int dir = ::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir < 0) return Result::kUnlocked;
            if (!WaitForDirectory(dir)) {
                ::close(dir);
                return Result::kTimedOut;
            }
            struct stat st{};
            if (::stat(target.c_str(), &st) != 0 && errno == ENOENT) {
                fd_ = dir;
                return Result::kHeld;
            }
            ::close(dir);  // made meanwhile: its own lock counts
            continue;
        }
        result_ = Result::kHeld;
        if (!WaitForFile(fd)) {
            ::close(fd);
            return Result::kTimedOut;
        }
        struct stat held{}, now{};
        if (::fstat(fd, &held) == 0 && ::stat(target.c_str(), &now) == 0 && SameFile(held, now)) {
            fd_ = fd;
            return result_;
        }
        ::close(fd);  // replaced while we waited: the new file's turn
    }
    return Result::kUnlocked;
}

ReadResult ReadInTurn(const std::string& target, std::size_t maxBytes, std::string& data) {
    ReadResult result = ReadResult::Failed;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const int fd = OpenRegularFile(target, O_RDONLY);
        if (fd < 0) {
            if (errno == ENOENT) return ReadResult::Missing;
            return errno == EINVAL ? ReadResult::NotRegular : ReadResult::Failed;
        }
        struct stat before{}, after{};
        if (::fstat(fd, &before) != 0) {
            ::close(fd);
            return ReadResult::Failed;
        }
        WaitForWriter(fd, before);
        ::fstat(fd, &before);
        result = ReadOpenFile(fd, maxBytes, data);
        const bool whole = ::fstat(fd, &after) == 0 && Unchanged(before, after) &&
                           (GaveUpOn(after) || !WriterHolds(fd));
        ::close(fd);
        if (result != ReadResult::Ok || whole) return result;
    }
    return result;  // changing all the time: the last read as it is
}

}  // namespace orvo::platform::profile_turn
