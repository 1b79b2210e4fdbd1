// Directories the driver works in.
#pragma once

#include <string>

namespace orvo::platform {

// The calling user's private working directory: $TMPDIR plus
// "orvoscan-<uid>", created with mode 0700 when missing. A TMPDIR that is
// unset, relative or not an existing directory gives way to /tmp. Refused
// (empty result, reason with the path in *error) when it is a symbolic link,
// not a directory, owned by someone else or open to others. The result ends
// in '/'.
std::string PrivateTempDir(std::string* error = nullptr);

// The same directory when it is already there and passes the same checks,
// without making it; empty otherwise.
std::string ExistingPrivateTempDir();

// Directory holding the shared object that contains `address`, ending in '/',
// and the object's file name (e.g. "libK4TR.so"). Empty on failure.
std::string ObjectDirOf(const void* address, std::string* fileName = nullptr);

// Value of an environment variable, or "" when unset.
std::string Env(const char* name);

// Appends '/' unless the text already ends with it (an empty text stays empty).
std::string WithTrailingSlash(std::string dir);

}  // namespace orvo::platform
