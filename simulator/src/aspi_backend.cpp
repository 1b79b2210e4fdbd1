#include "orvo/sim/aspi_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <type_traits>

#include "orvo/platform/file_lock.h"
#include "orvo/sim/scanner.h"

namespace orvo::sim {
namespace {

class SimBackend : public aspi::Backend {
  public:
    ~SimBackend() override {
        if (lockFd_ >= 0) close(lockFd_);
    }
    uint32_t supportInfo() override { return TheScanner().SupportInfo(); }
    aspi::Reply execute(const aspi::Request& request) override {
        return TheScanner().Execute(request);
    }
    uint32_t answerBoundMs(const aspi::Request& request) override {
        return TheScanner().AnswerBoundMs(request);
    }
    std::string name() const override { return "virtual scanner"; }

    // Like a real scanner's device node: the scenario's deviceNode file.
    aspi::DeviceLock lockDevice(uint8_t adapter, uint8_t target, uint8_t lun,
                                std::string* holder) override {
        const Scenario s = TheScanner().scenario();
        if (!s.present || adapter != s.adapter || target != s.target || lun != 0) {
            return aspi::DeviceLock::NoDevice;
        }
        if (lockFd_ >= 0) return aspi::DeviceLock::Held;
        if (s.deviceNode.empty()) return aspi::DeviceLock::Held;
        const int fd =
            open(s.deviceNode.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) return aspi::DeviceLock::NoDevice;
        const platform::LockState state = platform::TryLockExclusive(fd);
        if (state == platform::LockState::Busy) {
            if (holder != nullptr) *holder = platform::LockHolder(fd);
            close(fd);
            return aspi::DeviceLock::Busy;
        }
        if (state == platform::LockState::Held) {
            lockFd_ = fd;
        } else {
            close(fd);
        }
        return aspi::DeviceLock::Held;
    }
    void unlockDevice(uint8_t, uint8_t, uint8_t) override {
        if (lockFd_ >= 0) close(lockFd_);
        lockFd_ = -1;
    }

  private:
    int lockFd_ = -1;
};

}  // namespace

std::unique_ptr<aspi::Backend> MakeAspiBackend() {
    const char* path = std::getenv("ORVOSCAN_SIM_SCENARIO");
    if (path && *path) TheScanner().SetScenario(LoadScenarioFile(path));
    const char* record = std::getenv("ORVOSCAN_SIM_RECORD_DIR");
    if (record && *record) {
        Scenario s = TheScanner().scenario();
        s.recordDir = record;
        TheScanner().SetScenario(std::move(s));
    }
    return std::make_unique<SimBackend>();
}

}  // namespace orvo::sim

// The ASPI layer loads this library only when the virtual scanner is chosen
// and makes its backend through this function.
extern "C" orvo::aspi::Backend* OrvoSim_NewAspiBackend() {
    static_assert(
        std::is_same_v<decltype(&OrvoSim_NewAspiBackend), orvo::aspi::NewBackendFunction>);
    return orvo::sim::MakeAspiBackend().release();
}
