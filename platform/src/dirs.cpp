#include "orvo/platform/dirs.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvo::platform {

namespace {

void SetError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::string Env(const char* name) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithTrailingSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

std::string ConfiguredSystemDir(const std::string& defaultDir) {
    const std::string configured = Env("ORVOSCAN_SYSTEM_DIR");
    return WithTrailingSlash(configured.empty() ? defaultDir : configured);
}

namespace {

// $TMPDIR when it names an existing directory by an absolute path, else /tmp
// (a TMPDIR that is relative, missing or not a directory is passed over, as
// other programs do).
std::string TempBase() {
    std::string base = Env("TMPDIR");
    struct stat st{};
    if (base.empty() || base.front() != '/' || stat(base.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        base = "/tmp";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

std::string PrivateDirPath() {
    const std::string base = TempBase();
    return (base == "/" ? std::string() : base) + "/orvoscan-" + std::to_string(geteuid());
}

// The checks a private directory must pass.
bool Acceptable(const std::string& dir, std::string* error) {
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0) {
        SetError(error, "cannot inspect " + dir + ": " + std::strerror(errno));
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        SetError(error, dir + " is a symbolic link");
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetError(error, dir + " is not a directory");
        return false;
    }
    if (st.st_uid != geteuid()) {
        SetError(error, dir + " belongs to another user");
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        SetError(error, dir + " is open to other users");
        return false;
    }
    return true;
}

}  // namespace

std::string PrivateTempDir(std::string* error) {
    const std::string dir = PrivateDirPath();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, "cannot create " + dir + ": " + std::strerror(errno));
        return {};
    }
    return Acceptable(dir, error) ? dir + "/" : std::string();
}

std::string ExistingPrivateTempDir() {
    const std::string dir = PrivateDirPath();
    return Acceptable(dir, nullptr) ? dir + "/" : std::string();
}

std::string ObjectDirOf(const void* address, std::string* fileName) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0') {
        return {};
    }
    std::string path = info.dli_fname;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        path = resolved;
    } else if (path.find('/') == std::string::npos) {
        // The main program may be named without a directory.
        ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (n <= 0) return {};
        path.assign(resolved, static_cast<std::size_t>(n));
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (fileName != nullptr) *fileName = path.substr(slash + 1);
    return path.substr(0, slash + 1);
}

std::string UnversionedLibraryName(const std::string& fileName) {
    const auto so = fileName.find(".so.");
    return so == std::string::npos ? fileName : fileName.substr(0, so + 3);
}

std::string SystemDirOfLibrary(const std::string& libraryFile) {
    const auto slash = libraryFile.rfind('/');
    if (slash == std::string::npos) return {};
    const std::string dir = libraryFile.substr(0, slash + 1);
    const std::string own =
        dir + "orvoscan/" + UnversionedLibraryName(libraryFile.substr(slash + 1));
    struct stat library{};
    struct stat installed{};
    if (stat(libraryFile.c_str(), &library) == 0 && stat(own.c_str(), &installed) == 0 &&
        library.st_dev == installed.st_dev && library.st_ino == installed.st_ino) {
        return dir + "orvoscan/";
    }
    return dir;
}

std::string LibrarySystemDir(const void* address, std::string* libraryFile) {
    std::string name;
    const std::string dir = ObjectDirOf(address, &name);
    if (dir.empty()) return {};
    if (libraryFile != nullptr) *libraryFile = dir + name;
    return SystemDirOfLibrary(dir + name);
}

}  // namespace orvo::platform
