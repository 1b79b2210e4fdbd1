#include "orvo/core/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "orvo/core/driver_state.h"
#include "orvo/platform/clock.h"
#include "orvo/platform/dirs.h"
#include "orvo/platform/files.h"

namespace orvo {

namespace {

const char* FileName(TraceFile file) {
    switch (file) {
        case TraceFile::Thread:
            return "thread.txt";
        case TraceFile::GetOne:
            return "getone.txt";
        case TraceFile::Log:
            return "log.txt";
    }
    return "log.txt";
}

// The innermost TraceBatch of this thread, if any.
thread_local TraceBatch* t_batch = nullptr;
// The innermost TraceKeepOpen of this thread, if any.
thread_local TraceKeepOpen* t_keep = nullptr;

// Appends whole lines with one write (O_APPEND: never between another
// writer's bytes); the file is closed at once. Only a regular file, never
// through a symbolic link: a trace never writes into a file someone pointed
// its name at.
void Append(const std::string& path, const std::string& lines) {
    if (path.empty() || lines.empty()) return;
    const int fd =
        platform::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0666);
    if (fd < 0) return;
    platform::WriteAll(fd, lines.data(), lines.size());
    close(fd);
}

}  // namespace

struct TraceKeepOpenAccess {
    static TraceKeepOpen* Find(TraceFile file) {
        TraceKeepOpen* keep = t_keep;
        while (keep != nullptr && keep->file_ != file) keep = keep->outer_;
        return keep;
    }

    // Appends like Append, through the descriptor `keep` holds while the name
    // still leads to that very regular file.
    static void Append(TraceKeepOpen& keep, const std::string& path, const std::string& lines) {
        if (path.empty() || lines.empty()) return;
        if (keep.fd_ >= 0) {
            struct stat st{};
            const bool same = path == keep.path_ &&
                              fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISREG(st.st_mode) && st.st_dev == keep.device_ &&
                              st.st_ino == keep.inode_;
            if (!same) Close(keep);
        }
        if (keep.fd_ < 0) {
            const int fd =
                platform::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0666);
            if (fd < 0) return;
            struct stat st{};
            if (fstat(fd, &st) != 0) {
                platform::WriteAll(fd, lines.data(), lines.size());
                close(fd);
                return;
            }
            keep.fd_ = fd;
            keep.path_ = path;
            keep.device_ = st.st_dev;
            keep.inode_ = st.st_ino;
        }
        platform::WriteAll(keep.fd_, lines.data(), lines.size());
    }

    static void Close(TraceKeepOpen& keep) {
        if (keep.fd_ >= 0) close(keep.fd_);
        keep.fd_ = -1;
    }
};

namespace {

// Appends through this thread's kept descriptor of `file` when there is one.
void AppendTo(TraceFile file, const std::string& path, const std::string& lines) {
    TraceKeepOpen* keep = TraceKeepOpenAccess::Find(file);
    if (keep != nullptr) {
        TraceKeepOpenAccess::Append(*keep, path, lines);
    } else {
        Append(path, lines);
    }
}

std::string TraceDir() {
    std::string dir = platform::Env("ORVOSCAN_TRACE_DIR");
    if (!dir.empty()) return platform::WithTrailingSlash(dir);
    return State().tempDir;
}

}  // namespace

std::string TracePath(TraceFile file) {
    std::string dir = TraceDir();
    if (dir.empty()) return {};
    return dir + FileName(file);
}

std::string FormatTraceLine(int number, const char* text, int value, int hour, int minute,
                            int second, int millisecond) {
    char stamped[512];
    std::snprintf(stamped, sizeof stamped, "%s %02d:%02d:%02d:%03d", text ? text : "", hour, minute,
                  second, millisecond);
    char line[640];
    int n = std::snprintf(line, sizeof line, "%3d:\t%65s\t[%7d]\n", number, stamped, value);
    if (n < 0) return {};
    return std::string(line, static_cast<std::size_t>(n) < sizeof line ? n : sizeof line - 1);
}

void Trace(TraceFile file, int number, const char* text, int value) {
    TraceBatch* batch = t_batch;
    while (batch != nullptr && batch->file_ != file) batch = batch->outer_;
    if (batch == nullptr) {
        const std::string path = TracePath(file);
        if (path.empty()) return;
        const platform::LocalTime t = platform::Now();
        AppendTo(file, path,
                 FormatTraceLine(number, text, value, t.hour, t.minute, t.second, t.millisecond));
        return;
    }
    const platform::LocalTime t = platform::Now();
    batch->lines_ +=
        FormatTraceLine(number, text, value, t.hour, t.minute, t.second, t.millisecond);
}

TraceBatch::TraceBatch(TraceFile file) : file_(file), outer_(t_batch) {
    t_batch = this;
}

TraceBatch::~TraceBatch() {
    t_batch = outer_;
    // An enclosing batch of the same file takes the lines over, so that the
    // file keeps them in order.
    if (outer_ != nullptr && outer_->file_ == file_) {
        outer_->lines_ += lines_;
        return;
    }
    AppendTo(file_, TracePath(file_), lines_);
}

TraceKeepOpen::TraceKeepOpen(TraceFile file) : file_(file), outer_(t_keep) {
    t_keep = this;
}

TraceKeepOpen::~TraceKeepOpen() {
    t_keep = outer_;
    TraceKeepOpenAccess::Close(*this);
}

void EmptyTraceFiles() {
    for (TraceFile file : {TraceFile::Log, TraceFile::Thread, TraceFile::GetOne}) {
        std::string path = TracePath(file);
        if (path.empty()) continue;
        // Emptied only when it is a regular file under that very name.
        const int fd = platform::OpenRegularFile(path, O_WRONLY | O_NOFOLLOW);
        if (fd < 0) continue;
        if (ftruncate(fd, 0) != 0) {
            // Nothing else to do: a trace never disturbs its caller.
        }
        close(fd);
    }
}

}  // namespace orvo
