#include "orvo/platform/file_lock.h"

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
    struct stat st {};
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
            if (kind != "FLOCK" || pid <= 0) continue;
            if (!SameFile(file, st)) continue;
            const std::string name = ProgramName(pid);
            return "pid " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
        }
    }
    return "another process";
}

}  // namespace orvo::platform
