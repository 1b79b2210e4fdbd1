// The Linux SCSI generic driver emulated in user space, for tests (never
// installed). Preloaded (LD_PRELOAD), this library takes over open, close and
// ioctl(SG_IO) for the device nodes of a fake tree (orvo/sgemu/sg_tree.h)
// and answers every SG_IO with the virtual scanner's device model, reported
// in sg_io_hdr_t as the kernel's sg driver reports it. Every other file and
// request goes on to the C library untouched.
//
// The device model is the process's one virtual scanner (orvo::sim::TheScanner),
// which takes ORVOSCAN_SIM_SCENARIO and ORVOSCAN_SIM_RECORD_DIR as for the sim
// backend: a test in the same process sets and inspects it as it does there.
#include <dlfcn.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "orvo/sgemu/sg_tree.h"
#include "orvo/sim/aspi_backend.h"
#include "orvo/sim/scanner.h"
#include "wnaspi32.h"

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, ...);

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
OpenFunction RealOpen() {
    static const auto function = Next<OpenFunction>("open");
    return function;
}
OpenFunction RealOpen64() {
    static const auto function = Next<OpenFunction>("open64");
    return function;
}
CloseFunction RealClose() {
    static const auto function = Next<CloseFunction>("close");
    return function;
}
IoctlFunction RealIoctl() {
    static const auto function = Next<IoctlFunction>("ioctl");
    return function;
}

// Host status codes of the SCSI midlayer, driver status flag for sense data.
constexpr uint16_t kDidOk = 0x00;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidBusBusy = 0x02;
constexpr uint16_t kDidTimeOut = 0x03;
constexpr uint16_t kDidBadTarget = 0x04;
constexpr uint16_t kDidError = 0x07;
constexpr uint16_t kDriverSense = 0x08;
// SG_IO with a time-out of 0 waits this long.
constexpr unsigned kDefaultTimeoutMs = 60000;

struct Device {
    uint8_t adapter = 0, target = 0, lun = 0;
};

// The open descriptors of emulated nodes. Thread-safe: the ASPI layer's
// dispatcher issues SG_IO while other threads open and close files.
class Nodes {
  public:
    void opened(int fd, const char* path) {
        const std::optional<Device> device = DeviceOfNode(path);
        if (!device) return;
        // The device model takes the environment, as the sim backend does,
        // when the first node is opened.
        std::call_once(scenarioTaken_, [] { orvo::sim::MakeAspiBackend(); });
        std::lock_guard lock(mutex_);
        open_[fd] = *device;
    }
    void closing(int fd) {
        std::lock_guard lock(mutex_);
        open_.erase(fd);
    }
    std::optional<Device> find(int fd) {
        std::lock_guard lock(mutex_);
        const auto found = open_.find(fd);
        if (found == open_.end()) return std::nullopt;
        return found->second;
    }

  private:
    // The device behind a node of a fake tree: a file ".../dev/sgN" that
    // names its SCSI address on a host of one of the adapters.
    static std::optional<Device> DeviceOfNode(const char* path) {
        const std::string p = path;
        const std::size_t slash = p.rfind("/dev/sg");
        if (slash == std::string::npos || slash + 7 == p.size() ||
            p.find_first_not_of("0123456789", slash + 7) != std::string::npos) {
            return std::nullopt;
        }
        const int fd = RealOpen()(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        char text[128];
        const ssize_t n = read(fd, text, sizeof text);
        RealClose()(fd);
        if (n <= 0) return std::nullopt;
        const auto address =
            orvo::sgemu::ParseNodeText(std::string(text, static_cast<std::size_t>(n)));
        if (!address) return std::nullopt;
        const auto adapter = orvo::sgemu::AdapterOfHost(address->host);
        if (!adapter || *adapter > 255 || address->target > 255 || address->lun > 255) {
            return std::nullopt;
        }
        return Device{static_cast<uint8_t>(*adapter), static_cast<uint8_t>(address->target),
                      static_cast<uint8_t>(address->lun)};
    }

    std::once_flag scenarioTaken_;
    std::mutex mutex_;
    std::unordered_map<int, Device> open_;
};

Nodes& TheNodes() {
    static auto* nodes = new Nodes;  // never destroyed: descriptors outlive statics
    return *nodes;
}

int Failed(int error) {
    errno = error;
    return -1;
}

uint16_t HostStatus(const orvo::aspi::Reply& reply) {
    switch (reply.haStat) {
        case HASTAT_OK:
            // An error with neither host nor target status: the kernel has
            // no other way to say so.
            return reply.srbStatus == SS_COMP || reply.targStat != STATUS_GOOD ? kDidOk : kDidError;
        case HASTAT_SEL_TO:
            return kDidNoConnect;
        case HASTAT_TIMEOUT:
        case HASTAT_COMMAND_TIMEOUT:
            return kDidTimeOut;
        case HASTAT_BUS_FREE:
            return kDidBusBusy;
        default:
            return kDidError;
    }
}

// One SG_IO on `device`, as the sg driver carries it out: the header is
// checked, the command goes to the device, and the outcome comes back in the
// header's status fields; the call itself fails only for a header it cannot
// take.
int SgIo(const Device& device, sg_io_hdr_t* h) {
    if (h == nullptr) return Failed(EFAULT);
    if (h->interface_id != 'S') return Failed(ENOSYS);
    if (h->cmdp == nullptr || h->cmd_len < 6 || h->cmd_len > 16) return Failed(EMSGSIZE);
    if (h->iovec_count != 0) return Failed(EINVAL);  // scattered buffers: not emulated
    if (h->mx_sb_len > 0 && h->sbp == nullptr) return Failed(EFAULT);

    orvo::aspi::Request request;
    request.adapter = device.adapter;
    request.target = device.target;
    request.lun = device.lun;
    request.cdbLength = h->cmd_len;
    std::memcpy(request.cdb.data(), h->cmdp, h->cmd_len);
    auto* data = static_cast<uint8_t*>(h->dxferp);
    switch (h->dxfer_direction) {
        case SG_DXFER_NONE:
            break;
        case SG_DXFER_FROM_DEV:
        case SG_DXFER_TO_FROM_DEV:
            request.direction = orvo::aspi::Direction::In;
            break;
        case SG_DXFER_TO_DEV:
            request.direction = orvo::aspi::Direction::Out;
            break;
        default:
            return Failed(EINVAL);
    }
    if (request.direction != orvo::aspi::Direction::None) {
        if (h->dxfer_len > 0 && data == nullptr) return Failed(EFAULT);
        request.transferLength = h->dxfer_len;
        if (request.direction == orvo::aspi::Direction::Out) {
            request.dataOut.assign(data, data + h->dxfer_len);
        }
    }

    const unsigned timeoutMs = h->timeout != 0 ? h->timeout : kDefaultTimeoutMs;
    const auto start = std::chrono::steady_clock::now();
    const orvo::aspi::Reply reply = orvo::sim::TheScanner().Execute(request);
    auto elapsed = std::chrono::steady_clock::now() - start;

    h->status = 0;
    h->masked_status = 0;
    h->msg_status = 0;
    h->host_status = kDidOk;
    h->driver_status = 0;
    h->sb_len_wr = 0;
    h->resid = static_cast<int>(request.transferLength);
    if (!reply.completes || elapsed >= std::chrono::milliseconds(timeoutMs)) {
        // No answer within the request's time-out: the midlayer aborts the
        // command and reports a command time-out, without data or sense.
        std::this_thread::sleep_until(start + std::chrono::milliseconds(timeoutMs));
        elapsed = std::chrono::steady_clock::now() - start;
        h->host_status = kDidTimeOut;
    } else if (reply.srbStatus == SS_INVALID_HA) {
        h->host_status = kDidBadTarget;
    } else {
        h->host_status = HostStatus(reply);
        h->status = reply.targStat;
        h->masked_status = static_cast<uint8_t>((reply.targStat >> 1) & 0x7F);
        if (request.direction == orvo::aspi::Direction::In) {
            const std::size_t n = std::min<std::size_t>(reply.dataIn.size(), h->dxfer_len);
            std::copy_n(reply.dataIn.begin(), n, data);
            // What a short transfer leaves in the rest of the buffer is not
            // promised: the host has to go by resid.
            std::fill(data + n, data + h->dxfer_len, uint8_t{0xA5});
            h->resid = static_cast<int>(h->dxfer_len - n);
        } else {
            h->resid = 0;
        }
        if (reply.targStat == STATUS_CHKCOND && !reply.sense.empty()) {
            const std::size_t n = std::min<std::size_t>(reply.sense.size(), h->mx_sb_len);
            std::copy_n(reply.sense.begin(), n, h->sbp);
            h->sb_len_wr = static_cast<unsigned char>(n);
            h->driver_status = kDriverSense;
        }
    }
    h->duration = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    const bool clean = h->status == 0 && h->host_status == kDidOk && h->driver_status == 0;
    h->info = clean ? SG_INFO_OK : SG_INFO_CHECK;
    return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    const int fd = RealOpen()(path, flags, mode);
    if (fd >= 0) TheNodes().opened(fd, path);
    return fd;
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    const int fd = RealOpen64()(path, flags, mode);
    if (fd >= 0) TheNodes().opened(fd, path);
    return fd;
}

__attribute__((visibility("default"))) int close(int fd) {
    TheNodes().closing(fd);
    return RealClose()(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == SG_IO) {
        if (const std::optional<Device> device = TheNodes().find(fd)) {
            return SgIo(*device, static_cast<sg_io_hdr_t*>(argument));
        }
    }
    return RealIoctl()(fd, request, argument);
}

}  // extern "C"
