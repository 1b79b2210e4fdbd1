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

// The name a versioned library file is linked by: "libK4TR.so.1.0.0" gives
// "libK4TR.so"; a name without a version stays as it is.
std::string UnversionedLibraryName(const std::string& fileName);

// The driver's system directory for the driver library file `libraryFile`
// (a full path, links resolved), ending in '/': the library's own directory,
// or its subdirectory "orvoscan/" where that holds the library under its
// unversioned name (a link to the very same file). The latter is the
// installed layout: the library in a shared library directory, its code
// tables, settings file and companion libraries in a directory of its own.
std::string SystemDirOfLibrary(const std::string& libraryFile);

// The driver's system directory (as above) of the loaded library that
// contains `address`; its resolved file path goes to *libraryFile. Empty on
// failure.
std::string LibrarySystemDir(const void* address, std::string* libraryFile = nullptr);

// The driver's system directory as the driver and its clients choose it:
// ORVOSCAN_SYSTEM_DIR when set, else `defaultDir` (normally the
// LibrarySystemDir of the driver library). Ends in '/'; empty when both are.
std::string ConfiguredSystemDir(const std::string& defaultDir);

// Value of an environment variable, or "" when unset.
std::string Env(const char* name);

// Appends '/' unless the text already ends with it (an empty text stays empty).
std::string WithTrailingSlash(std::string dir);

}  // namespace orvo::platform
