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
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>

namespace orvo::platform {

namespace {

// Larger files are not settings files; they are neither read nor replaced.
constexpr std::size_t kMaxFileSize = 16u * 1024u * 1024u;

enum class ReadResult { kOk, kMissing, kFailed };

ReadResult ReadWholeFile(const std::string& file, std::string& data) {
    data.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::kFailed;
    }
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadResult::kFailed;
        }
        if (n == 0) break;
        if (data.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            ::close(fd);
            return ReadResult::kFailed;
        }
        data.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::kOk;
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
bool Load(const std::string& file, CSimpleIniA& ini, std::string* raw = nullptr) {
    Configure(ini);
    std::string data;
    const ReadResult r = ReadWholeFile(file, data);
    if (r == ReadResult::kFailed) return false;
    if (r == ReadResult::kOk && ini.LoadData(data) < 0) return false;
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

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a write really replaces: the target of a symbolic link, so that
// the link itself survives.
std::string ResolveTarget(const std::string& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(file.c_str(), nullptr);
        if (resolved != nullptr) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return file;
}

// Writes `data` to a temporary file beside `target`, flushes it to disk and
// renames it over `target`. On any failure the temporary file is removed and
// `target` is untouched.
bool ReplaceFile(const std::string& target, const std::string& data) {
    const std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
    if (dir.empty()) dir = "/";
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmpl = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                       "." + base + ".XXXXXX";

    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);  // best effort: the rename is done either way
        ::close(dfd);
    }
    return true;
}

// Writers in this process take turns, so that no update is lost between the
// read and the rename.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
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

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
    if (file.empty() || !ValidForWrite(section, key, value)) return false;
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string target = ResolveTarget(file);
    CSimpleIniA ini;
    std::string raw;
    if (!Load(target, ini, &raw)) return false;
    // The parser stops at a zero byte; rewriting would lose what follows it.
    if (raw.find('\0') != std::string::npos) return false;
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
        return false;
    }
    std::string out;
    // A file that began with a UTF-8 signature keeps it.
    const bool signature = raw.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (ini.Save(out, signature) < 0) return false;
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
    return ReplaceFile(target, out);
}

}  // namespace orvo::platform
