// The driver as the service holds it: started on first use, its calls made
// one at a time, and what it found (version, scanner) for GET /v1/scanner.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "driver_lock.h"
#include "orvo/scanrun/driver.h"

namespace orvoscand {

struct ScannerInfo {
    int initResult = 0;  // the driver's start: 0, or its negative result
    std::string initMessage;
    std::string driverVersion;
    bool present = false;
    int adapter = 0;
    int target = 0;
    std::string vendor;
    std::string model;
};

class Scanner {
  public:
    explicit Scanner(std::unique_ptr<orvo::scanrun::Driver> driver);
    ~Scanner();

    // Starts the driver when it has not started yet (again after a failed
    // start: a scanner may have been switched on since). Caller holds mutex().
    int EnsureStarted();
    // What the driver found; the driver and the ASPI layer are asked only
    // while no batch holds them (else the last answers are given).
    ScannerInfo Describe();
    // OrvoScan.ini of the driver in use.
    std::string SettingsFile() const;
    // Who holds the scanner after a batch start was refused with -13
    // ("pid 1234 (orvoscan)"); "another program" when it cannot be told.
    // Caller holds mutex().
    std::string Holder();

    orvo::scanrun::Driver& driver() { return *driver_; }
    DriverLock& mutex() { return mutex_; }

  private:
    void Sweep();

    std::unique_ptr<orvo::scanrun::Driver> driver_;
    DriverLock mutex_;  // the driver's calls; a batch holds it for its run
    bool started_ = false;
    std::mutex infoMutex_;  // what the driver and the last sweep answered
    int initResult_ = 0;
    std::string version_;
    std::optional<ScannerInfo> found_;
};

}  // namespace orvoscand
