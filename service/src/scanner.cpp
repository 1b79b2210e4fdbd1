#include "scanner.h"

#include "aspi_diagnostic.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"
#include "wnaspi32.h"

namespace orvoscand {

namespace {
constexpr const char* kVendor = "OrvoData";
constexpr const char* kModel = "QXS-7100 (QV710)";
}  // namespace

Scanner::Scanner(std::unique_ptr<orvo::scanrun::Driver> driver) : driver_(std::move(driver)) {}

Scanner::~Scanner() {
    std::lock_guard lock(mutex_);
    if (started_) driver_->End();
}

int Scanner::EnsureStarted() {
    if (started_) return ORVOSCAN_OK;
    const int result = driver_->Init();
    std::lock_guard info(infoMutex_);
    initResult_ = result;
    started_ = result == ORVOSCAN_OK;
    if (started_) {
        version_ = driver_->Version();
        found_.reset();
    }
    return result;
}

ScannerInfo Scanner::Describe() {
    {
        // A batch holds the driver for its whole run: its answers are kept.
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (lock.owns_lock()) {
            EnsureStarted();
            if (started_ && !found_) Sweep();
        }
    }
    std::lock_guard lock(infoMutex_);
    ScannerInfo info;
    info.initResult = initResult_;
    info.initMessage = orvo::scanrun::DriverErrorText(initResult_, 0);
    info.driverVersion = version_;
    if (found_) {
        info.present = found_->present;
        info.adapter = found_->adapter;
        info.target = found_->target;
        info.vendor = found_->vendor;
        info.model = found_->model;
    }
    return info;
}

void Scanner::Sweep() {
    ScannerInfo sweep;
    for (const orvoscan::FoundDevice& d : orvoscan::SweepAspi().devices) {
        if (d.vendor == kVendor && d.product == kModel) {
            sweep.present = true;
            sweep.adapter = d.adapter;
            sweep.target = d.target;
            sweep.vendor = d.vendor;
            sweep.model = d.product;
            break;
        }
    }
    std::lock_guard lock(infoMutex_);
    found_ = sweep;
}

std::string Scanner::SettingsFile() const {
    return orvo::scanrun::SettingsFilePath(orvo::scanrun::DriverSystemDir());
}

std::string Scanner::Holder() {
    if (!found_) Sweep();
    if (!found_ || !found_->present) return "another program";
    char who[128] = {};
    const uint32_t status =
        OrvoAspiLockDevice(static_cast<uint8_t>(found_->adapter),
                           static_cast<uint8_t>(found_->target), 0, who, sizeof who);
    if (status == SS_COMP) {
        // Freed in the meantime: not ours to keep.
        OrvoAspiUnlockDevice(static_cast<uint8_t>(found_->adapter),
                             static_cast<uint8_t>(found_->target), 0);
        return "another program";
    }
    return who[0] != '\0' ? std::string(who) : std::string("another program");
}

}  // namespace orvoscand
