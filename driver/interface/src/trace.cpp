#include "orvo/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "orvo/driver_state.h"
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
    std::string path = TracePath(file);
    if (path.empty()) return;
    platform::LocalTime t = platform::Now();
    std::string line =
        FormatTraceLine(number, text, value, t.hour, t.minute, t.second, t.millisecond);
    // Only a regular file, never through a symbolic link: a trace never
    // writes into a file someone pointed its name at.
    const int fd =
        platform::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0666);
    if (fd < 0) return;
    platform::WriteAll(fd, line.data(), line.size());
    close(fd);
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
