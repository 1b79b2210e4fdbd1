// The driver's exports for one Windows program at a time (K4TR.dll under
// Wine): each call names an export and carries its arguments as JSON; the
// answer carries the driver's result, out-parameters, page bytes and what
// its accessors report. A program (named by the session it sends) holds the
// driver from its first call until OrvoScan_End, or until it has been idle
// for a while; meanwhile other programs get 409, and the service's own
// batches find the scanner busy. The exports run on one thread of this
// class, which holds the service's driver lock for as long as a program
// holds the driver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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
    DriverCalls(std::mutex& driverLock, std::string scratchDir, std::function<int()> ensureStarted);
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
    void Work();
    // On the worker: whether `session` may use the driver (taking it when
    // free); under mutex_.
    bool Admit(const std::string& session);
    // On the worker: gives the driver up (ending a batch left running).
    void Release();
    DriverReply Run(const std::string& call, const std::string& session, const std::string& body);

    std::mutex& driverLock_;
    std::string scratchDir_;
    std::function<int()> ensureStarted_;

    std::mutex mutex_;  // everything below
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stop_ = false;
    bool owned_ = false;  // the worker holds driverLock_
    std::string holder_;
    Clock::time_point lastUse_{};
    bool inBatch_ = false;
    bool busy_ = false;  // an export runs
    std::thread worker_;
};

}  // namespace orvoscand
