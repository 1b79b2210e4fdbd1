#include "orvo/batch/page_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    struct stat st {};
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
        struct stat st {};
        // Still there under its name (nobody removed it behind our back).
        struct stat held {};
        if (lstat(own.path.c_str(), &st) == 0 && fstat(own.fd, &held) == 0 &&
            st.st_ino == held.st_ino && st.st_dev == held.st_dev) {
            return own.path;
        }
    }
    // A directory inherited from the parent process stays the parent's.
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

}  // namespace orvo
