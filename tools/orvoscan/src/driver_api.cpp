#include "driver_api.h"

#include <dlfcn.h>

#include "orvoscan.h"

// Exports that came later than the batch exports are referenced weakly: an
// older driver library still runs `info` and reports what it lacks.
#pragma weak OrvoScan_GetOneImage
#pragma weak OrvoScan_MicrDataBufPtr
#pragma weak OrvoScan_MicrDataSize
#pragma weak OrvoScan_RestoreSettingsQa
#pragma weak OrvoScan_SaveSettingsQa

namespace orvoscan {

template <typename F>
static F Weak(F f) {
    return f;  // null when the symbol was not found at load time
}

DriverApi LinkedDriver() {
    DriverApi api;
    api.init = &OrvoScan_Init;
    api.end = &OrvoScan_End;
    api.version = &OrvoScan_Version;
    api.imageFormat = &OrvoScan_ImageFormat;
    api.getDeviceError = &OrvoScan_GetDeviceError;
    api.startBatch = &OrvoScan_StartBatch;
    api.endBatch = &OrvoScan_EndBatch;
    api.getOneImage = Weak(&OrvoScan_GetOneImage);
    api.micrDataBufPtr = Weak(&OrvoScan_MicrDataBufPtr);
    api.micrDataSize = Weak(&OrvoScan_MicrDataSize);
    api.restoreSettingsQa = Weak(&OrvoScan_RestoreSettingsQa);
    api.saveSettingsQa = Weak(&OrvoScan_SaveSettingsQa);
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
