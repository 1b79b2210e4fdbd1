#include "sg_backend.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "orvo/platform/clock.h"
#include "orvo/platform/file_lock.h"
#include "sg_status.h"
#include "wnaspi32.h"

namespace orvo::aspi::detail {

namespace {

namespace fs = std::filesystem;

// Longest wait of any request is 60 s; the device gets a little more so that
// the caller's time-out comes first. Driver milliseconds: the kernel is given
// them in real time, so with ORVOSCAN_TIME_SCALE (tests) a device that never
// answers is given up as much sooner as the caller's waits end sooner. The
// margin is never under half a second of real time: a caller whose thread
// wakes late on a busy machine must still find its request unanswered, not
// see the device's time-out as an answer.
constexpr unsigned kLongestWaitMs = 60000;
constexpr unsigned kMarginMs = 5000;
constexpr unsigned kLeastMarginRealMs = 500;
constexpr unsigned kMaxSense = 255;

bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = result;
    return true;
}

bool IsSgName(const std::string& name) {
    if (name.size() < 3 || name.compare(0, 2, "sg") != 0) return false;
    return std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool ParseScsiAddress(const std::string& text, SgDevice* device) {
    uint64_t parts[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t end = i < 3 ? text.find(':', start) : text.size();
        if (end == std::string::npos) return false;
        if (!ParseNumber(text.substr(start, end - start), &parts[i])) return false;
        start = end + 1;
    }
    device->host = parts[0];
    device->channel = parts[1];
    device->target = parts[2];
    device->lun = parts[3];
    return true;
}

std::vector<SgDevice> ScanSgDevices(const std::string& sysfsRoot, const std::string& devRoot) {
    std::vector<SgDevice> devices;
    const fs::path classDir = fs::path(sysfsRoot + "/sys/class/scsi_generic");
    std::error_code ec;
    fs::directory_iterator it(classDir, ec);
    if (ec) return devices;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (!IsSgName(name)) continue;
        std::error_code linkError;
        const fs::path link = fs::read_symlink(entry.path() / "device", linkError);
        if (linkError) continue;
        SgDevice device;
        if (!ParseScsiAddress(link.filename().string(), &device)) continue;
        device.node = devRoot + "/dev/" + name;
        devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(), [](const SgDevice& a, const SgDevice& b) {
        return std::tie(a.host, a.channel, a.target, a.lun, a.node) <
               std::tie(b.host, b.channel, b.target, b.lun, b.node);
    });
    return devices;
}

SgTopology::SgTopology(std::vector<SgDevice> devices) : devices_(std::move(devices)) {
    for (const auto& device : devices_) hosts_.push_back(device.host);
    std::sort(hosts_.begin(), hosts_.end());
    hosts_.erase(std::unique(hosts_.begin(), hosts_.end()), hosts_.end());
    if (hosts_.size() > 255) hosts_.resize(255);
}

unsigned SgTopology::adapterCount() const {
    return static_cast<unsigned>(hosts_.size());
}

const SgDevice* SgTopology::find(unsigned adapter, unsigned target, unsigned lun) const {
    if (adapter >= hosts_.size()) return nullptr;
    const uint64_t host = hosts_[adapter];
    const SgDevice* best = nullptr;
    for (const auto& device : devices_) {
        if (device.host != host || device.target != target || device.lun != lun) continue;
        if (best == nullptr || device.channel < best->channel) best = &device;
    }
    return best;
}

SgBackend::SgBackend(SgTopology topology) : topology_(std::move(topology)) {}

SgBackend::~SgBackend() {
    for (auto& [node, fd] : open_) close(fd);
    for (auto& [node, fd] : locks_) close(fd);
}

DeviceLock SgBackend::lockDevice(uint8_t adapter, uint8_t target, uint8_t lun,
                                 std::string* holder) {
    const SgDevice* device = topology_.find(adapter, target, lun);
    if (device == nullptr) return DeviceLock::NoDevice;
    if (locks_.count(device->node) != 0) return DeviceLock::Held;
    // Reading is enough for a lock; the device is never waited for.
    const int fd = open(device->node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return DeviceLock::NoDevice;
    switch (platform::TryLockExclusive(fd)) {
        case platform::LockState::Held:
            locks_[device->node] = fd;
            return DeviceLock::Held;
        case platform::LockState::Busy:
            if (holder != nullptr) *holder = platform::LockHolder(fd);
            close(fd);
            return DeviceLock::Busy;
        case platform::LockState::Failed:
            break;
    }
    // A node that cannot be locked at all (no lock support): used unlocked.
    close(fd);
    return DeviceLock::Held;
}

void SgBackend::unlockDevice(uint8_t adapter, uint8_t target, uint8_t lun) {
    const SgDevice* device = topology_.find(adapter, target, lun);
    if (device == nullptr) return;
    auto found = locks_.find(device->node);
    if (found == locks_.end()) return;
    close(found->second);
    locks_.erase(found);
}

uint32_t SgBackend::supportInfo() {
    const unsigned count = topology_.adapterCount();
    if (count == 0) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
    return (static_cast<uint32_t>(SS_COMP) << 8) | count;
}

int SgBackend::openNode(const std::string& node, int* error) {
    auto found = open_.find(node);
    if (found != open_.end()) return found->second;
    // SG_IO blocks whatever O_NONBLOCK says; the flag only keeps open() from
    // waiting for another program's exclusive use. Read-only access is enough
    // for SG_IO to a scanner when write access is not granted.
    int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    open_[node] = fd;
    return fd;
}

void SgBackend::forgetNode(const std::string& node) {
    auto found = open_.find(node);
    if (found == open_.end()) return;
    close(found->second);
    open_.erase(found);
}

Reply SgBackend::execute(const Request& request) {
    Reply reply;
    const SgDevice* device = topology_.find(request.adapter, request.target, request.lun);
    if (device == nullptr) {
        reply.srbStatus = SS_ERR;
        reply.haStat = HASTAT_SEL_TO;
        return reply;
    }
    int error = 0;
    const int fd = openNode(device->node, &error);
    if (fd < 0) {
        const AspiOutcome out = OutcomeFromSgError(error);
        reply.srbStatus = out.srbStatus;
        reply.haStat = out.haStat;
        return reply;
    }

    std::vector<uint8_t> dataIn;
    std::vector<uint8_t> dataOut = request.dataOut;
    uint8_t sense[kMaxSense] = {};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = static_cast<unsigned char>(std::min<std::size_t>(request.cdbLength, 16));
    std::array<uint8_t, 16> cdb = request.cdb;
    hdr.cmdp = cdb.data();
    hdr.mx_sb_len = sizeof sense;
    hdr.sbp = sense;
    hdr.timeout = platform::RealMs(kLongestWaitMs) +
                  std::max(platform::RealMs(kMarginMs), kLeastMarginRealMs);
    hdr.dxfer_direction = SG_DXFER_NONE;
    if (request.direction == Direction::In && request.transferLength > 0) {
        dataIn.resize(request.transferLength);
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
        hdr.dxferp = dataIn.data();
        hdr.dxfer_len = static_cast<unsigned>(dataIn.size());
    } else if (request.direction == Direction::Out && !dataOut.empty()) {
        hdr.dxfer_direction = SG_DXFER_TO_DEV;
        hdr.dxferp = dataOut.data();
        hdr.dxfer_len = static_cast<unsigned>(dataOut.size());
    }

    // Not repeated on EINTR: the command may already have reached the device.
    // The dispatcher blocks signals, so this does not happen in the layer.
    if (ioctl(fd, SG_IO, &hdr) < 0) {
        const int ioError = errno;
        forgetNode(device->node);
        const AspiOutcome out = OutcomeFromSgError(ioError);
        reply.srbStatus = out.srbStatus;
        reply.haStat = out.haStat;
        return reply;
    }

    const AspiOutcome out = OutcomeFromSgStatus(hdr.host_status, hdr.driver_status, hdr.status,
                                                hdr.masked_status, hdr.sb_len_wr);
    reply.srbStatus = out.srbStatus;
    reply.haStat = out.haStat;
    reply.targStat = out.targStat;
    if (!dataIn.empty()) {
        const int resid = std::clamp(hdr.resid, 0, static_cast<int>(hdr.dxfer_len));
        dataIn.resize(hdr.dxfer_len - static_cast<unsigned>(resid));
        reply.dataIn = std::move(dataIn);
    }
    const std::size_t senseLen = std::min<std::size_t>(hdr.sb_len_wr, sizeof sense);
    reply.sense.assign(sense, sense + senseLen);
    return reply;
}

std::unique_ptr<Backend> MakeSgBackend() {
    const char* sysfs = std::getenv("ORVOSCAN_SYSFS_ROOT");
    const char* dev = std::getenv("ORVOSCAN_DEV_ROOT");
    return std::make_unique<SgBackend>(
        SgTopology(ScanSgDevices(sysfs ? sysfs : "", dev ? dev : "")));
}

}  // namespace orvo::aspi::detail
