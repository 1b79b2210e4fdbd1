// The device side of the ASPI layer: one backend executes one SCSI request at a
// time, synchronously: on the layer's dispatch thread, or on the submitting
// thread itself when the backend promises a quick answer and nothing else is
// in progress. The layer owns the request block bookkeeping, the abort rules
// and the completion events.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvo::aspi {

enum class Direction { None, In, Out };

struct Request {
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    Direction direction = Direction::None;
    uint32_t transferLength = 0;   // SRB_BufLen
    std::vector<uint8_t> dataOut;  // copy of the caller's buffer for Direction::Out
};

struct Reply {
    // false: the device never answers this request (the layer then never
    // completes it; only an abort withdraws it).
    bool completes = true;
    uint8_t srbStatus = 0x01;  // SS_COMP
    uint8_t haStat = 0;
    uint8_t targStat = 0;
    std::vector<uint8_t> dataIn;  // at most transferLength bytes are delivered
    std::vector<uint8_t> sense;   // delivered on CHECK CONDITION
};

enum class DeviceLock {
    Held,     // this process has the device to itself
    Busy,     // another process has it; `holder` says which
    NoDevice  // no device at that address
};

class Backend {
  public:
    virtual ~Backend() = default;
    // Value for GetASPI32SupportInfo: status in bits 8-15, adapters in 0-7.
    virtual uint32_t supportInfo() = 0;
    virtual Reply execute(const Request& request) = 0;
    // The longest execute() may take for this request, in milliseconds, when
    // the backend can promise it; kNoAnswerBound when it cannot (a real
    // device may keep a request for as long as its own time-out). A request
    // promised within the layer's bound is executed on the submitting thread.
    static constexpr uint32_t kNoAnswerBound = UINT32_MAX;
    virtual uint32_t answerBoundMs(const Request& request) {
        (void)request;
        return kNoAnswerBound;
    }
    virtual std::string name() const = 0;
    // Exclusive use of a device between processes, until unlockDevice or
    // the end of the process. Called on the caller's thread, possibly while
    // execute() runs on the dispatcher; it never waits for the lock. By
    // default a device no other process can reach: always held.
    virtual DeviceLock lockDevice(uint8_t adapter, uint8_t target, uint8_t lun,
                                  std::string* holder) {
        (void)adapter, (void)target, (void)lun, (void)holder;
        return DeviceLock::Held;
    }
    virtual void unlockDevice(uint8_t adapter, uint8_t target, uint8_t lun) {
        (void)adapter, (void)target, (void)lun;
    }
};

// A backend that lives in a library of its own (the virtual scanner,
// liborvosim.so in the system directory) offers a function of this name and
// type that makes a new backend; the layer loads it only when it is chosen.
inline constexpr char kVirtualScannerLibrary[] = "liborvosim.so";
inline constexpr char kVirtualScannerEntry[] = "OrvoSim_NewAspiBackend";
using NewBackendFunction = Backend* (*)();

}  // namespace orvo::aspi
