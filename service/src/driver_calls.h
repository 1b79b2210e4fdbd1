// The driver's exports for one Windows program at a time (K4TR.dll under
// Wine): each call names an export and carries its arguments as JSON; the
// answer carries the driver's result, out-parameters, page bytes and what
// its accessors report. A program (named by the session it sends) holds the
// driver from its first call until OrvoScan_End, or until it has been idle
// for a while; meanwhile other programs get 409, and the service's own
// batches find the scanner busy. The exports run on the connection thread
// that received the call, one call at a time (the driver sees one client
// whose calls follow each other), except the dialogs: they always run on a
// thread of this class (Qt's application object of a dialog belongs to the
// thread that made the first one), which also gives up the driver of a
// program that has gone quiet.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <thread>

#include "driver_lock.h"

namespace orvoscand {

struct DriverReply {
    int status = 200;  // HTTP status
    std::string json;  // the body
};

class DriverCalls {
  public:
    // `driverLock`: the service's lock of the driver. `scratchDir`: a
    // private directory where the driver writes a page file to be read back.
    // `ensureStarted` starts the service's driver when it has not started
    // (called with the lock held, before every call but "init"): a service
    // started anew by its socket between two calls of a program, after it
    // ended when idle, goes on with a started driver.
    DriverCalls(DriverLock& driverLock, std::string scratchDir, std::function<int()> ensureStarted);
    ~DriverCalls();
    DriverCalls(const DriverCalls&) = delete;
    DriverCalls& operator=(const DriverCalls&) = delete;

    // Runs the export named `call` ("init", "get-one-image", ...: the path's
    // last part) for the program `session` with the JSON `body` (empty: no
    // arguments).
    DriverReply Call(const std::string& call, const std::string& session, const std::string& body);

    // How long a program keeps the driver without a call: outside a batch,
    // and within one (its batch is then ended).
    static constexpr std::chrono::seconds kIdleOutsideBatch{30};
    static constexpr std::chrono::seconds kIdleInBatch{300};

  private:
    using Clock = std::chrono::steady_clock;
    // The class's thread: dialogs, and the driver of a program that has
    // gone quiet given up.
    void Work();
    // Runs `dialog` on the class's thread and waits for it.
    void OnOwnThread(const std::function<void()>& dialog);
    // Whether `session` may use the driver (taking it when free); under
    // mutex_, no export running.
    bool Admit(const std::string& session);
    // Gives the driver up (ending a batch left running); under mutex_.
    void Release();
    bool Idle() const;
    DriverReply Run(const std::string& call, const nlohmann::json& body);

    DriverLock& driverLock_;
    std::string scratchDir_;
    std::function<int()> ensureStarted_;

    std::mutex mutex_;                 // everything below
    std::condition_variable changed_;  // stop_, busy_ or dialog_ changed
    bool stop_ = false;
    bool owned_ = false;  // this class holds driverLock_
    std::string holder_;
    Clock::time_point lastUse_{};
    bool inBatch_ = false;
    bool busy_ = false;                              // an export runs
    const std::function<void()>* dialog_ = nullptr;  // for the class's thread
    std::thread thread_;
};

}  // namespace orvoscand
