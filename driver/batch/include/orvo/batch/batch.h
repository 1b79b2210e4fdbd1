// One batch: its buffers, page counters and worker, and the three operations
// the client uses to run it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "orvo/core/settings.h"

namespace orvo {

struct BatchState {
    std::unique_ptr<uint8_t[]> scanBuf;   // the scanner's document data, block for block
    std::size_t scanBufSize = 0;          // bytes usable (whole blocks)
    std::unique_ptr<uint8_t[]> imageBuf;  // one page file as read from disk
    std::size_t imageBufSize = 0;
    std::unique_ptr<uint8_t[]> decodeBuf;  // decoded rows
    std::size_t decodeBufSize = 0;

    std::atomic<int> nPageScanned{0};  // raised by the worker after the file is closed
    int nPageFetched = 0;              // pages taken by the client
    int TempScanMode = 0;              // ScanMode1 as loaded at batch start

    std::thread worker;                  // hScanThread
    bool hasWorker = false;              // the thread handle is held
    std::atomic<bool> workerDone{true};  // set when the worker has ended
    int exitCode = 0;                    // valid once workerDone
    int stopEvent = -1;                  // asks the worker to stop at once
    int pageEvent = -1;                  // signalled on every new page and at the end
    std::string pageDir;                 // this process's page files, ends in '/'
    bool holdsScanner = false;           // the batch has the scanner's lock
    Settings settings;                   // the worker's copy of the batch settings
    std::string endorserText;
    // The worker could not write a page file (full or unwritable directory):
    // the batch ended for that, not for a scanner fault. Read once workerDone.
    bool pageFileFailed = false;

    // Page calls in progress (IsPageLoaded and the page retrievals), and an
    // end of the batch from another thread of the client. While `ending` is
    // set no page call is admitted; EndBatch frees nothing until
    // `activeCalls` is back at 0.
    std::mutex callMutex;
    std::condition_variable callsChanged;
    int activeCalls = 0;
    bool ending = false;
    int wakeEvent = -1;  // ends a page call's wait at once; lives as long as the library

    // Under callMutex. The thread that takes the pages: the one that started
    // the batch, then the one of the last page call.
    std::thread::id pageThread;
    // What the worker does: readies the scanner and starts the feed, polls
    // for a document, or reads and writes one (from the scanner's data
    // announcement until its page files are closed).
    enum class Phase { Starting, Polling, Document };
    Phase phase = Phase::Starting;
    // Another thread of the client ended the batch while it ran: the worker
    // stops at once while it starts, before its next poll while it waits
    // for a document, or after the document it reads; the page thread takes
    // the pages done until then.
    bool closing = false;
};

BatchState& Batch();

// Name of a temporary page file / error dump file in `dir` (ends in '/').
std::string PageFileName(const std::string& dir, int number);
std::string DumpFileName(const std::string& dir, int number);

// Deletes the page and dump files of earlier batches from `tempDir` (only the
// names "_tmpNNNN.dat" and "_errNNNN.dat"; symbolic links are removed, never
// followed). Returns the number of files deleted.
int DeleteBatchFiles(const std::string& tempDir);

// Batch control, results as the exported functions return them.
int StartBatch(const char* profile);
int IsPageLoaded();
// From the thread that takes the pages (or when nothing runs): ends the batch
// at once and frees it. From another thread while the batch runs: the batch
// ends after the document in progress (at once while the worker waits for
// one), the page thread still takes every page done until then and then
// learns the end, and frees the batch with its own EndBatch; a second call
// from another thread ends the batch at once.
int EndBatch();
// Ends the batch at once and frees it, from whichever thread.
int EndBatchNow();

// A page call (OrvoScan_IsPageLoaded, OrvoScan_GetOneImage,
// OrvoScan_GetOneImageBufPtr) for its whole duration. A call that is not
// admitted (the batch is being ended from another thread) must touch no
// batch state and return ORVOSCAN_NO_PAGE.
class PageCall {
  public:
    PageCall();
    ~PageCall();
    PageCall(const PageCall&) = delete;
    PageCall& operator=(const PageCall&) = delete;
    bool admitted() const { return admitted_; }

  private:
    bool admitted_ = false;
};

// IsPageLoaded inside an admitted PageCall: waits for the next page, the end
// of the worker or an EndBatch from another thread (ORVOSCAN_NO_PAGE).
int WaitForPage();

// Bounds the worker keeps where the scanner could otherwise keep it forever.
struct WorkerBounds {
    uint32_t notReadyMs = 60000;        // TEST UNIT READY answering not cleanly
    uint32_t scanStartMs = 25000;       // SCAN answering not cleanly
    uint32_t firstDocumentMs = 120000;  // polling before the first document
    int sideRereads = 3;                // a side failing its check read again
};
inline constexpr WorkerBounds kWorkerBounds{};

// The worker thread's body; returns the exit code (0 normal end, 1 aborted).
int ScanWorker(BatchState& batch);

// The worker's phases. Polling: true while it is to poll on (false once the
// batch is closing). BeginDocument, for a document the scanner has
// announced: false when the batch is being ended at once (the document is
// not read); a closing batch still gets it whole. EndDocument: true when the
// batch is closing and the worker is to end now.
bool Polling(BatchState& batch);
bool BeginDocument(BatchState& batch);
bool EndDocument(BatchState& batch);

}  // namespace orvo
