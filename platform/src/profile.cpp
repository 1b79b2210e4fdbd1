// Private-profile files: the public calls over the reader of the file's
// lines (profile_lines), the writers' turns (profile_turn) and the rewrite
// in place with its journal (profile_journal).
#include "orvo/platform/profile.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "orvo/platform/files.h"
#include "profile_journal.h"
#include "profile_lines.h"
#include "profile_turn.h"

namespace orvo::platform {

namespace {

using profile_lines::Line;
using profile_turn::WriteTurn;

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// Writers in this process take turns too (a lock on a file is per open file,
// and two threads open it apart).
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

enum class LoadResult { kOk, kMissing, kFailed };

// Only a regular file is read: a FIFO or a device in its place is refused at
// once instead of blocking the caller or being read without end. A file
// holding a zero byte is no settings file either.
LoadResult Judge(ReadResult read, const std::string& file, std::string& data, std::string* error) {
    std::string why;
    switch (read) {
        case ReadResult::Ok:
            if (data.find('\0') == std::string::npos) return LoadResult::kOk;
            why = file + " holds a zero byte: a binary file, not settings";
            break;
        case ReadResult::Missing:
            return LoadResult::kMissing;
        case ReadResult::NotRegular:
            why = file + " is not a regular file";
            break;
        case ReadResult::TooLarge:
            why = file + " is larger than " + std::to_string(kMaxProfileFileSize >> 20) +
                  " MiB: not a settings file";
            break;
        case ReadResult::Failed:
            why = "cannot read " + file + ": " + std::strerror(errno);
            break;
    }
    data.clear();
    if (error != nullptr) *error = why;
    return LoadResult::kFailed;
}

// The file a write really changes: symbolic links are followed to the file
// they lead to (also one that does not exist yet), so that a link stays a
// link. Empty, with the reason, when the links do not end.
std::string ResolveTarget(const std::string& file, std::string* error) {
    std::string path = file;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) {
            *error = Reason("cannot read the link", path, n < 0 ? errno : ENAMETOOLONG);
            return {};
        }
        std::string next(buf, static_cast<std::size_t>(n));
        if (next.front() != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        }
        path = std::move(next);
    }
    *error = Reason("cannot follow", file, ELOOP);
    return {};
}

// Stores `data` as the new content of `target`, which holds `old`: a new
// file put in place whole where the directory allows it and the file keeps
// its owner, group and permission bits that way; otherwise the file is
// rewritten in place.
bool StoreFile(const std::string& target, const std::string& old, const std::string& data,
               std::string* error) {
    FileReplacement::Options options;
    options.keepOwner = true;
    options.sync = true;
    FileReplacement file(target, options);
    if (file.fd() >= 0) {
        if (WriteAll(file.fd(), data.data(), data.size()) && file.Commit()) return true;
        *error = Reason("cannot write", target, file.error() != 0 ? file.error() : errno);
        return false;
    }
    const int e = file.error();
    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (e == EACCES || e == EPERM || e == EROFS)) {
        return profile_journal::RewriteInPlace(target, old, data, error);
    }
    *error = Reason("cannot write", target, e);
    return false;
}

// Reads the file as no writer is changing it, completing this user's
// interrupted rewrite first.
LoadResult Load(const std::string& file, std::string& data, std::string* error = nullptr) {
    std::string unused;
    const std::string target = ResolveTarget(file, &unused);
    if (target.empty())
        return Judge(ReadRegularFile(file, kMaxProfileFileSize, data), file, data, error);
    if (profile_journal::RewritePending(target)) {
        std::lock_guard<std::mutex> lock(WriteMutex());
        WriteTurn turn(target);
        if (turn.result() == WriteTurn::Result::kHeld) {
            profile_journal::FinishInterruptedRewrite(target);
        }
    }
    // Named as the caller knows it.
    return Judge(profile_turn::ReadInTurn(target, kMaxProfileFileSize, data), file, data, error);
}

bool WriteEntries(const std::vector<ProfileEntry>& entries, const std::string& file,
                  std::string& error) {
    if (file.empty()) {
        error = "no settings file";
        return false;
    }
    for (const ProfileEntry& e : entries) {
        if (!profile_lines::ValidForWrite(e.section, e.key, e.value)) {
            error = "[" + e.section + "] " + e.key + ": a name or value that cannot be stored";
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string target = ResolveTarget(file, &error);
    if (target.empty()) return false;
    WriteTurn turn(target);
    switch (turn.result()) {
        case WriteTurn::Result::kNotRegular:
            error = target + " is not a regular file";
            return false;
        case WriteTurn::Result::kTimedOut:
            error = target + " is locked by " + turn.holder() + " for more than " +
                    std::to_string(profile_turn::kLockWaitMs / 1000) + " s; not written";
            return false;
        case WriteTurn::Result::kHeld:
        case WriteTurn::Result::kUnlocked:
            break;
    }
    profile_journal::FinishInterruptedRewrite(target);
    std::string raw;
    // The reader stops at a zero byte; rewriting would lose what follows it.
    if (Judge(ReadRegularFile(target, kMaxProfileFileSize, raw), target, raw, &error) ==
        LoadResult::kFailed) {
        return false;
    }
    std::string out = raw;
    for (const ProfileEntry& e : entries) profile_lines::Apply(e, out);
    if (out == raw) return true;  // nothing to change
    return StoreFile(target, raw, out, &error);
}

}  // namespace

std::vector<std::string> ProfileSectionNames(const std::string& file) {
    std::vector<std::string> names;
    std::string data;
    if (Load(file, data) != LoadResult::kOk) return names;
    for (const Line& line : profile_lines::ParseLines(data)) {
        // Keys before the first section header belong to no section.
        if (line.kind != Line::kSection || line.name.empty()) continue;
        const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return profile_lines::SameName(n, line.name);
        });
        if (!known) names.emplace_back(line.name);
    }
    return names;
}

std::string ProfileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize,
                          const std::string& file) {
    if (bufferSize == 0) return std::string();
    std::string value = defaultValue;
    std::string data;
    if (Load(file, data) == LoadResult::kOk) {
        const std::vector<Line> lines = profile_lines::ParseLines(data);
        const long found = profile_lines::FindKey(lines, section, key);
        if (found >= 0) {
            value = profile_lines::ValueOf(data, lines[found]);
        }
    }
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

int ProfileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& file) {
    const std::string text = ProfileString(section, key, std::string(), 4096, file);
    if (text.empty()) return defaultValue;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // 32-bit wrap-around like the platform's conversion, without overflow.
    uint32_t result = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        result = result * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) result = 0u - result;
    return static_cast<int>(static_cast<int32_t>(result));
}

bool WriteProfileStrings(const std::vector<ProfileEntry>& entries, const std::string& file,
                         std::string* error) {
    std::string reason;
    const bool ok = WriteEntries(entries, file, reason);
    if (error != nullptr) *error = ok ? std::string() : reason;
    return ok;
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file, std::string* error) {
    return WriteProfileStrings({ProfileEntry{section, key, value}}, file, error);
}

bool ReadProfileText(const std::string& file, std::string& text, std::string* error) {
    std::string why;
    const LoadResult r = Load(file, text, &why);
    if (r == LoadResult::kMissing) text.clear();
    if (r == LoadResult::kFailed && error != nullptr) *error = why;
    return r != LoadResult::kFailed;
}

}  // namespace orvo::platform
