// Opening a batch, waiting for its pages, closing it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "orvo/batch/batch.h"
#include "orvo/batch/buffer_sizing.h"
#include "orvo/batch/endorser.h"
#include "orvo/batch/page_dir.h"
#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"
#include "orvo/platform/clock.h"
#include "orvo/platform/event.h"
#include "orvo/transport/commands.h"
#include "orvo/transport/transport.h"
#include "orvoscan.h"

namespace orvo {

namespace {

constexpr uint32_t kPageWaitMs = 300;  // longest sleep between two looks

// "_tmp" or "_err", then four or more digits, then ".dat".
bool IsBatchFileName(const char* name) {
    if (std::strncmp(name, "_tmp", 4) != 0 && std::strncmp(name, "_err", 4) != 0) return false;
    const char* p = name + 4;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        ++p;
        ++digits;
    }
    return digits >= 4 && std::strcmp(p, ".dat") == 0;
}

std::string Numbered(const std::string& tempDir, const char* form, int number) {
    char name[32];
    std::snprintf(name, sizeof name, form, number);
    return tempDir + name;
}

void ReleaseBuffers(BatchState& b) {
    b.scanBuf.reset();
    b.imageBuf.reset();
    b.decodeBuf.reset();
    b.scanBufSize = b.imageBufSize = b.decodeBufSize = 0;
}

// Stops a running worker at its next request boundary and waits for it.
void StopWorker(BatchState& b) {
    if (!b.hasWorker) return;
    if (!b.workerDone.load(std::memory_order_acquire)) platform::SetEvent(b.stopEvent);
    if (b.worker.joinable()) b.worker.join();
    b.hasWorker = false;
}

void CloseEvents(BatchState& b) {
    if (b.stopEvent >= 0) platform::CloseEvent(b.stopEvent);
    if (b.pageEvent >= 0) platform::CloseEvent(b.pageEvent);
    b.stopEvent = b.pageEvent = -1;
}

// Waits until the worker announces something or a page call is to end, at
// most kPageWaitMs; without events it just rests that long.
void RestForNews(const BatchState& b) {
    int woke = -2;
    if (b.pageEvent >= 0 && b.wakeEvent >= 0) {
        woke = platform::WaitForAnyEvent({b.pageEvent, b.wakeEvent}, kPageWaitMs);
    } else if (b.pageEvent >= 0 || b.wakeEvent >= 0) {
        woke = platform::WaitForAnyEvent({std::max(b.pageEvent, b.wakeEvent)}, kPageWaitMs);
    }
    if (woke == -2) platform::SleepMs(kPageWaitMs);
}

uint8_t* Allocate(std::size_t size) {
    return new (std::nothrow) uint8_t[size == 0 ? 1 : size]();
}

}  // namespace

BatchState& Batch() {
    // Never destroyed: a client may exit while a worker still runs.
    static BatchState* batch = [] {
        auto* b = new BatchState;
        b->wakeEvent = platform::CreateEvent();
        return b;
    }();
    return *batch;
}

PageCall::PageCall() {
    BatchState& b = Batch();
    std::lock_guard lock(b.callMutex);
    if (b.ending) return;
    ++b.activeCalls;
    b.pageThread = std::this_thread::get_id();
    admitted_ = true;
}

PageCall::~PageCall() {
    if (!admitted_) return;
    BatchState& b = Batch();
    std::lock_guard lock(b.callMutex);
    --b.activeCalls;
    b.callsChanged.notify_all();
}

std::string PageFileName(const std::string& tempDir, int number) {
    return Numbered(tempDir, "_tmp%04d.dat", number);
}

std::string DumpFileName(const std::string& tempDir, int number) {
    return Numbered(tempDir, "_err%04d.dat", number);
}

int DeleteBatchFiles(const std::string& tempDir) {
    if (tempDir.empty()) return 0;
    DIR* dir = opendir(tempDir.c_str());
    if (!dir) return 0;
    const int fd = dirfd(dir);
    int deleted = 0;
    while (dirent* entry = readdir(dir)) {
        if (!IsBatchFileName(entry->d_name)) continue;
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
        if (unlinkat(fd, entry->d_name, 0) == 0) ++deleted;
    }
    closedir(dir);
    return deleted;
}

int StartBatch(const char* profile) {
    DriverState& state = State();
    BatchState& b = Batch();
    // A batch that was never ended is ended now, so that its worker never
    // runs on buffers that are replaced below.
    EndBatchNow();
    {
        std::lock_guard lock(b.callMutex);
        b.pageThread = std::this_thread::get_id();
        b.closing = false;
        b.phase = BatchState::Phase::Starting;
    }
    if (state.tempDir.empty() || state.settingsPath.empty()) return ORVOSCAN_ERR_DRIVER;

    // The scanner for this process alone: a batch of another process on it
    // is refused before anything of that batch (or of this one) is touched.
    std::string holder;
    if (LockScanner(&holder) == ScannerLock::Busy) {
        Trace(TraceFile::Log, 0, ("scanner in use by " + holder).c_str(), 0);
        return ORVOSCAN_ERR_BUSY;
    }
    // Given up again unless the batch starts.
    struct Release {
        bool keep = false;
        ~Release() {
            if (!keep) UnlockScanner();
        }
    } release;

    // This process's page directory, emptied of its earlier batches, and
    // the directories that ended processes left behind.
    std::string why;
    const std::string pageDir = ProcessPageDir(state.tempDir, &why);
    if (pageDir.empty()) {
        Trace(TraceFile::Log, 0, ("page directory not made: " + why).c_str(), 0);
        return ORVOSCAN_ERR_PAGE_FILE;
    }
    SweepEndedPageDirs(state.tempDir);
    DeleteBatchFiles(pageDir);
    b.pageDir = pageDir;
    RemovePagesAtProcessEnd();
    EmptyTraceFiles();

    char name[256] = {};
    if (profile) std::strncpy(name, profile, sizeof name - 1);
    // A value the scanner or the page writers cannot take is refused before
    // anything is fed (and before a load writes anything back).
    const std::string refused = RefusedProfileValue(name, state.settingsPath);
    if (!refused.empty()) {
        Trace(TraceFile::Log, 0, ("settings refused: " + refused).c_str(), 0);
        return ORVOSCAN_ERR_SETTINGS;
    }
    LoadProfile(name, state.settingsPath, state.settings);
    if (state.unstoredImageFormat >= 0) state.settings.ImageFileFormat = state.unstoredImageFormat;

    const platform::LocalTime today = platform::Now();
    std::string endorser;
    if (!BuildEndorserText(state.settings.EndorserFormat, today.year, today.month, today.day,
                           endorser)) {
        return ORVOSCAN_ERR_ENDORSER;
    }

    const Settings& s = state.settings;
    const BatchBufferSizes sizes =
        SizeBatchBuffers(s.ScanMode[0], s.Resolution, s.Side, s.ScanLines[0]);
    ReleaseBuffers(b);
    CloseEvents(b);
    // ScanBuf holds whole blocks (a block that starts inside it fits), and at
    // least one block per side: every side takes a block of its own, however
    // few lines the profile asks for.
    const std::size_t sides = s.Side != 0 ? 2 : 1;
    const std::size_t scanBlocks = std::max((sizes.scanBuf + kBlockSize - 1) / kBlockSize, sides);
    b.scanBufSize = scanBlocks * kBlockSize;
    b.scanBuf.reset(Allocate(b.scanBufSize));
    b.imageBufSize = sizes.imageBuf;
    b.imageBuf.reset(Allocate(b.imageBufSize));
    b.decodeBufSize = sizes.decodeBuf;
    b.decodeBuf.reset(Allocate(b.decodeBufSize));
    b.stopEvent = platform::CreateEvent();
    b.pageEvent = platform::CreateEvent();
    if (!b.scanBuf || !b.imageBuf || !b.decodeBuf || b.stopEvent < 0 || b.pageEvent < 0) {
        ReleaseBuffers(b);
        CloseEvents(b);
        return ORVOSCAN_ERR_MEMORY;
    }

    b.nPageScanned.store(0, std::memory_order_relaxed);
    b.nPageFetched = 0;
    b.TempScanMode = s.ScanMode[0];
    b.settings = s;
    b.exitCode = 0;
    b.pageFileFailed = false;
    b.workerDone.store(false, std::memory_order_relaxed);
    state.deviceError.store(0, std::memory_order_relaxed);
    try {
        b.worker = std::thread([&b] {
            const int code = ScanWorker(b);
            b.exitCode = code;
            b.workerDone.store(true, std::memory_order_release);
            platform::SetEvent(b.pageEvent);
        });
    } catch (const std::system_error&) {
        b.workerDone.store(true, std::memory_order_relaxed);
        return ORVOSCAN_ERR_DRIVER;
    }
    b.hasWorker = true;
    b.holdsScanner = true;
    release.keep = true;
    return ORVOSCAN_OK;
}

int IsPageLoaded() {
    PageCall call;
    if (!call.admitted()) return ORVOSCAN_NO_PAGE;
    return WaitForPage();
}

int WaitForPage() {
    BatchState& b = Batch();
    for (;;) {
        {
            // EndBatch from another thread: stop waiting at once.
            std::lock_guard lock(b.callMutex);
            if (b.ending) return ORVOSCAN_NO_PAGE;
        }
        // No batch (before the first one or after its end): nothing will
        // come, and pages left untaken went with the batch's buffers.
        if (!b.hasWorker) return ORVOSCAN_NO_PAGE;
        const int scanned = b.nPageScanned.load(std::memory_order_acquire);
        if (scanned == b.nPageFetched) {
            if (b.workerDone.load(std::memory_order_acquire)) {
                // Pages raised just before the worker ended are still taken.
                if (b.nPageScanned.load(std::memory_order_acquire) != b.nPageFetched) continue;
                if (b.pageFileFailed) return ORVOSCAN_ERR_PAGE_FILE;
                return State().deviceError.load(std::memory_order_acquire) != 0
                           ? ORVOSCAN_ERR_DEVICE
                           : ORVOSCAN_NO_PAGE;
            }
        } else if (b.nPageFetched < scanned) {
            return ORVOSCAN_OK;
        }
        RestForNews(b);
    }
}

int EndBatch() {
    BatchState& b = Batch();
    {
        std::lock_guard lock(b.callMutex);
        // Another thread than the one taking the pages, while the batch
        // runs: the batch closes after the document in progress, and the
        // page thread ends it once it has taken the pages done until then.
        if (!b.ending && !b.closing && b.hasWorker && b.pageThread != std::this_thread::get_id()) {
            b.closing = true;
            // Starting: no document can have been fed yet.
            if (b.phase == BatchState::Phase::Starting &&
                !b.workerDone.load(std::memory_order_acquire)) {
                platform::SetEvent(b.stopEvent);
            }
            Trace(TraceFile::Log, 0, "batch closing after the document in progress", 0);
            return 0;
        }
    }
    return EndBatchNow();
}

bool Polling(BatchState& b) {
    std::lock_guard lock(b.callMutex);
    b.phase = BatchState::Phase::Polling;
    return !b.closing;
}

bool BeginDocument(BatchState& b) {
    std::lock_guard lock(b.callMutex);
    // The batch is ended at once: nothing more is read.
    if (b.ending) return false;
    // The scanner has announced the document, so it has been fed: it is
    // read and handed over even when the batch is closing.
    b.phase = BatchState::Phase::Document;
    return true;
}

bool EndDocument(BatchState& b) {
    std::lock_guard lock(b.callMutex);
    b.phase = BatchState::Phase::Polling;
    return b.closing;
}

int EndBatchNow() {
    DriverState& state = State();
    BatchState& b = Batch();
    {
        std::unique_lock lock(b.callMutex);
        if (b.ending) {
            // Another thread is ending the batch: done when it is.
            b.callsChanged.wait(lock, [&b] { return !b.ending; });
            return 0;
        }
        b.ending = true;
    }
    // A page call waiting in this batch returns at once; the worker is asked
    // to stop meanwhile. Nothing is freed before every page call has left.
    platform::SetEvent(b.wakeEvent);
    if (b.hasWorker && !b.workerDone.load(std::memory_order_acquire)) {
        platform::SetEvent(b.stopEvent);
    }
    {
        std::unique_lock lock(b.callMutex);
        b.callsChanged.wait(lock, [&b] { return b.activeCalls == 0; });
    }
    StopWorker(b);
    // The pages are a bank customer's cheques: none stays after the batch.
    DeleteBatchFiles(b.pageDir);
    ReleaseBuffers(b);
    CloseEvents(b);
    if (b.holdsScanner) UnlockScanner();
    b.holdsScanner = false;
    state.settings.ScanMode[0] = b.TempScanMode;
    {
        std::lock_guard lock(b.callMutex);
        b.ending = false;
        b.closing = false;
        b.phase = BatchState::Phase::Starting;
        b.callsChanged.notify_all();
    }
    return 0;
}

}  // namespace orvo
