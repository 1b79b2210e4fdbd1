// The driver exports the info and QA commands use, and the driver's start and
// end, as one table of functions. (A scan run reaches the driver through
// orvo::scanrun::ScanDriver.)
#pragma once

#include <cstdint>
#include <string>

namespace orvoscan {

struct DriverApi {
    int (*init)() = nullptr;
    int (*end)() = nullptr;
    const char* (*version)() = nullptr;
    int (*restoreSettingsQa)(unsigned char*) = nullptr;
    int (*saveSettingsQa)(const unsigned char*) = nullptr;
};

// The exports of the driver library orvoscan was linked with. The QA block
// exports are left null when the driver library at hand does not offer them.
DriverApi LinkedDriver();

// The system directory of the driver library in use (its own directory, or
// its "orvoscan/" directory when installed), ending in '/'; empty when unknown.
std::string LinkedDriverDir();

}  // namespace orvoscan
