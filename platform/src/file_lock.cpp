#include "orvo/platform/file_lock.h"

#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orvo::platform {

namespace {

// "MAJOR:MINOR:INODE" of /proc/locks: device numbers in hex, inode in decimal.
bool SameFile(const std::string& field, const struct stat& st) {
    unsigned long devMajor = 0, devMinor = 0, inode = 0;
    if (std::sscanf(field.c_str(), "%lx:%lx:%lu", &devMajor, &devMinor, &inode) != 3) {
        return false;
    }
    return devMajor == major(st.st_dev) && devMinor == minor(st.st_dev) && inode == st.st_ino;
}

// The process with an open file whose lock line (in its fdinfo) names the
// file of `st`: open-file-description locks carry no pid in /proc/locks.
// Only processes this user may look into are found. 0 when none is.
long ProcessHoldingLockOn(const struct stat& st) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    long found = 0;
    int looked = 0;
    while (dirent* p = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (end == p->d_name || *end != '\0' || pid <= 0) continue;
        const std::string fdinfo = std::string("/proc/") + p->d_name + "/fdinfo";
        DIR* fds = opendir(fdinfo.c_str());
        if (fds == nullptr) continue;
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.' || ++looked > 100000) continue;
            std::ifstream info(fdinfo + "/" + f->d_name);
            std::string line;
            while (std::getline(info, line)) {
                if (line.rfind("lock:", 0) != 0 || line.find("->") != std::string::npos) continue;
                std::istringstream fields(line.substr(5));
                std::string number, kind, mode, access, lockPid, file;
                if (fields >> number >> kind >> mode >> access >> lockPid >> file &&
                    SameFile(file, st)) {
                    found = pid;
                }
            }
            if (found != 0) break;
        }
        closedir(fds);
        if (found != 0) break;
    }
    closedir(proc);
    return found;
}

std::string ProgramName(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

}  // namespace

LockState TryLockExclusive(int fd) {
    if (fd < 0) return LockState::Failed;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return LockState::Held;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? LockState::Busy : LockState::Failed;
    }
}

std::string LockHolder(int fd) {
    struct stat st{};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        // Lines like "1: FLOCK  ADVISORY  WRITE 1234 00:06:3 0 EOF"; waiters
        // are listed with "->" and hold nothing.
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line)) {
            if (line.find("->") != std::string::npos) continue;
            std::istringstream fields(line);
            std::string number, kind, mode, access, file;
            long pid = 0;
            if (!(fields >> number >> kind >> mode >> access >> pid >> file)) continue;
            if (kind != "FLOCK" && kind != "POSIX" && kind != "OFDLCK") continue;
            if (!SameFile(file, st)) continue;
            if (pid <= 0) pid = ProcessHoldingLockOn(st);
            if (pid <= 0) continue;
            const std::string name = ProgramName(pid);
            return "pid " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
        }
    }
    return "another process";
}

}  // namespace orvo::platform
