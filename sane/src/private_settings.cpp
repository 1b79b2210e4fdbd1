#include "orvo/sane/private_settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvo/platform/dirs.h"
#include "orvo/platform/files.h"
#include "orvo/platform/profile.h"
#include "orvo/sane/log.h"

namespace orvo::sane {

namespace {

using platform::FileReplacement;

constexpr const char* kTables[] = {"huffmanw.dat", "huffmanb.dat", "huffmang.dat"};
constexpr const char* kPrefix = "sane-";

// The process number in a name "sane-<pid>" or "sane-<pid>-<n>", or 0.
pid_t OwnerOf(const char* name) {
    if (std::strncmp(name, kPrefix, std::strlen(kPrefix)) != 0) return 0;
    const char* digits = name + std::strlen(kPrefix);
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || pid <= 0 || pid > INT_MAX) return 0;
    if (*end == '-') {
        const char* n = end + 1;
        std::strtol(n, &end, 10);
        if (end == n) return 0;
    }
    return *end == '\0' ? static_cast<pid_t>(pid) : 0;
}

// Opens and locks a private directory of this user (never through a link).
// -1 when it is no such directory or another process holds its lock.
int OpenLocked(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st{};
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0 ||
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Removes the plain files and links in the directory open as `fd` (never
// following a link).
void EmptyDir(int fd) {
    const int copy = dup(fd);
    if (copy < 0) return;
    DIR* d = fdopendir(copy);
    if (d == nullptr) {
        close(copy);
        return;
    }
    rewinddir(d);  // the copy shares its position with `fd`
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        unlinkat(fd, e->d_name, 0);
    }
    closedir(d);
}

// Directories left by backends in processes that no longer run. A directory
// whose lock is held stays (its process lives in another pid namespace).
void RemoveLeftovers(const std::string& parent) {
    DIR* d = opendir(parent.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const pid_t owner = OwnerOf(e->d_name);
        if (owner == 0 || owner == getpid()) continue;
        if (kill(owner, 0) == 0 || errno != ESRCH) continue;
        const std::string dir = parent + e->d_name;
        const int fd = OpenLocked(dir);
        if (fd < 0) continue;
        Log(kLogDetail, "removing %s of a process that has ended", dir.c_str());
        EmptyDir(fd);
        rmdir(dir.c_str());
        close(fd);
    }
    closedir(d);
}

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool PrivateSettings::Create(const std::string& realDir, const std::string& driverLibrary,
                             std::string* error) {
    const std::string parent = platform::PrivateTempDir(error);
    if (parent.empty()) return false;
    Remove();
    RemoveLeftovers(parent);
    // The parent is private to this user: a directory of our number that
    // nobody holds is a leftover of an ended process (or of this one).
    std::string dir;
    for (int n = 0; n < 10 && lock_ < 0; ++n) {
        dir = parent + kPrefix + std::to_string(getpid());
        if (n > 0) dir += "-" + std::to_string(n);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            return Fail(error, "cannot create " + dir);
        }
        lock_ = OpenLocked(dir);
    }
    if (lock_ < 0) {
        errno = EBUSY;
        return Fail(error, "no private directory could be made in " + parent);
    }
    EmptyDir(lock_);
    dir_ = dir + "/";

    const std::string base = driverLibrary.substr(driverLibrary.rfind('/') + 1);
    if (symlink(driverLibrary.c_str(), (dir_ + base).c_str()) != 0) {
        const bool ok = Fail(error, "cannot link the driver library into " + dir);
        Remove();
        return ok;
    }
    const std::string real = platform::WithTrailingSlash(realDir);
    for (const char* table : kTables) {
        // A missing table is the driver's to report when it starts.
        struct stat st{};
        if (stat((real + table).c_str(), &st) != 0) continue;
        if (symlink((real + table).c_str(), (dir_ + table).c_str()) != 0) {
            const bool ok = Fail(error, std::string("cannot link ") + table + " into " + dir);
            Remove();
            return ok;
        }
    }
    Log(kLogDetail, "private system directory %s", dir_.c_str());
    return true;
}

void PrivateSettings::Remove() {
    if (lock_ < 0) return;
    EmptyDir(lock_);
    rmdir(dir_.substr(0, dir_.size() - 1).c_str());
    close(lock_);
    lock_ = -1;
    dir_.clear();
}

bool PrivateSettings::Prepare(const std::string& realSettingsFile, const std::string& profile,
                              const ScanSettings& s, std::string* error) {
    // Read as the driver reads it: a FIFO, a device or an endless file in its
    // place is refused at once, never waited on or read without end.
    std::string text;
    if (!platform::ReadProfileText(realSettingsFile, text, error)) return false;
    if (text.find('\0') != std::string::npos) {
        *error = realSettingsFile + " holds a zero byte: a binary file, not settings";
        return false;
    }
    const std::string file = SettingsFile();
    {
        FileReplacement copy(file);
        if (copy.fd() < 0 || !platform::WriteAll(copy.fd(), text.data(), text.size()) ||
            !copy.Commit()) {
            errno = copy.error() != 0 ? copy.error() : errno;
            return Fail(error, "cannot write " + file);
        }
    }
    const std::string p = profile;
    const std::vector<platform::ProfileEntry> keys = {
        {p, "Side", std::to_string(s.side)},
        {p, "Resolution", std::to_string(s.resolution)},
        {p, "ScanMode1", std::to_string(s.scanMode)},
        {p, "CompressMode", std::to_string(s.compressMode)},
        {p, "ScanWidth", std::to_string(s.scanWidth)},
        {p, "ScanLines1", std::to_string(s.scanLines)},
        {p, "BWSlice1", std::to_string(s.bwSlice)},
        {"Misc", "DFDetect", std::to_string(s.dfDetect)},
        {"Misc", "Endorser", std::to_string(s.endorser)},
        {"Misc", "SerialNo", std::to_string(s.serialNo)},
        {"Misc", "EndorserFormat", s.endorserFormat},
        // The backend reads the driver's TIFF page files, uncompressed gray.
        {"Misc", "ImageFileFormat", "0"},
        {"Misc", "GrayTifCompress", "0"},
    };
    return platform::WriteProfileStrings(keys, file, error);
}

}  // namespace orvo::sane
