#include "orvo/scanrun/exported_driver.h"

#include "orvo/platform/dirs.h"
#include "orvoscan.h"

namespace orvo::scanrun {

namespace {

const void* LinkedLibrary() {
    return reinterpret_cast<const void*>(&OrvoScan_Init);
}

}  // namespace

int ExportedDriver::Init() {
    return OrvoScan_Init();
}

int ExportedDriver::End() {
    return OrvoScan_End();
}

const char* ExportedDriver::Version() {
    return OrvoScan_Version();
}

int ExportedDriver::Setup(void* owner, const char* profile) {
    return OrvoScan_Setup(owner, profile);
}

int ExportedDriver::SetupQa(void* owner) {
    return OrvoScan_Setup_Qa(owner);
}

int ExportedDriver::RestoreSettingsQa(unsigned char* qa12) {
    return OrvoScan_RestoreSettingsQa(qa12);
}

int ExportedDriver::SaveSettingsQa(const unsigned char* qa10) {
    return OrvoScan_SaveSettingsQa(qa10);
}

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

std::string DriverLibraryFile() {
    std::string file;
    platform::LibrarySystemDir(LinkedLibrary(), &file);
    return file;
}

std::string DriverSystemDir(const std::string& defaultDir) {
    return platform::ConfiguredSystemDir(
        defaultDir.empty() ? platform::LibrarySystemDir(LinkedLibrary()) : defaultDir);
}

}  // namespace orvo::scanrun
