// Private-profile (INI) files with the observable behaviour of the Win32
// private-profile functions: section and key names compared without regard to
// ASCII case, sections listed in file order, integers read as optional sign and
// leading digits, defaults for missing or empty values, text cut to the
// caller's buffer size, other bytes kept as they are. Every call reads the file
// afresh (only a regular file: a FIFO or device is refused at once); every
// write keeps comments, order and unknown keys.
#pragma once

#include <string>
#include <vector>

namespace orvo::platform {

// Section names in file order (empty when the file is missing).
std::vector<std::string> ProfileSectionNames(const std::string& file);

// Like GetPrivateProfileInt.
int ProfileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& file);

// Like GetPrivateProfileString with a buffer of `bufferSize` bytes: at most
// bufferSize - 1 characters are returned.
std::string ProfileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize,
                          const std::string& file);

// Like WritePrivateProfileString: creates file and section when missing.
// A symbolic link is followed to its file and stays a link. Where the
// directory allows it the file is replaced atomically, keeping its owner,
// group and permission bits; otherwise (a file writable in a directory that
// is not) it is rewritten in place, the new content first recorded in a
// journal in the writer's private directory, so that a rewrite cut short is
// completed by the next read or write. On failure false is returned, the
// reason (with the path) in *error.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file,
                        std::string* error = nullptr);

}  // namespace orvo::platform
