#include "aspi_diagnostic.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "wnaspi32.h"

namespace orvoscan {
namespace {

constexpr uint8_t kInquiryLength = 36;

std::string Field(const uint8_t* bytes, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(bytes[i]);
        text += (c >= 0x20 && c < 0x7F) ? c : ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

void Drain(int fd) {
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

// Waits until the layer has finished the request (its status is no longer
// pending); false on time-out.
bool WaitDone(const SRB_ExecSCSICmd& srb, int fd, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    int left = timeoutMs;
    while (__atomic_load_n(&srb.SRB_Status, __ATOMIC_ACQUIRE) == SS_PENDING) {
        if (left <= 0) return false;
        const int slice = left < 50 ? left : 50;
        const int ready = ::poll(&pfd, 1, slice);
        if (ready > 0) Drain(fd);
        if (ready < 0 && errno != EINTR) return false;
        left -= slice;
    }
    return true;
}

bool Inquire(int adapter, int target, int eventFd, int timeoutMs, FoundDevice* found) {
    uint8_t reply[kInquiryLength] = {};
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = static_cast<uint8_t>(adapter);
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_Target = static_cast<uint8_t>(target);
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = kInquiryLength;
    srb.SRB_BufPointer = reply;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = 6;
    srb.SRB_PostProc = ORVO_ASPI_EVENT_HANDLE(eventFd);
    srb.CDBByte[0] = 0x12;
    srb.CDBByte[4] = kInquiryLength;

    Drain(eventFd);
    const uint32_t submitted = SendASPI32Command(&srb);
    if (submitted == SS_PENDING) {
        if (!WaitDone(srb, eventFd, timeoutMs)) {
            // Withdraw the request; afterwards the layer no longer touches
            // the block or the reply buffer.
            SRB_Abort abort;
            std::memset(&abort, 0, sizeof abort);
            abort.SRB_Cmd = SC_ABORT_SRB;
            abort.SRB_HaId = static_cast<uint8_t>(adapter);
            abort.SRB_ToAbort = &srb;
            SendASPI32Command(&abort);
            return false;
        }
    }
    const uint8_t status = __atomic_load_n(&srb.SRB_Status, __ATOMIC_ACQUIRE);
    if (status != SS_COMP || srb.SRB_TargStat != STATUS_GOOD) return false;
    found->adapter = adapter;
    found->target = target;
    found->vendor = Field(reply + 8, 8);
    found->product = Field(reply + 16, 16);
    return true;
}

}  // namespace

SweepResult SweepAspi(int timeoutMs) {
    SweepResult result;
    const uint32_t info = GetASPI32SupportInfo();
    result.adapters = static_cast<int>(info & 0xFF);
    result.aspiWorks = ((info >> 8) & 0xFF) == SS_COMP && result.adapters > 0;
    if (!result.aspiWorks) return result;

    const int eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventFd < 0) return result;
    for (int adapter = 0; adapter < result.adapters; ++adapter) {
        for (int target = 0; target < 8; ++target) {
            FoundDevice device;
            if (Inquire(adapter, target, eventFd, timeoutMs, &device)) {
                result.devices.push_back(device);
            }
        }
    }
    ::close(eventFd);
    return result;
}

}  // namespace orvoscan
