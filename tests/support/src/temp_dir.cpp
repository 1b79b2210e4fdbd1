#include "orvo/testing/temp_dir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace orvo::testing {

TempDir::TempDir(const std::string& tag) {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st {};
    const std::string base =
        tmp != nullptr && *tmp != '\0' && stat(tmp, &st) == 0 && S_ISDIR(st.st_mode) ? tmp : "/tmp";
    std::string pattern = base + "/" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    // Make every directory of the tree writable first: a test may have taken
    // the write permission away.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path, ignored);
}

}  // namespace orvo::testing
