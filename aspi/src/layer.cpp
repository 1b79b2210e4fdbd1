// The request dispatcher behind SendASPI32Command: requests are copied at
// submission, executed one at a time by the backend into private buffers, and
// written back into the caller's block only while the block still belongs to
// the layer. A request is executed on the layer's own thread, or on the
// submitting thread itself when nothing else is in progress and the backend
// promises the answer within kAnswerHereMs: a scanner polled while no
// document comes then costs one thread's wake-ups, not three.
#include "orvo/aspi/layer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "orvo/platform/dirs.h"
#include "orvo/platform/event.h"
#include "sg_backend.h"
#include "wnaspi32.h"

namespace orvo::aspi {

namespace {

// Largest data transfer accepted in one request.
constexpr uint32_t kMaxTransfer = 64u * 1024u * 1024u;

// Longest promised answer that is awaited on the submitting thread: that
// thread is then away for no longer than this, whatever it waits for.
constexpr uint32_t kAnswerHereMs = 20;

void StoreStatus(uint8_t* field, uint8_t value) {
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
}

struct Job {
    SRB_ExecSCSICmd* srb = nullptr;
    Request request;
    int event = -1;          // our duplicate of the caller's event, or -1
    bool withdrawn = false;  // the block is no longer ours
    bool abandoned = false;  // the device never answers; only an abort ends it
};

class Layer {
  public:
    uint32_t supportInfo() {
        std::lock_guard lock(mutex_);
        chooseLocked();
        return supportInfo_;
    }

    std::string backendName() {
        std::lock_guard lock(mutex_);
        chooseLocked();
        return backend_ ? backend_->name() : std::string();
    }

    uint32_t execute(SRB_ExecSCSICmd* srb);
    uint32_t abort(SRB_Abort* srb);
    uint32_t lockDevice(uint8_t ha, uint8_t target, uint8_t lun, std::string* holder);
    uint32_t unlockDevice(uint8_t ha, uint8_t target, uint8_t lun);
    void useBackend(std::unique_ptr<Backend> backend);

  private:
    void chooseLocked();
    void installLocked(std::unique_ptr<Backend> backend);
    void withdrawLocked(SRB_ExecSCSICmd* srb);
    void finishAllPendingLocked();
    Reply executeUnlocked(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Job>& job);
    bool finishLocked(Job& job, const Reply& reply);
    uint32_t executeHere(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Job>& job,
                         int callerEvent);
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;  // the dispatcher: work arrived, or the backend is free
    std::condition_variable idle_;  // a backend call has returned
    bool chosen_ = false;
    bool replacing_ = false;
    std::unique_ptr<Backend> backend_;
    uint32_t supportInfo_ = static_cast<uint32_t>(SS_FAILED_INIT) << 8;
    std::deque<std::shared_ptr<Job>> queue_;
    std::unordered_map<SRB_ExecSCSICmd*, std::shared_ptr<Job>> pending_;
    std::shared_ptr<Job> running_;
    bool threadStarted_ = false;
};

// True when `fd` is an open eventfd. Anything else (a file, a socket) is never
// written to: signalling it would put bytes into someone's data.
bool IsEventDescriptor(int fd) {
    if (fd < 0) return false;
    char link[64];
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    if (n >= 0) return std::string(link, static_cast<std::size_t>(n)) == "anon_inode:[eventfd]";
    // No such descriptor, or no /proc to ask: then the caller is trusted
    // with an open one.
    if (fcntl(fd, F_GETFD) < 0) return false;
    return access("/proc/self/fd", F_OK) != 0;
}

// Runs one request on the backend; a backend that throws is a failed request.
Reply CallBackend(Backend* backend, const Request& request) {
    Reply reply;
    if (backend == nullptr) {
        reply.srbStatus = SS_INVALID_HA;
        return reply;
    }
    try {
        return backend->execute(request);
    } catch (...) {
        reply = Reply{};
        reply.srbStatus = SS_ERR;
        reply.haStat = HASTAT_PHASE_ERR;
        return reply;
    }
}

// True when the two descriptors lead to one open file; false also where the
// kernel cannot tell (`*unknown` is then set).
bool SameOpenFile(int a, int b, bool* unknown) {
    const pid_t self = getpid();
    const long r = syscall(SYS_kcmp, self, self, KCMP_FILE, a, b);
    if (r < 0 && errno != EBADF) *unknown = true;
    return r == 0;
}

// IsEventDescriptor for every request, without a look-up in /proc for the
// event a caller gives again and again: the last event found good is kept
// open through a duplicate of our own, so no other file can ever be the same
// open file as that duplicate.
class EventCheck {
  public:
    bool isEvent(int fd) {
        if (fd < 0) return false;
        std::lock_guard lock(mutex_);
        if (kept_ >= 0 && comparable_ && SameOpenFile(fd, kept_, &unknown_)) return true;
        if (unknown_) comparable_ = false;
        if (!IsEventDescriptor(fd)) return false;
        if (!comparable_) return true;
        const int copy = dup(fd);
        if (copy >= 0) {
            fcntl(copy, F_SETFD, FD_CLOEXEC);
            if (kept_ >= 0) close(kept_);
            kept_ = copy;
        }
        return true;
    }

    // Lets the kept duplicate go.
    void forget() {
        std::lock_guard lock(mutex_);
        if (kept_ >= 0) close(kept_);
        kept_ = -1;
    }

  private:
    std::mutex mutex_;
    int kept_ = -1;
    bool comparable_ = true;  // false where kcmp is not allowed
    bool unknown_ = false;
};

EventCheck& TheEventCheck() {
    static EventCheck* check = new EventCheck;  // never destroyed, like the layer
    return *check;
}

// Signals and closes our duplicate of a caller's event.
void SignalAndClose(int event) {
    if (event < 0) return;
    platform::SetEvent(event);
    close(event);
}

// The virtual scanner lives in liborvosim.so beside this library and is loaded
// only when it is chosen, so a workstation with a real scanner loads none of
// it (nor the image and scenario libraries it links). It is never unloaded:
// its device outlives the backend object.
std::unique_ptr<Backend> LoadVirtualScanner() {
    const std::string dir =
        platform::ObjectDirOf(reinterpret_cast<const void*>(&SendASPI32Command));
    const std::string path = dir + kVirtualScannerLibrary;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        std::fprintf(stderr, "wnaspi32: the virtual scanner cannot be loaded: %s\n", dlerror());
        return nullptr;
    }
    const auto make = reinterpret_cast<NewBackendFunction>(dlsym(library, kVirtualScannerEntry));
    if (make == nullptr) {
        std::fprintf(stderr, "wnaspi32: %s does not offer %s\n", path.c_str(),
                     kVirtualScannerEntry);
        return nullptr;
    }
    return std::unique_ptr<Backend>(make());
}

void Layer::chooseLocked() {
    if (chosen_) return;
    chosen_ = true;
    const char* env = std::getenv("ORVOSCAN_ASPI");
    const std::string choice = env != nullptr ? env : "";
    std::unique_ptr<Backend> backend;
    if (choice.empty() || choice == "sg") {
        backend = detail::MakeSgBackend();
    } else if (choice == "sim") {
        backend = LoadVirtualScanner();
    } else {
        std::fprintf(stderr,
                     "wnaspi32: unknown ASPI backend \"%s\" in ORVOSCAN_ASPI (use sg or sim)\n",
                     choice.c_str());
    }
    installLocked(std::move(backend));
}

void Layer::installLocked(std::unique_ptr<Backend> backend) {
    backend_ = std::move(backend);
    supportInfo_ = backend_ ? backend_->supportInfo() : static_cast<uint32_t>(SS_FAILED_INIT) << 8;
}

void Layer::withdrawLocked(SRB_ExecSCSICmd* srb) {
    auto found = pending_.find(srb);
    if (found == pending_.end()) return;
    std::shared_ptr<Job> job = found->second;
    pending_.erase(found);
    job->withdrawn = true;
    if (job->event >= 0) {
        close(job->event);
        job->event = -1;
    }
    queue_.erase(std::remove(queue_.begin(), queue_.end(), job), queue_.end());
}

// Ends every request not being executed right now with SS_ABORTED.
void Layer::finishAllPendingLocked() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        std::shared_ptr<Job> job = it->second;
        if (job == running_) {
            ++it;
            continue;
        }
        it = pending_.erase(it);
        job->withdrawn = true;
        job->srb->SRB_HaStat = HASTAT_OK;
        job->srb->SRB_TargStat = STATUS_GOOD;
        StoreStatus(&job->srb->SRB_Status, SS_ABORTED);
        SignalAndClose(job->event);
        job->event = -1;
    }
    queue_.clear();
}

uint32_t Layer::execute(SRB_ExecSCSICmd* srb) {
    // Everything is read from the caller's block now; the backend works on copies.
    Request request;
    request.adapter = srb->SRB_HaId;
    request.target = srb->SRB_Target;
    request.lun = srb->SRB_Lun;
    const bool wantsIn = (srb->SRB_Flags & SRB_DIR_IN) != 0;
    const bool wantsOut = (srb->SRB_Flags & SRB_DIR_OUT) != 0;
    request.direction = wantsIn ? Direction::In : wantsOut ? Direction::Out : Direction::None;
    request.transferLength = request.direction == Direction::None ? 0 : srb->SRB_BufLen;
    const bool notify = (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0 && srb->SRB_PostProc != nullptr;
    int callerEvent = notify ? ORVO_ASPI_EVENT_FD(srb->SRB_PostProc) : -1;

    uint8_t immediate = SS_PENDING;
    if (callerEvent >= 0 && !TheEventCheck().isEvent(callerEvent)) {
        immediate = SS_INVALID_SRB;
        callerEvent = -1;
    }
    if (wantsIn && wantsOut) immediate = SS_INVALID_SRB;
    if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte) immediate = SS_INVALID_SRB;
    if (request.transferLength > kMaxTransfer) immediate = SS_INVALID_SRB;
    if (request.transferLength > 0 && srb->SRB_BufPointer == nullptr) immediate = SS_INVALID_SRB;

    if (immediate == SS_PENDING) {
        request.cdbLength = srb->SRB_CDBLen;
        std::memcpy(request.cdb.data(), srb->CDBByte, request.cdbLength);
        if (request.direction == Direction::Out && request.transferLength > 0) {
            request.dataOut.assign(srb->SRB_BufPointer,
                                   srb->SRB_BufPointer + request.transferLength);
        }
    }

    std::unique_lock lock(mutex_);
    chooseLocked();
    withdrawLocked(srb);
    if (immediate == SS_PENDING && request.adapter >= (supportInfo_ & 0xFF)) {
        immediate = SS_INVALID_HA;
    }
    const bool answerHere = immediate == SS_PENDING && !replacing_ && running_ == nullptr &&
                            queue_.empty() && backend_ != nullptr &&
                            backend_->answerBoundMs(request) <= kAnswerHereMs;
    int event = -1;
    if (immediate == SS_PENDING && !answerHere && callerEvent >= 0) {
        // The dispatcher signals a duplicate, valid whatever the caller does
        // with its own event. Plain dup() so that thread checkers see the two
        // descriptors as one event.
        event = dup(callerEvent);
        if (event < 0) {
            immediate = SS_INVALID_SRB;
        } else {
            fcntl(event, F_SETFD, FD_CLOEXEC);
        }
    }
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = STATUS_GOOD;
    if (immediate != SS_PENDING) {
        if (event >= 0) close(event);
        StoreStatus(&srb->SRB_Status, immediate);
        lock.unlock();
        // The caller's own event is still open during this call.
        if (callerEvent >= 0) platform::SetEvent(callerEvent);
        return immediate;
    }

    auto job = std::make_shared<Job>();
    job->srb = srb;
    job->request = std::move(request);
    job->event = event;
    StoreStatus(&srb->SRB_Status, SS_PENDING);
    pending_[srb] = job;
    if (answerHere) return executeHere(lock, job, callerEvent);
    queue_.push_back(job);
    if (!threadStarted_) {
        threadStarted_ = true;
        // The layer lives as long as the process; so does its thread.
        std::thread([this] { run(); }).detach();
    }
    wake_.notify_one();
    return SS_PENDING;
}

uint32_t Layer::abort(SRB_Abort* srb) {
    auto* target = static_cast<SRB_ExecSCSICmd*>(srb->SRB_ToAbort);
    std::lock_guard lock(mutex_);
    auto found = target != nullptr ? pending_.find(target) : pending_.end();
    if (found == pending_.end()) {
        StoreStatus(&srb->SRB_Status, SS_ABORT_FAIL);
        return SS_ABORT_FAIL;
    }
    withdrawLocked(target);
    StoreStatus(&target->SRB_Status, SS_ABORTED);
    StoreStatus(&srb->SRB_Status, SS_COMP);
    return SS_COMP;
}

uint32_t Layer::lockDevice(uint8_t ha, uint8_t target, uint8_t lun, std::string* holder) {
    std::lock_guard lock(mutex_);
    chooseLocked();
    if (!backend_) return SS_FAILED_INIT;
    if (ha >= (supportInfo_ & 0xFF)) return SS_NO_DEVICE;
    switch (backend_->lockDevice(ha, target, lun, holder)) {
        case DeviceLock::Held:
            return SS_COMP;
        case DeviceLock::Busy:
            return SS_ERR;
        case DeviceLock::NoDevice:
            return SS_NO_DEVICE;
    }
    return SS_ERR;
}

uint32_t Layer::unlockDevice(uint8_t ha, uint8_t target, uint8_t lun) {
    std::lock_guard lock(mutex_);
    if (!backend_) return SS_FAILED_INIT;
    backend_->unlockDevice(ha, target, lun);
    return SS_COMP;
}

void Layer::useBackend(std::unique_ptr<Backend> backend) {
    std::unique_ptr<Backend> old;
    {
        std::unique_lock lock(mutex_);
        replacing_ = true;
        finishAllPendingLocked();
        idle_.wait(lock, [this] { return running_ == nullptr; });
        old = std::move(backend_);
        if (backend) {
            chosen_ = true;
            installLocked(std::move(backend));
        } else {
            chosen_ = false;
            installLocked(nullptr);
        }
        replacing_ = false;
        wake_.notify_one();
    }
    // The old backend goes outside the lock: closing devices may take a while.
    // The layer starts afresh, without a duplicate of an earlier event.
    TheEventCheck().forget();
}

void Layer::run() {
    // Signals go to the caller's threads: an interrupted device request could
    // neither be repeated safely nor be taken back.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !replacing_ && !queue_.empty() && running_ == nullptr; });
        std::shared_ptr<Job> job = queue_.front();
        queue_.pop_front();
        const Reply reply = executeUnlocked(lock, job);
        if (!finishLocked(*job, reply)) continue;
        const int event = job->event;
        job->event = -1;
        // Our duplicate stays valid whatever the caller does with its own event.
        SignalAndClose(event);
    }
}

// Runs `job` on the backend with the lock released meanwhile, the job
// counting as the one in progress.
Reply Layer::executeUnlocked(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Job>& job) {
    running_ = job;
    Backend* backend = backend_.get();
    lock.unlock();
    Reply reply = CallBackend(backend, job->request);
    lock.lock();
    running_ = nullptr;
    idle_.notify_all();
    return reply;
}

// Writes the answer into the caller's block, unless the block was withdrawn
// meanwhile. False when the caller is not to be signalled: withdrawn, or a
// request the device never answers.
bool Layer::finishLocked(Job& job, const Reply& reply) {
    if (job.withdrawn) return false;
    if (!reply.completes) {
        // No answer will ever come: the block stays pending until the
        // caller aborts it or submits anew.
        job.abandoned = true;
        if (job.event >= 0) close(job.event);
        job.event = -1;
        return false;
    }
    SRB_ExecSCSICmd* srb = job.srb;
    if (job.request.direction == Direction::In && srb->SRB_BufPointer != nullptr) {
        const std::size_t n = std::min<std::size_t>(
            {reply.dataIn.size(), srb->SRB_BufLen, job.request.transferLength});
        if (n > 0) std::memcpy(srb->SRB_BufPointer, reply.dataIn.data(), n);
    }
    if (reply.targStat == STATUS_CHKCOND) {
        const std::size_t n = std::min<std::size_t>(
            {reply.sense.size(), srb->SRB_SenseLen, std::size_t{ORVO_ASPI_SENSE_LEN}});
        if (n > 0) std::memcpy(srb->SenseArea, reply.sense.data(), n);
    }
    srb->SRB_HaStat = reply.haStat;
    srb->SRB_TargStat = reply.targStat;
    // A backend must not leave a finished request looking pending.
    StoreStatus(&srb->SRB_Status, reply.srbStatus == SS_PENDING ? SS_ERR : reply.srbStatus);
    pending_.erase(srb);
    return true;
}

// Executes a request on the submitting thread. The block is registered as
// pending like any other, so an abort from another thread still withdraws
// it; requests submitted meanwhile wait for the dispatcher, which starts
// them once this one is done. Returns the request's final status, SS_ABORTED
// when it was withdrawn meanwhile, or SS_PENDING for a request the device
// never answers.
uint32_t Layer::executeHere(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Job>& job,
                            int callerEvent) {
    const Reply reply = executeUnlocked(lock, job);
    if (!queue_.empty()) wake_.notify_one();
    const bool answered = finishLocked(*job, reply);
    // A block withdrawn meanwhile may be gone already: it is not read.
    const uint8_t status = answered ? __atomic_load_n(&job->srb->SRB_Status, __ATOMIC_ACQUIRE)
                           : job->withdrawn ? SS_ABORTED
                                            : SS_PENDING;
    lock.unlock();
    // The caller's own event is open during this call.
    if (answered && callerEvent >= 0) platform::SetEvent(callerEvent);
    return status;
}

Layer& TheLayer() {
    // Never destroyed: the dispatcher thread may still be inside the backend
    // when the process exits.
    static Layer* layer = new Layer;
    return *layer;
}

}  // namespace

void UseBackend(std::unique_ptr<Backend> backend) {
    TheLayer().useBackend(std::move(backend));
}

std::string BackendName() {
    return TheLayer().backendName();
}

}  // namespace orvo::aspi

extern "C" {

ASPI_API uint32_t GetASPI32SupportInfo(void) {
    try {
        return orvo::aspi::TheLayer().supportInfo();
    } catch (...) {
        return static_cast<uint32_t>(SS_FAILED_INIT) << 8;
    }
}

ASPI_API uint32_t OrvoAspiLockDevice(uint8_t ha, uint8_t target, uint8_t lun, char* holder,
                                     uint32_t holderSize) {
    try {
        std::string who;
        const uint32_t status = orvo::aspi::TheLayer().lockDevice(ha, target, lun, &who);
        if (holder != nullptr && holderSize > 0) {
            const std::size_t n = std::min<std::size_t>(who.size(), holderSize - 1);
            std::memcpy(holder, who.data(), n);
            holder[n] = '\0';
        }
        return status;
    } catch (...) {
        return SS_ERR;
    }
}

ASPI_API uint32_t OrvoAspiUnlockDevice(uint8_t ha, uint8_t target, uint8_t lun) {
    try {
        return orvo::aspi::TheLayer().unlockDevice(ha, target, lun);
    } catch (...) {
        return SS_ERR;
    }
}

ASPI_API uint32_t SendASPI32Command(void* srb) {
    if (srb == nullptr) return SS_INVALID_SRB;
    auto* header = static_cast<uint8_t*>(srb);
    try {
        switch (header[0]) {
            case SC_EXEC_SCSI_CMD:
                return orvo::aspi::TheLayer().execute(static_cast<SRB_ExecSCSICmd*>(srb));
            case SC_ABORT_SRB:
                return orvo::aspi::TheLayer().abort(static_cast<SRB_Abort*>(srb));
            default:
                __atomic_store_n(&header[1], static_cast<uint8_t>(SS_INVALID_CMD),
                                 __ATOMIC_RELEASE);
                return SS_INVALID_CMD;
        }
    } catch (...) {
        return SS_ERR;
    }
}

}  // extern "C"
