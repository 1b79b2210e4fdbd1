// A private scratch directory for one test, removed with everything in it
// when the test is over.
#pragma once

#include <string>

namespace orvo::testing {

class TempDir {
  public:
    // A new directory "<tag>-XXXXXX" under $TMPDIR (else /tmp), mode 0700.
    explicit TempDir(const std::string& tag = "orvo-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, without a trailing slash.
    const std::string& path() const { return path_; }
    // A name inside it.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Removes a directory tree without following symbolic links.
void RemoveTree(const std::string& path);

}  // namespace orvo::testing
