#include "private_settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "log.h"
#include "orvo/platform/dirs.h"
#include "orvo/platform/profile.h"

namespace orvo::sane {

namespace {

constexpr const char* kTables[] = {"huffmanw.dat", "huffmanb.dat", "huffmang.dat"};
constexpr const char* kPrefix = "sane-";

// The process number in a name "sane-<pid>", or 0.
pid_t OwnerOf(const char* name) {
    if (std::strncmp(name, kPrefix, std::strlen(kPrefix)) != 0) return 0;
    const char* digits = name + std::strlen(kPrefix);
    if (*digits == '\0') return 0;
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    return *end == '\0' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// Directories left by backends in processes that no longer run.
void RemoveLeftovers(const std::string& parent) {
    DIR* d = opendir(parent.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const pid_t owner = OwnerOf(e->d_name);
        if (owner == 0 || owner == getpid()) continue;
        if (kill(owner, 0) == 0 || errno != ESRCH) continue;
        Log(kLogDetail, "removing %s%s of a process that has ended", parent.c_str(), e->d_name);
        RemovePrivateDir(parent + e->d_name);
    }
    closedir(d);
}

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

void RemovePrivateDir(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    if (DIR* d = fdopendir(fd)) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            unlinkat(fd, e->d_name, 0);
        }
        closedir(d);  // closes fd
    } else {
        close(fd);
    }
    rmdir(dir.c_str());
}

bool PrivateSettings::Create(const std::string& realDir, const std::string& driverLibrary,
                             std::string* error) {
    const std::string parent = platform::PrivateTempDir(error);
    if (parent.empty()) return false;
    RemoveLeftovers(parent);
    const std::string dir = parent + kPrefix + std::to_string(getpid());
    // The parent is private to this user: a directory of this name can only
    // be a leftover of an earlier process with the same number, or our own.
    RemovePrivateDir(dir);
    if (mkdir(dir.c_str(), 0700) != 0) return Fail(error, "cannot create " + dir);
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
        struct stat st {};
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
    if (dir_.empty()) return;
    RemovePrivateDir(dir_.substr(0, dir_.size() - 1));
    dir_.clear();
}

bool PrivateSettings::Prepare(const std::string& realSettingsFile, const std::string& profile,
                              const ScanSettings& s, std::string* error) {
    std::string text;
    {
        std::ifstream in(realSettingsFile, std::ios::binary);
        if (in) {
            std::ostringstream all;
            all << in.rdbuf();
            text = all.str();
        }
    }
    const std::string file = SettingsFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) return Fail(error, "cannot write " + file);
    }
    const struct {
        const char* section;
        const char* key;
        int value;
    } keys[] = {
        {profile.c_str(), "Side", s.side},
        {profile.c_str(), "Resolution", s.resolution},
        {profile.c_str(), "ScanMode1", s.scanMode},
        {profile.c_str(), "CompressMode", s.compressMode},
        {profile.c_str(), "ScanWidth", s.scanWidth},
        {profile.c_str(), "ScanLines1", s.scanLines},
        {profile.c_str(), "BWSlice1", s.bwSlice},
        // The backend reads the driver's TIFF page files, uncompressed gray.
        {"Misc", "ImageFileFormat", 0},
        {"Misc", "GrayTifCompress", 0},
    };
    for (const auto& k : keys) {
        if (!platform::WriteProfileString(k.section, k.key, std::to_string(k.value), file)) {
            return Fail(error, "cannot write " + file);
        }
    }
    return true;
}

}  // namespace orvo::sane
