// A private scratch directory for one test, removed with everything in it
// when the test is over.
#pragma once

#include <string>

namespace orvo::testing {

class TempDir {
  public:
    // A new directory "<tag>-XXXXXX", mode 0700, under `base`; without a base
    // under $TMPDIR (else /tmp). A test whose files another user must reach
    // (see child.h) passes "/tmp". Throws when it cannot be made.
    explicit TempDir(const std::string& tag = "orvo-test", const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, without a trailing slash.
    const std::string& path() const { return path_; }
    // The directory with a trailing slash, as the driver takes directories.
    std::string dir() const { return path_ + "/"; }
    // A name inside it.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Gives the directory up: it is no longer removed; its path.
    std::string Release();

  private:
    std::string path_;
};

// Removes a directory tree without following symbolic links, even where a
// test took the write permission of a directory in it away; true when
// nothing is left under that name.
bool RemoveTree(const std::string& path);

}  // namespace orvo::testing
