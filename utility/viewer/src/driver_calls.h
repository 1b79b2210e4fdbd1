// The driver exports the utility calls besides those of a scan run and the
// output format (which go through orvo::scanrun::ScanDriver), as one table,
// so that tests can count or answer single calls.
#pragma once

#include <cstdint>
#include <string>

namespace orvo::viewer {

struct DriverCalls {
    int (*init)() = nullptr;
    int (*end)() = nullptr;
    const char* (*version)() = nullptr;
    // The driver's settings dialog for a profile and its QA dialog; the
    // owner is the calling window (a QWidget*).
    int (*setup)(void* owner, const char* profile) = nullptr;
    int (*setupQa)(void* owner) = nullptr;
};

// The exports of the libK4TR.so the program was linked with.
DriverCalls LinkedDriverCalls();

// The driver's system directory, found as the driver finds it:
// ORVOSCAN_SYSTEM_DIR, else the directory libK4TR.so was loaded from. Ends
// in '/'; empty when neither is known.
std::string DriverSystemDir();

}  // namespace orvo::viewer
