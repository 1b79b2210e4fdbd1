// The driver exports orvoscan uses, as one table of functions so that the scan
// run can also be driven by a stand-in driver in tests.
#pragma once

#include <cstdint>
#include <string>

namespace orvoscan {

struct DriverApi {
    int (*init)() = nullptr;
    int (*end)() = nullptr;
    const char* (*version)() = nullptr;
    int (*imageFormat)(int) = nullptr;
    uint32_t (*getDeviceError)() = nullptr;
    int (*startBatch)(const char*) = nullptr;
    int (*endBatch)() = nullptr;
    int (*getOneImage)(const char*, int*) = nullptr;
    char* (*micrDataBufPtr)() = nullptr;
    int (*micrDataSize)() = nullptr;
    int (*restoreSettingsQa)(unsigned char*) = nullptr;
    int (*saveSettingsQa)(const unsigned char*) = nullptr;
};

// The exports of the driver library orvoscan was linked with. Page retrieval,
// the MICR accessors and the QA block exports are left null when the driver
// library at hand does not offer them.
DriverApi LinkedDriver();

// Directory of the driver library file (from the loaded library), ending in
// '/'; empty when unknown.
std::string LinkedDriverDir();

}  // namespace orvoscan
