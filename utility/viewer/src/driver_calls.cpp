#include "driver_calls.h"

#include "orvo/platform/dirs.h"
#include "orvoscan.h"

namespace orvo::viewer {

DriverCalls LinkedDriverCalls() {
    DriverCalls calls;
    calls.init = &OrvoScan_Init;
    calls.end = &OrvoScan_End;
    calls.version = &OrvoScan_Version;
    calls.setup = &OrvoScan_Setup;
    calls.setupQa = &OrvoScan_Setup_Qa;
    return calls;
}

std::string DriverSystemDir() {
    const std::string configured = platform::Env("ORVOSCAN_SYSTEM_DIR");
    if (!configured.empty()) return platform::WithTrailingSlash(configured);
    return platform::LibrarySystemDir(reinterpret_cast<const void*>(&OrvoScan_Init));
}

}  // namespace orvo::viewer
