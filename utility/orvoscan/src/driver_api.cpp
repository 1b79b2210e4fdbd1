#include "driver_api.h"

#include "orvo/platform/dirs.h"

#include "orvoscan.h"

namespace orvoscan {

DriverApi LinkedDriver() {
    DriverApi api;
    api.init = &OrvoScan_Init;
    api.end = &OrvoScan_End;
    api.version = &OrvoScan_Version;
    api.restoreSettingsQa = &OrvoScan_RestoreSettingsQa;
    api.saveSettingsQa = &OrvoScan_SaveSettingsQa;
    return api;
}

std::string LinkedDriverDir() {
    return orvo::platform::LibrarySystemDir(reinterpret_cast<const void*>(&OrvoScan_Init));
}

}  // namespace orvoscan
