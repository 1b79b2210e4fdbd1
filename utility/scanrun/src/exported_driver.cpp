#include "orvo/scanrun/exported_driver.h"

#include "orvoscan.h"

namespace orvo::scanrun {

int ExportedDriver::ImageFormat(int format) {
    return OrvoScan_ImageFormat(format);
}

int ExportedDriver::StartBatch(const char* profile) {
    return OrvoScan_StartBatch(profile);
}

int ExportedDriver::GetOneImage(const char* path, int* height) {
    return OrvoScan_GetOneImage(path, height);
}

const char* ExportedDriver::MicrDataBufPtr() {
    return OrvoScan_MicrDataBufPtr();
}

int ExportedDriver::MicrDataSize() {
    return OrvoScan_MicrDataSize();
}

uint32_t ExportedDriver::GetDeviceError() {
    return OrvoScan_GetDeviceError();
}

int ExportedDriver::EndBatch() {
    return OrvoScan_EndBatch();
}

}  // namespace orvo::scanrun
