#include "driver_api.h"

#include <dlfcn.h>

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
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&OrvoScan_Init), &info) == 0 || !info.dli_fname) {
        return std::string();
    }
    std::string file = info.dli_fname;
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return std::string();
    return file.substr(0, slash + 1);
}

}  // namespace orvoscan
