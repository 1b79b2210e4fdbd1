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

std::string PrivateTempDir(std::string* error) {
    std::string base = Env("TMPDIR");
    // Only an absolute TMPDIR is honoured; anything else would depend on the
    // current directory.
    if (base.empty() || base.front() != '/') base = "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const uid_t uid = geteuid();
    std::string dir = (base == "/" ? std::string() : base) + "/orvoscan-" + std::to_string(uid);

    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, "cannot create " + dir + ": " + std::strerror(errno));
        return {};
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        SetError(error, "cannot inspect " + dir + ": " + std::strerror(errno));
        return {};
    }
    if (S_ISLNK(st.st_mode)) {
        SetError(error, dir + " is a symbolic link");
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        SetError(error, dir + " is not a directory");
        return {};
    }
    if (st.st_uid != uid) {
        SetError(error, dir + " belongs to another user");
        return {};
    }
    if ((st.st_mode & 077) != 0) {
        SetError(error, dir + " is open to other users");
        return {};
    }
    return dir + "/";
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

}  // namespace orvo::platform
