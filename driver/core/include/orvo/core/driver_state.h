// The driver's process-wide state: where it lives, where the scanner is, the
// last device error and the two work buffers of driver start.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "orvo/core/settings.h"

namespace orvo {

inline constexpr std::size_t kWorkImageBufferSize = 10'240'000;
inline constexpr std::size_t kRowBufferSize = 5'120;

struct DriverState {
    std::string systemDir;      // ends in '/'; settings file and code tables
    std::string tempDir;        // ends in '/'; page files, dump files, traces
    std::string settingsPath;   // systemDir + "OrvoScan.ini"
    uint16_t adapter = 0;       // host adapter of the scanner
    uint16_t target = 0;        // target id of the scanner (logical unit 0)
    bool scannerKnown = false;  // discovery has found the scanner
    // Bit set of the last status check. Written by whoever owns the request
    // block (the worker during a batch), read by the client.
    std::atomic<uint32_t> deviceError{0};
    std::unique_ptr<uint8_t[]> workImage;  // kWorkImageBufferSize bytes
    std::unique_ptr<uint8_t[]> rowBuffer;  // kRowBufferSize bytes
    Settings settings;                     // current settings
    // The output format OrvoScan_ImageFormat chose but could not store in
    // the settings file (-1 when none): profile loads keep it for this
    // process instead of the stored one.
    int unstoredImageFormat = -1;
};

DriverState& State();

// Device error word bits.
inline constexpr uint32_t kDeviceErrorUnknown = 0x80000000u;

}  // namespace orvo
