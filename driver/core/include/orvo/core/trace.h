// Diagnostic traces: always on, one line per step, appended at once
// so that every line is on disk when the call returns. A trace that cannot be
// written is skipped without disturbing the caller.
#pragma once

#include <string>

namespace orvo {

enum class TraceFile { Thread, GetOne, Log };

// "thread.txt", "getone.txt", "log.txt" in the trace directory:
// ORVOSCAN_TRACE_DIR when set, else the driver's temporary directory.
std::string TracePath(TraceFile file);

// Appends one line: "%3d:\t", then "<text> HH:MM:SS:mmm" right-aligned with
// "%65s\t", then "[%7d]\n".
void Trace(TraceFile file, int number, const char* text, int value);

// The line Trace writes, for a given time (exposed for tests).
std::string FormatTraceLine(int number, const char* text, int value, int hour, int minute,
                            int second, int millisecond);

// Keeps the lines this thread traces to `file` while it lives and appends
// them in one write when it goes: for the steps of one call, whose lines are
// then all on disk when the call returns, for one open of the file instead of
// one per line. The lines keep the times they were traced at.
class TraceBatch {
  public:
    explicit TraceBatch(TraceFile file);
    ~TraceBatch();
    TraceBatch(const TraceBatch&) = delete;
    TraceBatch& operator=(const TraceBatch&) = delete;

  private:
    friend void Trace(TraceFile, int, const char*, int);
    TraceFile file_;
    std::string lines_;
    TraceBatch* outer_;
};

// Keeps this thread's descriptor of `file` open while it lives, for a
// thread that traces one line at a time for long (the worker's poll of the
// scanner): each line is still appended in one write and on disk when Trace
// returns, but the file is opened once instead of once a line. Before each
// write the name is looked at again (without following a link): when it no
// longer names the very file that is open (removed, renamed, replaced by a
// link or a FIFO), the descriptor is closed and the name opened anew as for
// any line, so the lines go where they would go without it.
class TraceKeepOpen {
  public:
    explicit TraceKeepOpen(TraceFile file);
    ~TraceKeepOpen();
    TraceKeepOpen(const TraceKeepOpen&) = delete;
    TraceKeepOpen& operator=(const TraceKeepOpen&) = delete;

  private:
    friend struct TraceKeepOpenAccess;
    TraceFile file_;
    TraceKeepOpen* outer_;
    std::string path_;
    int fd_ = -1;
    unsigned long long device_ = 0;
    unsigned long long inode_ = 0;
};

// Empties log.txt, thread.txt and getone.txt, in this order; a file that does
// not exist is not created. Traces are written and emptied only as regular
// files under their own names: a symbolic link, FIFO or device in their place
// is left alone.
void EmptyTraceFiles();

}  // namespace orvo
