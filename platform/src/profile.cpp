// Private-profile files on top of SimpleIni.
//
// Every call loads the file afresh. Names are compared without ASCII case;
// values are kept as bytes (no character set conversion). When a key occurs
// twice in a section the first value is the one read, and a write replaces
// that first value (later duplicates, unreachable anyway, are folded into it).
// A section that occurs twice is merged into its first occurrence.
#include "orvo/platform/profile.h"

// Byte strings only: no wide-character conversion, names compared with ASCII
// case folding. The template's implementation is compiled here, so nothing
// else of the library is linked.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>

#include "orvo/platform/dirs.h"
#include "orvo/platform/files.h"
#include "profile_testing.h"

namespace orvo::platform {

namespace test_hooks {
void (*g_afterHalfRewrite)() = nullptr;
}  // namespace test_hooks

namespace {

// Larger files are not settings files; they are neither read nor replaced.
constexpr std::size_t kMaxFileSize = 16u * 1024u * 1024u;

enum class LoadResult { kOk, kMissing, kFailed };

// Only a regular file is read: a FIFO or a device in its place is refused at
// once instead of blocking the caller or being read without end.
LoadResult ReadWholeFile(const std::string& file, std::string& data, std::string* error) {
    switch (ReadRegularFile(file, kMaxFileSize, data)) {
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

void Configure(CSimpleIniA& ini) {
    ini.SetUnicode(false);
    ini.SetMultiKey(true);  // keep duplicates so that the first one can win
    ini.SetMultiLine(false);
    ini.SetQuotes(false);
    ini.SetSpaces(false);  // "Key=Value", as the platform writes it
    ini.SetAllowKeyOnly(false);
}

// Loads the file into `ini`. A missing file gives an empty profile.
bool LoadFile(const std::string& file, CSimpleIniA& ini, std::string* raw = nullptr,
              std::string* error = nullptr) {
    Configure(ini);
    std::string data;
    const LoadResult r = ReadWholeFile(file, data, error);
    if (r == LoadResult::kFailed) return false;
    if (r == LoadResult::kOk && ini.LoadData(data) < 0) {
        if (error != nullptr) *error = "cannot parse " + file;
        return false;
    }
    if (raw != nullptr) *raw = std::move(data);
    return true;
}

// A value enclosed in matching single or double quotes is returned without
// them, as the platform does.
std::string Unquote(const char* value) {
    std::string v(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Names compare with ASCII case folding only, whatever the locale.
bool SameName(const char* a, const std::string& b) {
    std::size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return a[i] == '\0' && i == b.size();
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
    if (section.front() == ' ' || section.back() == ' ' || key.front() == ' ' ||
        key.back() == ' ' || section.front() == '\t' || section.back() == '\t' ||
        key.front() == '\t' || key.back() == '\t') {
        return false;
    }
    return true;
}

// Comment lines at the very end of the file belong to no entry, so the
// parser forgets them; they are carried over by hand. Empty when the file
// ends in an entry or holds nothing but comments.
std::string TrailingComments(const std::string& raw) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find_first_of("\r\n", start);
        if (end == std::string::npos) end = raw.size();
        lines.push_back(raw.substr(start, end - start));
        start = end;
        if (start < raw.size() && raw[start] == '\r') ++start;
        if (start < raw.size() && raw[start] == '\n') ++start;
    }
    std::size_t first = lines.size();
    bool anyComment = false;
    while (first > 0) {
        const std::string& line = lines[first - 1];
        const std::size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos) {
            --first;
            continue;
        }
        if (line[p] != ';' && line[p] != '#') break;
        anyComment = true;
        --first;
    }
    if (first == 0 || !anyComment) return std::string();
    std::string tail;
    while (first < lines.size() && lines[first].find_first_not_of(" \t") == std::string::npos) {
        ++first;  // blank lines before the comment
    }
    for (; first < lines.size(); ++first) tail += lines[first] + "\n";
    return tail;
}

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
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

bool PutWhole(int fd, const std::string& data) {
    if (test_hooks::g_afterHalfRewrite != nullptr) {
        const std::size_t half = data.size() / 2;
        if (::pwrite(fd, data.data(), half, 0) != static_cast<ssize_t>(half)) return false;
        test_hooks::g_afterHalfRewrite();
    }
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, data.data(), data.size()) &&
           ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 && ::fsync(fd) == 0;
}

// Completes a rewrite of `target` that a journal records as unfinished.
void FinishInterruptedRewrite(const std::string& target) {
    const std::string dir = ExistingPrivateTempDir();
    if (dir.empty()) return;
    const std::string journal = dir + JournalName(target);
    std::string data;
    if (ReadRegularFile(journal, kMaxFileSize + 2 * PATH_MAX, data) != ReadResult::Ok) return;
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

// Writers in this process take turns, so that no update is lost between the
// read and the rename.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// Reading: an interrupted rewrite of the file is completed first.
bool Load(const std::string& file, CSimpleIniA& ini) {
    {
        std::lock_guard<std::mutex> lock(WriteMutex());
        std::string unused;
        const std::string target = ResolveTarget(file, &unused);
        if (!target.empty()) FinishInterruptedRewrite(target);
    }
    return LoadFile(file, ini);
}

}  // namespace

std::vector<std::string> ProfileSectionNames(const std::string& file) {
    std::vector<std::string> names;
    CSimpleIniA ini;
    if (!Load(file, ini)) return names;
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& s : sections) {
        // Lines before the first section header belong to no section.
        if (s.pItem != nullptr && s.pItem[0] != '\0') names.emplace_back(s.pItem);
    }
    return names;
}

std::string ProfileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize,
                          const std::string& file) {
    if (bufferSize == 0) return std::string();
    std::string value = defaultValue;
    CSimpleIniA ini;
    if (Load(file, ini)) {
        const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
        if (v != nullptr) value = Unquote(v);
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

namespace {

bool WriteProfile(const std::string& section, const std::string& key, const std::string& value,
                  const std::string& file, std::string& error) {
    if (file.empty()) {
        error = "no settings file";
        return false;
    }
    if (!ValidForWrite(section, key, value)) {
        error = "[" + section + "] " + key + ": a name or value that cannot be stored";
        return false;
    }
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string target = ResolveTarget(file, &error);
    if (target.empty()) return false;
    FinishInterruptedRewrite(target);
    CSimpleIniA ini;
    std::string raw;
    if (!LoadFile(target, ini, &raw, &error)) return false;
    // The parser stops at a zero byte; rewriting would lose what follows it.
    if (raw.find('\0') != std::string::npos) {
        error = target + " holds a zero byte";
        return false;
    }
    // Replaces the first value of the key (keeping its place and comment), or
    // appends the key at the end of its section, creating the section.
    // An existing key keeps the spelling it has in the file.
    std::string name = key;
    CSimpleIniA::TNamesDepend keys;
    if (ini.GetAllKeys(section.c_str(), keys)) {
        for (const auto& k : keys) {
            if (k.pItem != nullptr && SameName(k.pItem, key)) {
                name = k.pItem;
                break;
            }
        }
    }
    if (ini.SetValue(section.c_str(), name.c_str(), value.c_str(), nullptr, true) < 0) {
        error = "cannot set [" + section + "] " + key;
        return false;
    }
    std::string out;
    // A file that began with a UTF-8 signature keeps it.
    const bool signature = raw.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (ini.Save(out, signature) < 0) {
        error = "cannot lay out " + target;
        return false;
    }
    out += TrailingComments(raw);
    // A file with CR LF line ends keeps them.
    if (raw.find("\r\n") != std::string::npos) {
        std::string crlf;
        crlf.reserve(out.size() + out.size() / 8);
        for (const char c : out) {
            if (c == '\n') crlf.push_back('\r');
            crlf.push_back(c);
        }
        out.swap(crlf);
    }
    return StoreFile(target, out, &error);
}

}  // namespace

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file, std::string* error) {
    std::string reason;
    const bool ok = WriteProfile(section, key, value, file, reason);
    if (error != nullptr) *error = ok ? std::string() : reason;
    return ok;
}

}  // namespace orvo::platform
