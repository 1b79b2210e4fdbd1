// Private-profile (INI) files with the observable behaviour of the Win32
// private-profile functions: section and key names compared without regard to
// ASCII case, sections listed in file order, integers read as optional sign and
// leading digits, defaults for missing or empty values, text cut to the
// caller's buffer size, other bytes kept as they are. Every call reads the file
// afresh (only a regular file: a FIFO or device is refused at once, and so is
// a file larger than kMaxProfileFileSize or holding a zero byte: a read
// gives the defaults, ReadProfileText the reason).
//
// Sections whose names differ only in letter case count as one: a key is
// found in the first of them (in file order) that holds it. A write changes
// only the lines of the keys it writes, where a read finds them (a new key
// goes after the last key of the first such section, a new section at the
// end): every other line, section, comment and blank line stays as it was.
//
// Programs take turns on a settings file: a write holds the file's write lock
// (an open-file-description lock on the file opened for writing, also when it
// is rewritten in place) from its read to its replacement, so that writers of
// different keys in different processes never drop each other's change. A
// read takes no lock, so nobody who can only read the file can make anyone
// wait; it waits only while a writer rewrites the file in place, at most
// 10 s, and not again in that process while the same writer still holds it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvo::platform {

// Larger files are not settings files; they are neither read nor replaced.
inline constexpr std::size_t kMaxProfileFileSize = 16u * 1024u * 1024u;

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
// is not) it is rewritten in place, the old and new content first recorded in
// a journal in the writer's private directory, and room for a longer content
// made before the old one is overwritten: a write that fails (a full disk)
// leaves the file as it was, and a rewrite cut short by the end of the
// process is completed by the next read or write unless the file was changed
// since. On failure false is returned, the reason (with the path) in *error.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file,
                        std::string* error = nullptr);

// One value of WriteProfileStrings.
struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
    // When set, the value is written only while the key still reads as this
    // text (what ProfileString gives with an empty default: "" for a missing
    // key); otherwise the entry is left out, which is no failure.
    std::optional<std::string> onlyIf = std::nullopt;
};

// Writes several values in one turn on the file (one replacement, all or
// none), as WriteProfileString writes one. A file that would not change is
// not rewritten.
bool WriteProfileStrings(const std::vector<ProfileEntry>& entries, const std::string& file,
                         std::string* error = nullptr);

// The whole file as the reader takes it, for a copy: read in its turn, only a
// regular file of at most kMaxProfileFileSize bytes. A missing file gives an
// empty text. False with the reason (and the path) in *error.
bool ReadProfileText(const std::string& file, std::string& text, std::string* error);

}  // namespace orvo::platform
