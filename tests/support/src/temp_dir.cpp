#include "orvo/testing/temp_dir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace orvo::testing {

namespace {

std::string DefaultBase() {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st{};
    return tmp != nullptr && *tmp != '\0' && stat(tmp, &st) == 0 && S_ISDIR(st.st_mode) ? tmp
                                                                                        : "/tmp";
}

}  // namespace

TempDir::TempDir(const std::string& tag, const std::string& base) {
    std::string pattern = (base.empty() ? DefaultBase() : base) + "/" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
}

std::string TempDir::Release() {
    std::string path;
    path.swap(path_);
    return path;
}

bool RemoveTree(const std::string& path) {
    std::error_code ignored;
    // Make every directory of the tree writable first, the top one too: a
    // test may have taken the write permission away.
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path, ignored);
    return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace orvo::testing
