// The scan worker: readies the scanner, sends the window, starts the feed and
// reads every document into temporary page files until the scanner says the
// batch is over, no document came for the idle time, or something failed.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "orvo/batch/batch.h"
#include "orvo/batch/endorser.h"
#include "orvo/core/driver_state.h"
#include "orvo/core/scan_kinds.h"
#include "orvo/core/trace.h"
#include "orvo/image/framing.h"
#include "orvo/platform/clock.h"
#include "orvo/platform/event.h"
#include "orvo/platform/profile.h"
#include "orvo/platform/thread.h"
#include "orvo/transport/commands.h"
#include "orvo/transport/transport.h"

namespace orvo {

namespace {

constexpr uint32_t kRetryBudgetMs = 25000;
constexpr uint32_t kIdleTimeoutMs = 25000;
constexpr uint32_t kBlockCap = 1024;
// Rest after a poll that found nothing waiting, so that an idle scanner
// costs next to nothing: short while documents follow each other, doubling
// while none comes, back to the shortest after every document. The longest
// rest bounds how long a document that has become ready waits to be
// noticed.
constexpr uint32_t kPollRestShortestMs = 2;
constexpr uint32_t kPollRestLongestMs = 16;
// TERMINATE when the worker leaves a started feed for any other reason than
// the end of the batch (a stop, a failure): the scanner answers it at once,
// and a scanner that does not must not hold up the stop.
constexpr uint32_t kLeaveFeedTerminateMs = 1000;
constexpr int kExitNormal = 0;
constexpr int kExitAborted = 1;

void T(int number, const char* text, int value) {
    Trace(TraceFile::Thread, number, text, value);
}

bool MarkersPass(uint8_t b1, uint8_t b2) {
    return b1 == b2 && (b1 == 0x55 || b1 == 0xAA);
}

// Writes `length` bytes to a new file; false when it could not be written
// whole, and then no part of it is left behind.
bool WriteWhole(const std::string& path, const uint8_t* data, std::size_t length) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, length, f) == length;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::remove(path.c_str());
    return ok;
}

class Worker {
  public:
    explicit Worker(BatchState& batch) : b_(batch), s_(batch.settings) {}

    int Run() {
        const int code = Conversation();
        // Whatever ended the batch, a scanner that was feeding is told to
        // stop, so that no cheque is fed into a batch nobody reads.
        if (feedStarted_ && !terminated_) Terminate(kLeaveFeedTerminateMs, false);
        return code;
    }

  private:
    int Conversation() {
        if (!Ready()) return kExitAborted;
        if (!SetWindow()) return kExitAborted;
        if (!StartFeed()) return kExitAborted;
        return PollUntilEnd();
    }

    bool Stopped(Outcome o) const { return o == Outcome::Cancelled; }
    // A request that failed ends the batch. The scanner's own errors are in
    // the device error word already; a request it never answered is reported
    // as an unknown device error, so that the client never takes an aborted
    // batch for a normal end.
    bool Failed(Outcome o) {
        if (o == Outcome::TimedOut) Unknown();
        return o == Outcome::TimedOut || o == Outcome::Error || o == Outcome::Cancelled;
    }
    int Page() const { return b_.nPageScanned.load(std::memory_order_relaxed); }
    void Unknown() { State().deviceError.store(kDeviceErrorUnknown, std::memory_order_relaxed); }

    // Repeats a command while it answers without completing cleanly, for at
    // most `boundMs`; past that the scanner is reported as an unknown error.
    // `sent` is called with the outcome of every attempt.
    template <typename Sent>
    bool RepeatUntilClean(void (*build)(SRB_ExecSCSICmd&), uint32_t waitMs, uint32_t boundMs,
                          Sent sent) {
        const uint32_t start = platform::TickCount();
        for (;;) {
            const Outcome o = Exchange(build, waitMs, StatusCheck::OptionA, b_.stopEvent);
            sent(o);
            if (Failed(o)) return false;
            if (o == Outcome::Completed) return true;
            if (platform::TicksSince(start, platform::TickCount()) > boundMs) {
                Unknown();
                return false;
            }
        }
    }

    // Step 1: TEST UNIT READY until the scanner answers cleanly.
    bool Ready() {
        if (!RepeatUntilClean(BuildTestUnitReady, kWaitLong, kWorkerBounds.notReadyMs,
                              [](Outcome) {})) {
            return false;
        }
        T(0, "TestUnitReady_Cmd", 0);
        return true;
    }

    // Steps 2 to 4: endorser text for the date of key Date (or today), window.
    bool SetWindow() {
        const std::string dateKey =
            platform::ProfileString("Misc", "Date", "", 9, State().settingsPath);
        const platform::LocalTime now = platform::Now();
        const EndorserDateParts date = EndorserDate(dateKey, now.year, now.month, now.day);
        if (!BuildEndorserText(s_.EndorserFormat, date.year, date.month, date.day,
                               b_.endorserText)) {
            return false;
        }
        // Widened pages are taken as 8-bit gray, whatever the scan mode.
        if (ResolutionOf(s_.Resolution) == Resolution::kDpi300Widened) {
            s_.ScanMode[0] = static_cast<int>(ScanMode::kGray256);
        }
        ComposeWindowBlock(s_, s_.DocumentType, b_.endorserText, window_);
        const Outcome o = Exchange([this](SRB_ExecSCSICmd& srb) { BuildSetWindow(srb, window_); },
                                   kWaitScan, StatusCheck::OptionA, b_.stopEvent);
        if (Failed(o)) return false;
        T(0, "SetWindow_Cmd-Bright", 5);
        T(0, "SetWindow_Cmd-bPhoto", 0);
        T(0, "SetWindow_Cmd-Side", s_.Side);
        T(0, "SetWindow_Cmd-DFDetect", s_.DFDetect);
        T(0, "SetWindow_Cmd-Endorser", s_.Endorser);
        T(0, "SetWindow_Cmd-LED", s_.LED);
        T(0, "SetWindow_Cmd-MicrDetect", s_.MicrDetect);
        T(0, "SetWindow_Cmd-ScanMode", s_.ScanMode[0]);
        T(0, "SetWindow_Cmd-CompressMode", s_.CompressMode);
        T(0, "SetWindow_Cmd-Resolution", s_.Resolution);
        T(0, "SetWindow_Cmd-BWSlice", s_.BWSlice[0]);
        T(0, "SetWindow_Cmd-LeftOffset", s_.LeftOffset);
        T(0, "SetWindow_Cmd-ScanWidth", s_.ScanWidth);
        T(0, "SetWindow_Cmd-TopMargin", s_.TopMargin);
        T(0, "SetWindow_Cmd-ScanLines", s_.ScanLines[0]);
        T(0, "SetWindow_Cmd-bUseScanCount", s_.LimitScanCount);
        return true;
    }

    // Step 5: SCAN until the scanner answers cleanly.
    bool StartFeed() {
        // The feed counts as started once a SCAN has been accepted, or may
        // have been: one that was withdrawn or never answered.
        auto sent = [this](Outcome o) {
            if (o == Outcome::Completed || o == Outcome::TimedOut || o == Outcome::Cancelled) {
                feedStarted_ = true;
            }
        };
        if (!RepeatUntilClean(BuildScan, kWaitScan, kWorkerBounds.scanStartMs, sent)) return false;
        T(0, "ScanStart_Cmd", 0);
        return true;
    }

    enum class Found { Data, Terminate, Nothing, Abort, Closed };

    // One poll cycle of GET DATA BUFFER STATUS; none once the batch is
    // closing (another thread ended it).
    Found PollCycle() {
        const uint32_t start = platform::TickCount();
        for (;;) {
            if (!Polling(b_)) return Found::Closed;
            std::memset(reply_, 0, sizeof reply_);
            const Outcome o =
                Exchange([this](SRB_ExecSCSICmd& srb) { BuildGetDataBufferStatus(srb, reply_); },
                         kWaitScan, StatusCheck::Plain, b_.stopEvent);
            if (Failed(o)) return Found::Abort;
            const uint8_t status = reply_[3];
            Found result;
            if (status & 0x01) {
                result = Found::Data;
            } else if (status & 0x80) {
                result = Found::Terminate;
            } else if (o == Outcome::Completed) {
                result = Found::Nothing;
            } else {
                // Asked again while the budget lasts; an answer that came
                // slowly but cleanly is taken whatever it cost.
                if (platform::TicksSince(start, platform::TickCount()) > kRetryBudgetMs) {
                    Unknown();
                    return Found::Abort;
                }
                continue;
            }
            T(Page(), "GetDBStat_Cmd", 0);
            return result;
        }
    }

    // Steps 6 and 9.
    int PollUntilEnd() {
        bool haveDocument = false;
        const uint32_t pollStart = platform::TickCount();
        uint32_t lastDocument = pollStart;
        for (;;) {
            const Found p = PollCycle();
            if (p == Found::Abort) return kExitAborted;
            if (p == Found::Closed) {
                T(Page(), "batch closed while waiting for a document", 0);
                return Terminate();
            }
            if (p == Found::Terminate) {
                T(Page(), "GetDBStat_Cmd :bTerminate TRUE", 0);
                return Terminate();
            }
            if (p == Found::Data) {
                // The announced document is read and written whole, also
                // when another thread closed the batch meanwhile; then the
                // closed batch ends.
                if (!BeginDocument(b_)) return kExitAborted;
                const bool done = ReadDocument() && WriteDocument();
                const bool closing = EndDocument(b_);
                if (!done) return kExitAborted;
                if (closing) {
                    T(Page(), "batch closed after the document", 0);
                    return Terminate();
                }
                haveDocument = true;
                lastDocument = platform::TickCount();
                pollRestMs_ = kPollRestShortestMs;
            } else if (!haveDocument) {
                if (platform::TicksSince(pollStart, platform::TickCount()) >
                    kWorkerBounds.firstDocumentMs) {
                    Unknown();
                    return kExitAborted;
                }
                if (!Pause()) return kExitAborted;
                continue;
            } else if (!Pause()) {
                return kExitAborted;
            }
            if (platform::TicksSince(lastDocument, platform::TickCount()) > kIdleTimeoutMs) {
                return Terminate();
            }
        }
    }

    // A rest after a poll that found nothing, so that waiting for the next
    // document does not keep a processor core busy; each one in a row twice
    // as long as the one before, up to the longest.
    // Returns false when the batch is being ended meanwhile.
    bool Pause() {
        const uint32_t rest = pollRestMs_;
        pollRestMs_ = std::min(2 * pollRestMs_, kPollRestLongestMs);
        return platform::WaitForEvent(b_.stopEvent, rest) != platform::WaitResult::Signalled;
    }

    // Step 9. The end of the batch waits for the answer as long as for any
    // request and may be cut short by a stop; leaving the feed otherwise waits
    // a short while only.
    int Terminate(uint32_t waitMs = kWaitScan, bool stoppable = true) {
        const Outcome o =
            Exchange(BuildTerminate, waitMs, StatusCheck::None, stoppable ? b_.stopEvent : -1);
        terminated_ = o != Outcome::Cancelled;
        T(Page(), "Terminate_Cmd", 0);
        return kExitNormal;
    }

    bool ReadBlock(uint32_t k) {
        if (static_cast<std::size_t>(k + 1) * kBlockSize > b_.scanBufSize) {
            // The scanner announces more data than a document of these
            // settings can hold: stop instead of reading past the buffer.
            Unknown();
            return false;
        }
        const uint32_t start = platform::TickCount();
        for (;;) {
            const Outcome o = Exchange(
                [this, k](SRB_ExecSCSICmd& srb) { BuildReadBuffer(srb, b_.scanBuf.get(), k); },
                kWaitScan, StatusCheck::Plain, b_.stopEvent);
            if (Failed(o)) return false;
            if (o == Outcome::Completed) break;
            if (platform::TicksSince(start, platform::TickCount()) > kRetryBudgetMs) {
                Unknown();
                return false;
            }
        }
        T(Page(), "Read_Buff_Cmd", static_cast<int>(k));
        return true;
    }

    bool CodedMh() const {
        return IsBilevel(ScanModeOf(s_.ScanMode[0])) &&
               CompressionOf(s_.CompressMode) == Compression::kCoded;
    }

    static uint32_t BlockCount(const uint8_t* header) {
        return static_cast<uint32_t>(header[2]) | (static_cast<uint32_t>(header[3]) << 8);
    }

    // A side that failed its check goes to the dump file; too many failures
    // in a row end the batch with an unknown device error.
    bool Rejected(const uint8_t* side, std::size_t length, int& failures) {
        WriteWhole(DumpFileName(b_.pageDir, Page()), side, length);
        if (++failures > kWorkerBounds.sideRereads) {
            Unknown();
            return false;
        }
        return true;
    }

    // Step 7.
    bool ReadDocument() {
        uint8_t* buf = b_.scanBuf.get();
        bool frontComplete = false, frontKnown = false;
        bool rearComplete = false, rearKnown = false;
        frontLength_ = 0;
        rearLength_ = 0;
        rearStart_ = 0;
        uint32_t k = 0;
        int frontFailures = 0, rearFailures = 0;
        const bool twoSided = s_.Side != 0;
        std::memset(buf, 0, b_.scanBufSize);
        for (;;) {
            if (!ReadBlock(k)) return false;
            ++k;
            if (!frontComplete) {
                const uint32_t n = BlockCount(buf);
                T(Page(), "nBlockToReceive = ", static_cast<int>(n));
                if (!frontKnown) {
                    if (CodedMh()) {
                        frontLength_ = static_cast<std::size_t>(
                            RtcSearch(buf, static_cast<std::size_t>(k) * kBlockSize) + 1);
                        frontKnown = frontLength_ > 0;
                    } else if (k >= n) {
                        frontLength_ = static_cast<std::size_t>(k) * kBlockSize;
                        frontKnown = true;
                    }
                }
                if (k >= n) {
                    frontComplete = true;
                    rearStart_ = k;
                    T(Page(), "b1 = ", buf[0]);
                    T(Page(), "b2 = ", buf[1]);
                    if (!MarkersPass(buf[0], buf[1]) || !frontKnown) {
                        if (!Rejected(buf, frontKnown ? frontLength_ : 0, frontFailures))
                            return false;
                        frontComplete = frontKnown = false;
                        frontLength_ = 0;
                        rearStart_ = 0;
                        k = 0;
                    }
                } else if (k >= kBlockCap) {
                    frontComplete = true;
                    frontLength_ = static_cast<std::size_t>(k) * kBlockSize;
                    rearStart_ = k;
                }
            } else {
                uint8_t* rear = buf + static_cast<std::size_t>(rearStart_) * kBlockSize;
                const uint32_t n = BlockCount(rear);
                T(Page(), "nBlockToReceive = ", static_cast<int>(n));
                const uint32_t m = k - rearStart_;
                if (!rearKnown) {
                    if (CodedMh()) {
                        rearLength_ = static_cast<std::size_t>(
                            RtcSearch(rear, static_cast<std::size_t>(m) * kBlockSize) + 1);
                        rearKnown = rearLength_ > 0;
                    } else if (m >= n) {
                        rearLength_ = static_cast<std::size_t>(m) * kBlockSize;
                        rearKnown = true;
                    }
                }
                if (m >= n) {
                    rearComplete = true;
                    T(Page(), "b1 = ", rear[0]);
                    T(Page(), "b2 = ", rear[1]);
                    if (!MarkersPass(rear[0], rear[1]) || !rearKnown) {
                        if (!Rejected(rear, rearKnown ? rearLength_ : 0, rearFailures))
                            return false;
                        rearComplete = rearKnown = false;
                        rearLength_ = 0;
                        k = rearStart_;
                    }
                } else if (k >= kBlockCap) {
                    rearComplete = true;
                    rearLength_ = static_cast<std::size_t>(m) * kBlockSize;
                }
            }
            if (!twoSided && frontComplete) return true;
            if (twoSided && rearComplete) return true;
        }
    }

    // Raises the page counter once the file it announces is closed.
    void Publish() {
        b_.nPageScanned.fetch_add(1, std::memory_order_release);
        platform::SetEvent(b_.pageEvent);
    }

    // A page file that could not be written (full or unwritable directory)
    // ends the batch: the client learns it as a page file failure, not as a
    // scanner fault, once it has taken the pages before.
    bool KeepPage(const uint8_t* side, std::size_t length) {
        if (WriteWhole(PageFileName(b_.pageDir, Page()), side, length)) return true;
        T(Page(), "page file not written", 0);
        b_.pageFileFailed = true;
        return false;
    }

    // Step 8.
    bool WriteDocument() {
        T(Page(), "Got one page--------", 0);
        const uint8_t* buf = b_.scanBuf.get();
        if (frontLength_ > 0) {
            if (!KeepPage(buf, frontLength_)) return false;
            T(Page(), "Front RTC Found", 0);
        }
        Publish();
        if (s_.Side != 0) {
            if (rearLength_ > 0) {
                const uint8_t* rear = buf + static_cast<std::size_t>(rearStart_) * kBlockSize;
                if (!KeepPage(rear, rearLength_)) return false;
                T(Page(), "Back RTC Found", 0);
            }
            Publish();
        }
        return true;
    }

    BatchState& b_;
    Settings s_;
    uint8_t window_[kWindowBlockSize] = {};
    uint8_t reply_[57] = {};
    std::size_t frontLength_ = 0;
    std::size_t rearLength_ = 0;
    uint32_t rearStart_ = 0;
    uint32_t pollRestMs_ = kPollRestShortestMs;  // the next rest after an empty poll
    bool feedStarted_ = false;                   // SCAN was sent and the feed may be running
    bool terminated_ = false;                    // TERMINATE has been sent
};

}  // namespace

int ScanWorker(BatchState& batch) {
    platform::RaiseCurrentThreadPriority();
    // The worker polls the scanner many times a second while it waits for a
    // cheque: one event for its requests and one open thread.txt for its
    // lines, for the whole batch.
    RequestEventKeeper events;
    TraceKeepOpen thread(TraceFile::Thread);
    Worker worker(batch);
    return worker.Run();
}

}  // namespace orvo
