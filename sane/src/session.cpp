#include "orvo/sane/session.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "orvo/platform/profile.h"
#include "orvo/sane/log.h"
#include "orvo/sane/status.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/micr_record.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"

namespace orvo::sane {

Session::Session(scanrun::Driver& driver, PrivateSettings& privateSettings,
                 std::string realSettingsFile, std::vector<std::string> profiles,
                 const std::string& initialProfile)
    : driver_(driver),
      options_(std::move(profiles), initialProfile,
               [file = realSettingsFile](const std::string& profile) {
                   return LoadProfile(file, profile);
               }),
      private_(privateSettings),
      realSettingsFile_(std::move(realSettingsFile)) {
    cancelEvent_ = eventfd(0, EFD_CLOEXEC);
    if (cancelEvent_ < 0) {
        Log(kLogError, "cannot create the stop event: %s", std::strerror(errno));
        return;
    }
    try {
        canceller_ = std::thread([this] { CancellerLoop(); });
    } catch (const std::system_error& e) {
        Log(kLogError, "cannot start the stop thread: %s", e.what());
    }
}

Session::~Session() {
    SettleCancel();
    EndBatch();
    if (canceller_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        const uint64_t one = 1;
        while (write(cancelEvent_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        canceller_.join();
    }
    if (cancelEvent_ >= 0) close(cancelEvent_);
    std::remove(private_.PageFile().c_str());
}

void Session::Cancel() {
    // Only what a signal handler may do: an atomic count and a write().
    cancelRequests_.fetch_add(1, std::memory_order_release);
    const uint64_t one = 1;
    const int saved = errno;
    while (write(cancelEvent_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    errno = saved;
}

void Session::CancellerLoop() {
    for (;;) {
        uint64_t count = 0;
        const ssize_t n = read(cancelEvent_, &count, sizeof count);
        if (n < 0 && errno == EINTR) continue;
        const uint64_t requests = cancelRequests_.load(std::memory_order_acquire);
        std::lock_guard lock(mutex_);
        if (stopping_ || n < 0) {
            if (n < 0) Log(kLogError, "the stop event failed: %s", std::strerror(errno));
            // Nobody waits for this thread any more.
            cancellerDone_ = true;
            served_.notify_all();
            return;
        }
        if (batchRunning_ && framePending_.load()) {
            Log(kLogStep, "cancel: ending the batch");
            driver_.EndBatch();
            batchRunning_ = false;
            batchEndedByStop_ = true;
        } else if (batchRunning_) {
            Log(kLogStep, "cancel after a whole frame: the stack goes on at the next start");
        }
        cancelsServed_ = std::max(cancelsServed_, requests);
        served_.notify_all();
    }
}

// Whether the frontend asked for a stop since the last look; waits until the
// stop thread has served it (the batch is then over) and drops the page.
bool Session::SettleCancel() {
    const uint64_t requests = cancelRequests_.load(std::memory_order_acquire);
    if (requests == cancelsSeen_) return false;
    if (canceller_.joinable()) {
        std::unique_lock lock(mutex_);
        served_.wait(lock, [&] { return cancelsServed_ >= requests || cancellerDone_; });
        // Without the stop thread the batch is ended here; one the stop
        // thread ended is freed by this thread, which took its pages.
        if ((cancellerDone_ && batchRunning_) || batchEndedByStop_) {
            driver_.EndBatch();
            batchRunning_ = false;
            batchEndedByStop_ = false;
        }
    }
    cancelsSeen_ = requests;
    frame_ = Frame{};
    readAt_ = 0;
    page_ = Page::Cancelled;
    return true;
}

bool Session::BatchRunning() {
    std::lock_guard lock(mutex_);
    return batchRunning_;
}

void Session::EndBatch() {
    std::lock_guard lock(mutex_);
    if (!batchRunning_) return;
    driver_.EndBatch();
    batchRunning_ = false;
}

const SANE_Option_Descriptor* Session::Descriptor(SANE_Int index) const {
    return options_.Descriptor(index);
}

SANE_Status Session::Control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info) {
    if (info != nullptr) *info = 0;
    SettleCancel();
    if (action != SANE_ACTION_GET_VALUE && BatchRunning()) {
        // The running batch scans with the values it started with; frontends
        // that set every option before each page set the same values.
        if (action == SANE_ACTION_SET_VALUE && HasValue(index, value)) return SANE_STATUS_GOOD;
        Log(kLogWarning,
            "option %d not changed: a stack is being scanned (scan it to its end, or cancel "
            "while a page is pending)",
            index);
        return SANE_STATUS_DEVICE_BUSY;
    }
    const SANE_Status status = options_.Control(index, action, value, info);
    if (status == SANE_STATUS_GOOD && action != SANE_ACTION_GET_VALUE) page_ = Page::None;
    return status;
}

// Whether `value` is what the option holds.
bool Session::HasValue(SANE_Int index, const void* value) {
    const SANE_Option_Descriptor* d = options_.Descriptor(index);
    if (d == nullptr || value == nullptr || d->size <= 0) return false;
    std::vector<char> current(static_cast<std::size_t>(d->size) + 1, '\0');
    if (options_.Control(index, SANE_ACTION_GET_VALUE, current.data(), nullptr) !=
        SANE_STATUS_GOOD) {
        return false;
    }
    if (d->type == SANE_TYPE_STRING) {
        return std::strncmp(current.data(), static_cast<const char*>(value),
                            static_cast<std::size_t>(d->size)) == 0;
    }
    return std::memcmp(current.data(), value, sizeof(SANE_Word)) == 0;
}

SANE_Status Session::GetParameters(SANE_Parameters* params) {
    if (params == nullptr) return SANE_STATUS_INVAL;
    SettleCancel();
    if (page_ == Page::Reading || page_ == Page::Done) {
        *params = SANE_Parameters{};
        params->format = SANE_FRAME_GRAY;
        params->last_frame = SANE_TRUE;
        params->depth = frame_.depth;
        params->pixels_per_line = frame_.pixelsPerLine;
        params->bytes_per_line = frame_.bytesPerLine;
        params->lines = frame_.lines;
    } else {
        *params = options_.Parameters();
    }
    return SANE_STATUS_GOOD;
}

SANE_Status Session::Start() {
    // A stop asked for before this call ended what ran then, not this start.
    SettleCancel();
    frame_ = Frame{};
    readAt_ = 0;
    page_ = Page::None;
    {
        std::lock_guard lock(mutex_);
        framePending_ = true;
        if (!batchRunning_) {
            std::string error;
            if (!private_.Prepare(realSettingsFile_, options_.profile(), options_.settings(),
                                  &error)) {
                Log(kLogError, "%s", error.c_str());
                return SANE_STATUS_IO_ERROR;
            }
            // The profile as the operator's file holds it, and the page file's
            // name, are judged as orvoscan and orvo_viewer judge them.
            std::string refused =
                scanrun::RefusedProfileValue(realSettingsFile_, options_.profile());
            if (refused.empty()) refused = scanrun::PagePathProblem(private_.PageFile());
            if (!refused.empty()) {
                Log(kLogError, "settings error: %s", refused.c_str());
                return SANE_STATUS_INVAL;
            }
            Log(kLogStep, "starting a batch with profile %s", options_.profile().c_str());
            const int result = driver_.StartBatch(options_.profile().c_str());
            if (result != ORVOSCAN_OK) {
                Log(kLogError, "the batch did not start (%d): %s", result,
                    scanrun::DriverErrorText(result, 0).c_str());
                return StatusFor(result, 0);
            }
            batchRunning_ = true;
            crop_ = options_.Crop();
            pageIndex_ = 0;
            twoSided_ = options_.settings().side != 0;
            // The driver takes MICR lines only while MicrDetect is on.
            micrRead_ = platform::ProfileInt("Misc", "MicrDetect", 0, private_.SettingsFile()) != 0;
            options_.SetMicr("");
        }
    }
    return TakePage();
}

// Waits for the next side of the batch and loads it whole.
//
// The side comes as the page file the driver writes (uncompressed, in this
// process's private directory, removed at once), not as the driver's
// in-memory page (OrvoScan_GetOneImageBufPtr): that call leaves the MICR text
// of the cheque untouched, hands pages of resolution code 1 over without
// their widening and sizes uncompressed pages by ScanLines1 rather than by
// what was scanned, so a frontend would get other pages, and no MICR line,
// than orvoscan and orvo_viewer store for the same cheque.
SANE_Status Session::TakePage() {
    const std::string path = private_.PageFile();
    std::remove(path.c_str());
    int height = 0;
    const int result = driver_.GetOneImage(path.c_str(), &height);
    // A cancel that left the batch running came before this start.
    if (SettleCancel() && !BatchRunning()) {
        std::remove(path.c_str());
        Log(kLogStep, "cancelled while waiting for a page");
        return SANE_STATUS_CANCELLED;
    }
    if (result != ORVOSCAN_OK) {
        const uint32_t deviceError = driver_.GetDeviceError();
        EndBatch();
        const SANE_Status status = StatusFor(result, deviceError);
        if (result == ORVOSCAN_NO_PAGE) {
            Log(kLogStep, "the batch is over after %d pages", pageIndex_);
        } else {
            Log(kLogError, "the batch ended (%d, device error 0x%08X): %s", result, deviceError,
                scanrun::DriverErrorText(result, deviceError).c_str());
        }
        return status;
    }
    const bool front = !twoSided_ || pageIndex_ % 2 == 0;
    ++pageIndex_;
    if (front && micrRead_) {
        const scanrun::MicrLine line =
            scanrun::TakeMicr(driver_.MicrDataBufPtr(), driver_.MicrDataSize());
        options_.SetMicr((line.error ? "1" : "0") + line.text);
    } else if (front) {
        options_.SetMicr("");
    }
    std::string error;
    Frame frame;
    const bool read = ReadPageFile(path, &frame, &error);
    std::remove(path.c_str());
    if (!read) {
        Log(kLogError, "page %d: %s", pageIndex_, error.c_str());
        EndBatch();
        return SANE_STATUS_IO_ERROR;
    }
    if (crop_.longestRows > 0) {
        const int rows = frame.lines;
        if (EndFrameAt(&frame, crop_.longestRows)) {
            Log(kLogWarning,
                "page %d: the document is longer than the page height: ended after %d of its "
                "%d rows",
                pageIndex_, crop_.longestRows, rows);
        }
    }
    CropFrame(&frame, crop_.leftPixels, crop_.topRows);
    options_.SetRear(!front);
    Log(kLogStep, "page %d (%s): %d x %d, depth %d", pageIndex_, front ? "front" : "rear",
        frame.pixelsPerLine, frame.lines, frame.depth);
    frame_ = std::move(frame);
    readAt_ = 0;
    page_ = Page::Reading;
    return SANE_STATUS_GOOD;
}

SANE_Status Session::Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
    if (length != nullptr) *length = 0;
    if (data == nullptr || length == nullptr || maxLength < 0) return SANE_STATUS_INVAL;
    if (SettleCancel() || page_ == Page::Cancelled) return SANE_STATUS_CANCELLED;
    if (page_ == Page::Done) return SANE_STATUS_EOF;
    if (page_ != Page::Reading) return SANE_STATUS_INVAL;
    const std::size_t left = frame_.data.size() - readAt_;
    if (left == 0) {
        framePending_ = false;
        page_ = Page::Done;
        return SANE_STATUS_EOF;
    }
    const std::size_t n = std::min(left, static_cast<std::size_t>(maxLength));
    std::memcpy(data, frame_.data.data() + readAt_, n);
    readAt_ += n;
    // The whole frame is the frontend's: a cancel from now on leaves the stack.
    if (readAt_ == frame_.data.size()) framePending_ = false;
    *length = static_cast<SANE_Int>(n);
    return SANE_STATUS_GOOD;
}

}  // namespace orvo::sane
