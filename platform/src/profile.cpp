// Private-profile files: one small reader of the file's lines serves reads and
// writes alike, so a write changes exactly the line a read would take.
//
// Lines end at LF, CR LF or a lone CR. After leading blanks a line is a
// comment (";" or "#"), a section header ("[" name "]", the rest of the line
// ignored), a key ("name=value", both trimmed), or nothing the reader uses
// (kept as it is). Keys before the first header belong to no section. A
// UTF-8 signature at the start is skipped, and reading stops at a zero byte
// (a file holding one is never rewritten). When a key occurs twice the first
// one is read and written.
#include "orvo/platform/profile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "orvo/platform/clock.h"
#include "orvo/platform/dirs.h"
#include "orvo/platform/file_lock.h"
#include "orvo/platform/files.h"
#include "profile_testing.h"

namespace orvo::platform {

namespace test_hooks {
void (*g_afterHalfRewrite)() = nullptr;
}  // namespace test_hooks

namespace {

// How long a reader or writer waits for another process's turn (driver
// milliseconds): a write then fails, a read goes ahead without the lock.
constexpr uint32_t kLockWaitMs = 10000;

// ---------------------------------------------------------------------------
// The lines of a settings file.

struct Line {
    enum Kind { kOther, kSection, kKey };
    Kind kind = kOther;
    std::size_t next = 0;  // first byte of the next line
    std::string_view name;
    std::size_t valueBegin = 0, valueEnd = 0;  // the value (trimmed), keys only
};

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

// Names compare with ASCII case folding only, whatever the locale.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::size_t TrimEnd(std::string_view data, std::size_t begin, std::size_t end) {
    while (end > begin && Blank(data[end - 1])) --end;
    return end;
}

Line ClassifyLine(std::string_view data, std::size_t begin, std::size_t end) {
    Line line;
    std::size_t i = begin;
    while (i < end && Blank(data[i])) ++i;
    if (i == end || data[i] == ';' || data[i] == '#') return line;
    if (data[i] == '[') {
        std::size_t from = i + 1;
        while (from < end && Blank(data[from])) ++from;
        const std::size_t close = data.find(']', from);
        if (close == std::string_view::npos || close >= end) return line;
        line.kind = Line::kSection;
        line.name = data.substr(from, TrimEnd(data, from, close) - from);
        return line;
    }
    const std::size_t eq = data.find('=', i);
    if (eq == std::string_view::npos || eq >= end || eq == i) return line;
    line.kind = Line::kKey;
    line.name = data.substr(i, TrimEnd(data, i, eq) - i);
    std::size_t v = eq + 1;
    while (v < end && Blank(data[v])) ++v;
    line.valueBegin = v;
    line.valueEnd = TrimEnd(data, v, end);
    return line;
}

// The lines of `data` (which outlives the result).
std::vector<Line> ParseLines(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    std::vector<Line> lines;
    std::size_t at = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < data.size()) {
        std::size_t end = data.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = data.size();
        Line line = ClassifyLine(data, at, end);
        std::size_t next = end;
        if (next < data.size()) {
            next += data.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        line.next = next;
        lines.push_back(line);
        at = next;
    }
    return lines;
}

// The key line a read takes for (section, key): the first one in a section
// of that name; -1 when there is none.
long FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    bool inSection = section.empty();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == Line::kSection) {
            inSection = SameName(line.name, section);
        } else if (line.kind == Line::kKey && inSection && SameName(line.name, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// A value enclosed in matching single or double quotes is returned without
// them, as the platform does.
std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

std::string ValueOf(std::string_view data, const Line& line) {
    return Unquote(data.substr(line.valueBegin, line.valueEnd - line.valueBegin));
}

bool HasLineBreakOrNul(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Names and values that would change the structure of the file are refused.
bool ValidForWrite(const std::string& section, const std::string& key, const std::string& value) {
    if (section.empty() || key.empty()) return false;
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) {
        return false;
    }
    if (section.find(']') != std::string::npos) return false;
    if (key.find('=') != std::string::npos) return false;
    const char first = key.front();
    if (first == '[' || first == ';' || first == '#') return false;
    // Leading or trailing blanks would be trimmed on the next read.
    return !Blank(section.front()) && !Blank(section.back()) && !Blank(key.front()) &&
           !Blank(key.back());
}

// Puts `entry` into `data`: its value replaces the one a read finds, or a new
// line follows the last key of the first section of that name (a new section
// goes to the end of the file). Nothing else changes.
void Apply(const ProfileEntry& entry, std::string& data) {
    const std::vector<Line> lines = ParseLines(data);
    const std::size_t start = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const long found = FindKey(lines, entry.section, entry.key);
    if (entry.onlyIf && (found < 0 ? std::string() : ValueOf(data, lines[found])) != *entry.onlyIf)
        return;
    if (found >= 0) {
        const Line& line = lines[found];
        data.replace(line.valueBegin, line.valueEnd - line.valueBegin, entry.value);
        return;
    }
    const std::string eol = data.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::size_t at = std::string::npos;
    bool inSection = false;
    for (const Line& line : lines) {
        if (line.kind == Line::kSection) {
            if (at != std::string::npos) break;  // the end of the first such section
            inSection = SameName(line.name, entry.section);
            if (inSection) at = line.next;
        } else if (line.kind == Line::kKey && inSection) {
            at = line.next;
        }
    }
    std::string text = entry.key + "=" + entry.value + eol;
    if (at == std::string::npos) {
        at = data.size();
        text = "[" + entry.section + "]" + eol + text;
    }
    // A line without its line break (the file's last) gets one first.
    if (at > start && data[at - 1] != '\n' && data[at - 1] != '\r') text = eol + text;
    data.insert(at, text);
}

// ---------------------------------------------------------------------------
// Taking turns on the file.

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The lock on a settings file, held while this object lives: on the file
// itself (a replacement is a new file, so the lock is taken again until it
// is on the file the name leads to), or on its directory while the file does
// not exist yet.
class FileTurn {
  public:
    enum class Result { kHeld, kNotRegular, kTimedOut, kUnlocked };

    FileTurn(const std::string& target, bool exclusive) { result_ = Take(target, exclusive); }
    ~FileTurn() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileTurn(const FileTurn&) = delete;
    FileTurn& operator=(const FileTurn&) = delete;

    Result result() const { return result_; }
    // Who held the lock when it was given up on.
    const std::string& holder() const { return holder_; }

  private:
    // Waits for the lock on `fd` at most kLockWaitMs.
    bool Wait(int fd, bool exclusive) {
        const uint32_t start = TickCount();
        uint32_t rest = 1;
        for (;;) {
            if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return false;
            if (TicksSince(start, TickCount()) >= kLockWaitMs) {
                holder_ = LockHolder(fd);
                return false;
            }
            SleepMs(rest);
            rest = std::min<uint32_t>(rest * 2, 8);
        }
    }

    Result Take(const std::string& target, bool exclusive) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int fd = OpenRegularFile(target, O_RDONLY);
            if (fd < 0 && errno == EINVAL) return Result::kNotRegular;
            if (fd < 0 && errno != ENOENT) return Result::kUnlocked;  // the read will say why
            if (fd < 0) {
                // Not there yet: the directory stands for it while it is made.
                if (!exclusive) return Result::kUnlocked;
                const int dir =
                    ::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (dir < 0) return Result::kUnlocked;
                if (!Wait(dir, true)) {
                    ::close(dir);
                    return holder_.empty() ? Result::kUnlocked : Result::kTimedOut;
                }
                struct stat st {};
                if (::stat(target.c_str(), &st) != 0 && errno == ENOENT) {
                    fd_ = dir;
                    return Result::kHeld;
                }
                ::close(dir);  // made meanwhile: its own lock counts
                continue;
            }
            if (!Wait(fd, exclusive)) {
                ::close(fd);
                return holder_.empty() ? Result::kUnlocked : Result::kTimedOut;
            }
            struct stat held {
            }, now{};
            if (::fstat(fd, &held) == 0 && ::stat(target.c_str(), &now) == 0 &&
                held.st_dev == now.st_dev && held.st_ino == now.st_ino) {
                fd_ = fd;
                return Result::kHeld;
            }
            ::close(fd);  // replaced while we waited: the new file's turn
        }
        return Result::kUnlocked;
    }

    int fd_ = -1;
    Result result_ = Result::kUnlocked;
    std::string holder_;
};

// Writers in this process take turns too (a lock on a file is per open file,
// and two threads open it apart).
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// ---------------------------------------------------------------------------
// Reading and storing.

enum class LoadResult { kOk, kMissing, kFailed };

// Only a regular file is read: a FIFO or a device in its place is refused at
// once instead of blocking the caller or being read without end.
LoadResult ReadWholeFile(const std::string& file, std::string& data, std::string* error) {
    switch (ReadRegularFile(file, kMaxProfileFileSize, data)) {
        case ReadResult::Ok:
            return LoadResult::kOk;
        case ReadResult::Missing:
            return LoadResult::kMissing;
        case ReadResult::NotRegular:
            if (error != nullptr) *error = file + " is not a regular file";
            return LoadResult::kFailed;
        case ReadResult::TooLarge:
            if (error != nullptr) *error = file + " is too large for a settings file";
            return LoadResult::kFailed;
        case ReadResult::Failed:
            break;
    }
    if (error != nullptr) *error = "cannot read " + file + ": " + std::strerror(errno);
    return LoadResult::kFailed;
}

// The file a write really changes: symbolic links are followed to the file
// they lead to (also one that does not exist yet), so that a link stays a
// link. Empty, with the reason, when the links do not end.
std::string ResolveTarget(const std::string& file, std::string* error) {
    std::string path = file;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
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

// A rewrite in place is recorded first in a journal in the writer's private
// directory: the target's path, the length and the whole new content. When
// the rewrite is cut short (the process killed, the disk full), the next
// access through this library by the same user finds the journal and
// completes the rewrite, so a torn file never stays unnoticed.
constexpr char kJournalMagic[] = "OrvoScan settings rewrite 1\n";

std::string JournalName(const std::string& target) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const char c : target) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "settings-%016llx.redo", static_cast<unsigned long long>(h));
    return name;
}

// The journal of an unfinished rewrite of `target`; empty when there is none.
std::string PendingJournal(const std::string& target) {
    const std::string dir = ExistingPrivateTempDir();
    if (dir.empty()) return {};
    const std::string journal = dir + JournalName(target);
    struct stat st {};
    return ::lstat(journal.c_str(), &st) == 0 ? journal : std::string();
}

bool PutWhole(int fd, const std::string& data) {
    if (test_hooks::g_afterHalfRewrite != nullptr) {
        const std::size_t half = data.size() / 2;
        if (::pwrite(fd, data.data(), half, 0) != static_cast<ssize_t>(half)) return false;
        test_hooks::g_afterHalfRewrite();
    }
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, data.data(), data.size()) &&
           ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 && ::fsync(fd) == 0;
}

// Completes a rewrite of `target` that a journal records as unfinished. The
// caller has the file's turn.
void FinishInterruptedRewrite(const std::string& target) {
    const std::string journal = PendingJournal(target);
    if (journal.empty()) return;
    std::string data;
    if (ReadRegularFile(journal, kMaxProfileFileSize + 2 * PATH_MAX, data) != ReadResult::Ok) {
        return;
    }
    // Not a journal, or one of another target with the same name hash.
    const std::string head = kJournalMagic + target + "\n";
    if (data.compare(0, head.size(), head) != 0) return;
    const std::size_t lengthEnd = data.find('\n', head.size());
    if (lengthEnd == std::string::npos) {
        ::unlink(journal.c_str());
        return;
    }
    const std::string content = data.substr(lengthEnd + 1);
    if (data.substr(head.size(), lengthEnd - head.size()) != std::to_string(content.size())) {
        ::unlink(journal.c_str());  // never written whole: the target was not touched
        return;
    }
    const int fd = OpenRegularFile(target, O_WRONLY | O_NOFOLLOW);
    if (fd < 0) return;
    const bool done = PutWhole(fd, content);
    if (::close(fd) == 0 && done) ::unlink(journal.c_str());
}

// Rewrites the existing `target` in place (its directory does not let us
// replace it), with the journal above.
bool RewriteInPlace(const std::string& target, const std::string& data, std::string* error) {
    const int fd = OpenRegularFile(target, O_WRONLY | O_NOFOLLOW);
    if (fd < 0) {
        *error = Reason("cannot write", target, errno == EINVAL ? EISDIR : errno);
        return false;
    }
    std::string why;
    const std::string dir = PrivateTempDir(&why);
    if (dir.empty()) {
        ::close(fd);
        *error = "no place for the journal of a rewrite of " + target + ": " + why;
        return false;
    }
    const std::string journal = dir + JournalName(target);
    {
        FileReplacement::Options options;
        options.sync = true;
        FileReplacement record(journal, options);
        const std::string head = kJournalMagic + target + "\n" + std::to_string(data.size()) + "\n";
        if (record.fd() < 0 || !WriteAll(record.fd(), head.data(), head.size()) ||
            !WriteAll(record.fd(), data.data(), data.size()) || !record.Commit()) {
            const int e = record.error() != 0 ? record.error() : errno;
            ::close(fd);
            *error = Reason("cannot write the rewrite journal", journal, e);
            return false;
        }
    }
    bool ok = PutWhole(fd, data);
    int e = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        // The journal stays: the next access completes the rewrite.
        *error = Reason("rewrite cut short of", target, e);
        return false;
    }
    ::unlink(journal.c_str());
    return true;
}

// Stores `data` as the new content of `target`: a new file put in place
// whole where the directory allows it and the file keeps its owner, group
// and permission bits that way; otherwise the file is rewritten in place.
bool StoreFile(const std::string& target, const std::string& data, std::string* error) {
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
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (e == EACCES || e == EPERM || e == EROFS)) {
        return RewriteInPlace(target, data, error);
    }
    *error = Reason("cannot write", target, e);
    return false;
}

// Reads the file in its turn (shared), completing an interrupted rewrite
// first. A lock that cannot be had is read past: a replaced file is whole
// anyway.
LoadResult Load(const std::string& file, std::string& data, std::string* error = nullptr) {
    std::string unused;
    const std::string target = ResolveTarget(file, &unused);
    if (target.empty()) return ReadWholeFile(file, data, error);
    if (!PendingJournal(target).empty()) {
        std::lock_guard<std::mutex> lock(WriteMutex());
        FileTurn turn(target, true);
        if (turn.result() == FileTurn::Result::kHeld) FinishInterruptedRewrite(target);
    }
    FileTurn turn(target, false);
    return ReadWholeFile(file, data, error);  // through the links: named as the caller knows it
}

bool WriteEntries(const std::vector<ProfileEntry>& entries, const std::string& file,
                  std::string& error) {
    if (file.empty()) {
        error = "no settings file";
        return false;
    }
    for (const ProfileEntry& e : entries) {
        if (!ValidForWrite(e.section, e.key, e.value)) {
            error = "[" + e.section + "] " + e.key + ": a name or value that cannot be stored";
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string target = ResolveTarget(file, &error);
    if (target.empty()) return false;
    FileTurn turn(target, true);
    switch (turn.result()) {
        case FileTurn::Result::kNotRegular:
            error = target + " is not a regular file";
            return false;
        case FileTurn::Result::kTimedOut:
            error = target + " is locked by " + turn.holder() + " for more than " +
                    std::to_string(kLockWaitMs / 1000) + " s; not written";
            return false;
        case FileTurn::Result::kHeld:
        case FileTurn::Result::kUnlocked:
            break;
    }
    FinishInterruptedRewrite(target);
    std::string raw;
    if (ReadWholeFile(target, raw, &error) == LoadResult::kFailed) return false;
    // The reader stops at a zero byte; rewriting would lose what follows it.
    if (raw.find('\0') != std::string::npos) {
        error = target + " holds a zero byte: a binary file, not settings";
        return false;
    }
    std::string out = raw;
    for (const ProfileEntry& e : entries) Apply(e, out);
    if (out == raw) return true;  // nothing to change
    return StoreFile(target, out, &error);
}

}  // namespace

std::vector<std::string> ProfileSectionNames(const std::string& file) {
    std::vector<std::string> names;
    std::string data;
    if (Load(file, data) != LoadResult::kOk) return names;
    for (const Line& line : ParseLines(data)) {
        // Keys before the first section header belong to no section.
        if (line.kind != Line::kSection || line.name.empty()) continue;
        const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return SameName(n, line.name);
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
        const std::vector<Line> lines = ParseLines(data);
        const long found = FindKey(lines, section, key);
        if (found >= 0) {
            value = ValueOf(data, lines[found]);
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
