// The journal of a rewrite in place, and the rewrite itself.
#include "profile_journal.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "orvo/platform/dirs.h"
#include "orvo/platform/files.h"
#include "orvo/platform/profile.h"
#include "profile_testing.h"

namespace orvo::platform {

namespace test_hooks {
void (*g_afterHalfRewrite)() = nullptr;
}  // namespace test_hooks

namespace profile_journal {

namespace {

// The journal: this line, the target's path and a line break, the old and
// the new content's lengths ("OLD NEW") and a line break, then both contents.
constexpr char kJournalMagic[] = "OrvoScan settings rewrite 2\n";
// What every journal, also of earlier versions, begins with.
constexpr char kJournalFamily[] = "OrvoScan settings rewrite ";

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

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

std::string PendingJournal(const std::string& target) {
    const std::string dir = ExistingPrivateTempDir();
    if (dir.empty()) return {};
    const std::string journal = dir + JournalName(target);
    struct stat st{};
    return ::lstat(journal.c_str(), &st) == 0 ? journal : std::string();
}

bool PutAt(int fd, const std::string& data, std::size_t from, std::size_t to) {
    std::size_t at = from;
    while (at < to) {
        const ssize_t n = ::pwrite(fd, data.data() + at, to - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// Turns the file of `fd`, which holds `old`, into `data`. The bytes beyond
// the old end are written first: when they do not fit, the file is cut back
// and holds `old` untouched. Only then is the old content overwritten, which
// needs no new room.
bool Overwrite(int fd, const std::string& old, const std::string& data, int* error) {
    if (data.size() > old.size() && !PutAt(fd, data, old.size(), data.size())) {
        *error = errno;
        if (::ftruncate(fd, static_cast<off_t>(old.size())) != 0) {
            // Cannot even cut back: the tail goes unseen behind the old end.
        }
        return false;
    }
    const std::size_t front = std::min(old.size(), data.size());
    std::size_t done = 0;
    if (test_hooks::g_afterHalfRewrite != nullptr) {
        done = front / 2;
        if (!PutAt(fd, data, 0, done)) {
            *error = errno;
            return false;
        }
        test_hooks::g_afterHalfRewrite();
    }
    if (!PutAt(fd, data, done, front) || ::ftruncate(fd, static_cast<off_t>(data.size())) != 0 ||
        ::fsync(fd) != 0) {
        *error = errno;
        // Put the old content back where it stood (its room is there).
        if (PutAt(fd, old, 0, old.size())) {
            const int ignored = ::ftruncate(fd, static_cast<off_t>(old.size()));
            (void)ignored;
        }
        return false;
    }
    return true;
}

// `now` is what a rewrite from `old` to `data` leaves when it is cut short:
// the old content with the bytes past its end added, then overwritten with
// the new content from the start. Anything else is a file changed since.
bool LeftByTheRewrite(const std::string& now, const std::string& old, const std::string& data) {
    if (now == old || now == data) return true;
    if (now.size() < old.size()) return false;
    const std::string grown = data.size() > old.size() ? old + data.substr(old.size()) : old;
    if (now.size() > grown.size()) return false;
    std::size_t k = 0;
    while (k < now.size() && k < data.size() && now[k] == data[k]) ++k;
    return now.compare(k, std::string::npos, grown, k, now.size() - k) == 0;
}

}  // namespace

bool RewritePending(const std::string& target) {
    return !PendingJournal(target).empty();
}

bool RewriteInPlace(const std::string& target, const std::string& old, const std::string& data,
                    std::string* error) {
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
        const std::string head = kJournalMagic + target + "\n" + std::to_string(old.size()) + " " +
                                 std::to_string(data.size()) + "\n";
        if (record.fd() < 0 || !WriteAll(record.fd(), head.data(), head.size()) ||
            !WriteAll(record.fd(), old.data(), old.size()) ||
            !WriteAll(record.fd(), data.data(), data.size()) || !record.Commit()) {
            const int e = record.error() != 0 ? record.error() : errno;
            ::close(fd);
            *error = Reason("cannot write the rewrite journal", journal, e) + "; " + target +
                     " was not changed";
            return false;
        }
    }
    int e = 0;
    bool ok = Overwrite(fd, old, data, &e);
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    ::unlink(journal.c_str());
    if (!ok) *error = Reason("cannot rewrite", target, e) + "; the file was left as it was";
    return ok;
}

void FinishInterruptedRewrite(const std::string& target) {
    const std::string journal = PendingJournal(target);
    if (journal.empty()) return;
    std::string record;
    if (ReadRegularFile(journal, 2 * kMaxProfileFileSize + 2 * PATH_MAX, record) !=
        ReadResult::Ok) {
        return;
    }
    // Another file's journal under the same name hash stays.
    const std::string head = kJournalMagic + target + "\n";
    if (record.compare(0, head.size(), head) != 0) {
        const std::string other = std::string(kJournalFamily) + "1\n" + target + "\n";
        // A journal of an earlier version holds no old content to check against.
        if (record.compare(0, other.size(), other) == 0) ::unlink(journal.c_str());
        return;
    }
    unsigned long long oldSize = 0, newSize = 0;
    int used = 0;
    const std::size_t lengthsEnd = record.find('\n', head.size());
    const bool parsed =
        lengthsEnd != std::string::npos &&
        std::sscanf(record.c_str() + head.size(), "%llu %llu%n", &oldSize, &newSize, &used) == 2 &&
        head.size() + static_cast<std::size_t>(used) == lengthsEnd &&
        record.size() - lengthsEnd - 1 == oldSize + newSize;
    if (!parsed) {
        ::unlink(journal.c_str());  // never written whole: the target was not touched
        return;
    }
    const std::string old = record.substr(lengthsEnd + 1, oldSize);
    const std::string data = record.substr(lengthsEnd + 1 + oldSize);
    const int fd = OpenRegularFile(target, O_RDWR | O_NOFOLLOW);
    if (fd < 0) return;
    std::string now;
    bool done = ReadOpenFile(fd, kMaxProfileFileSize, now) == ReadResult::Ok;
    if (done && LeftByTheRewrite(now, old, data) && now != data) {
        int e = 0;
        done = Overwrite(fd, now, data, &e);
    }
    if (::close(fd) == 0 && done) ::unlink(journal.c_str());
}

}  // namespace profile_journal
}  // namespace orvo::platform
