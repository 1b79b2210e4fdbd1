#include "orvo/trace.h"

#include <cstdio>

#include "orvo/driver_state.h"
#include "orvo/platform/clock.h"
#include "orvo/platform/dirs.h"

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
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
}

void EmptyTraceFiles() {
    for (TraceFile file : {TraceFile::Log, TraceFile::Thread, TraceFile::GetOne}) {
        std::string path = TracePath(file);
        if (path.empty()) continue;
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (!f) continue;
        std::fclose(f);
        f = std::fopen(path.c_str(), "w");
        if (f) std::fclose(f);
    }
}

}  // namespace orvo
