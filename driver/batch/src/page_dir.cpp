#include "orvo/batch/page_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "orvo/batch/batch.h"
#include "orvo/platform/file_lock.h"

namespace orvo {

namespace {

constexpr char kPrefix[] = "batch-";

struct OwnDir {
    std::mutex mutex;
    pid_t pid = 0;        // the process that made it (a forked child makes its own)
    std::string tempDir;  // the private directory it is in
    std::string path;     // ends in '/'
    int fd = -1;          // holds the lock
};

OwnDir& Own() {
    static OwnDir* own = new OwnDir;
    return *own;
}

// What a signal handler needs of the page directory, set while it exists:
// its descriptor (the one holding the lock) and its path.
std::atomic<int> g_signalDirFd{-1};
std::atomic<pid_t> g_signalDirPid{0};  // a forked child leaves its parent's pages alone
char g_signalDirPath[PATH_MAX];

// "_tmp" or "_err", four or more digits, ".dat": checked without the locale.
bool IsPageFileName(const char* name) {
    if (std::strncmp(name, "_tmp", 4) != 0 && std::strncmp(name, "_err", 4) != 0) return false;
    const char* p = name + 4;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p) ++digits;
    return digits >= 4 && std::strcmp(p, ".dat") == 0;
}

// Removes the page and dump files of the directory open as `fd`, with
// system calls only (safe in a signal handler).
void RemovePageFilesAt(int fd) {
    struct Entry {
        uint64_t ino;
        int64_t off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
    };
    alignas(8) char buf[4096];
    for (int pass = 0; pass < 64; ++pass) {
        if (lseek(fd, 0, SEEK_SET) != 0) return;
        bool removed = false;
        for (;;) {
            const long n = syscall(SYS_getdents64, fd, buf, sizeof buf);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const Entry* e = reinterpret_cast<const Entry*>(buf + at);
                if (e->reclen == 0) break;
                if (IsPageFileName(e->name) && unlinkat(fd, e->name, 0) == 0) removed = true;
                at += e->reclen;
            }
        }
        if (!removed) return;  // once more after removals: the listing shifted
    }
}

void RemoveOnSignal(int sig) {
    const int saved = errno;
    const int fd = g_signalDirFd.load();
    if (fd >= 0 && g_signalDirPid.load() == getpid()) {
        RemovePageFilesAt(fd);
        rmdir(g_signalDirPath);
    }
    signal(sig, SIG_DFL);
    errno = saved;
    raise(sig);
}

void RemoveAtExit() {
    const int fd = g_signalDirFd.load();
    if (fd < 0 || g_signalDirPid.load() != getpid()) return;
    RemovePageFilesAt(fd);
    rmdir(g_signalDirPath);
}

// A directory of this user, not a link, closed to others.
bool Private(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Opens and locks `path` (a directory that must stay ours). -1 when it is not
// one of ours or another live process has it; *busy tells the latter.
int OpenLocked(const std::string& path, bool* busy) {
    *busy = false;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !Private(st)) {
        close(fd);
        return -1;
    }
    const platform::LockState state = platform::TryLockExclusive(fd);
    if (state != platform::LockState::Held) {
        *busy = state == platform::LockState::Busy;
        close(fd);
        return -1;
    }
    return fd;
}

// The pid in "batch-<pid>" or "batch-<pid>-<n>"; 0 when the name is not ours.
long PidOf(const char* name) {
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return 0;
    const char* p = name + sizeof kPrefix - 1;
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (end == p || pid <= 0) return 0;
    if (*end == '\0') return pid;
    if (*end != '-') return 0;
    const char* q = end + 1;
    std::strtol(q, &end, 10);
    return end != q && *end == '\0' ? pid : 0;
}

}  // namespace

std::string ProcessPageDir(const std::string& tempDir, std::string* error) {
    OwnDir& own = Own();
    std::lock_guard lock(own.mutex);
    const pid_t pid = getpid();
    if (own.fd >= 0 && own.pid == pid && own.tempDir == tempDir) {
        struct stat st{};
        // Still there under its name (nobody removed it behind our back).
        struct stat held{};
        if (lstat(own.path.c_str(), &st) == 0 && fstat(own.fd, &held) == 0 &&
            st.st_ino == held.st_ino && st.st_dev == held.st_dev) {
            return own.path;
        }
    }
    // A directory inherited from the parent process stays the parent's.
    g_signalDirFd.store(-1);
    if (own.fd >= 0) close(own.fd);
    own.fd = -1;
    own.path.clear();

    std::string reason = "no directory could be made";
    for (int n = 0; n < 10; ++n) {
        std::string name = kPrefix + std::to_string(pid);
        if (n > 0) name += "-" + std::to_string(n);
        const std::string path = tempDir + name;
        const bool made = mkdir(path.c_str(), 0700) == 0;
        if (!made && errno != EEXIST) {
            reason = "cannot make " + path + ": " + std::strerror(errno);
            break;
        }
        bool busy = false;
        const int fd = OpenLocked(path, &busy);
        if (fd < 0) {
            // A live process of the same number (another pid namespace), or
            // something that is not ours: the next name.
            reason = path + (busy ? " is in use" : " is not a private directory of this user");
            continue;
        }
        // Left by an ended process of the same number: its files go.
        if (!made) DeleteBatchFiles(path + "/");
        own.pid = pid;
        own.tempDir = tempDir;
        own.path = path + "/";
        own.fd = fd;
        if (path.size() < sizeof g_signalDirPath) {
            std::memcpy(g_signalDirPath, path.c_str(), path.size() + 1);
            g_signalDirPid.store(pid);
            g_signalDirFd.store(fd);
        }
        return own.path;
    }
    if (error != nullptr) *error = reason;
    return {};
}

int SweepEndedPageDirs(const std::string& tempDir) {
    DIR* dir = opendir(tempDir.c_str());
    if (dir == nullptr) return 0;
    const std::string own = [] {
        std::lock_guard lock(Own().mutex);
        return Own().path;
    }();
    int removed = 0;
    while (dirent* entry = readdir(dir)) {
        const long pid = PidOf(entry->d_name);
        if (pid == 0) continue;
        const std::string path = tempDir + entry->d_name;
        if (path + "/" == own) continue;
        // Only a process that no longer exists leaves its directory behind;
        // a live one also holds its lock.
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        bool busy = false;
        const int fd = OpenLocked(path, &busy);
        if (fd < 0) continue;
        DeleteBatchFiles(path + "/");
        if (rmdir(path.c_str()) == 0) ++removed;
        close(fd);
    }
    closedir(dir);
    return removed;
}

void RemoveProcessPageDir() {
    OwnDir& own = Own();
    std::lock_guard lock(own.mutex);
    if (own.fd < 0 || own.pid != getpid()) return;
    g_signalDirFd.store(-1);
    RemovePageFilesAt(own.fd);
    rmdir(own.path.c_str());
    close(own.fd);
    own.fd = -1;
    own.path.clear();
}

void RemovePagesAtProcessEnd() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit(RemoveAtExit);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now{};
            if (sigaction(sig, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) continue;
            struct sigaction ours{};
            ours.sa_handler = RemoveOnSignal;
            sigemptyset(&ours.sa_mask);
            ours.sa_flags = SA_RESETHAND;
            sigaction(sig, &ours, nullptr);
        }
    });
}

}  // namespace orvo
