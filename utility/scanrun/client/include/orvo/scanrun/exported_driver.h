// The driver interface over the exports of the libK4TR.so the program is
// linked with (link target orvo_driver_client), and where that library keeps
// its system directory.
#pragma once

#include <string>

#include "orvo/scanrun/driver.h"

namespace orvo::scanrun {

// Each call is the export of the same name. Not final: a test derives from it
// to count or answer single calls and passes the others on.
class ExportedDriver : public Driver {
  public:
    int Init() override;
    int End() override;
    const char* Version() override;
    int Setup(void* owner, const char* profile) override;
    int SetupQa(void* owner) override;
    int RestoreSettingsQa(unsigned char* qa12) override;
    int SaveSettingsQa(const unsigned char* qa10) override;
    int ImageFormat(int format) override;
    int StartBatch(const char* profile) override;
    int GetOneImage(const char* path, int* height) override;
    const char* MicrDataBufPtr() override;
    int MicrDataSize() override;
    uint32_t GetDeviceError() override;
    int EndBatch() override;
};

// The file of the libK4TR.so in use (links resolved); empty when unknown.
std::string DriverLibraryFile();

// The driver's system directory, where OrvoScan.ini lives: ORVOSCAN_SYSTEM_DIR,
// else `defaultDir` when given, else the system directory of the libK4TR.so in
// use (its own directory, or the directory "orvoscan/" beside it when
// installed). Ends in '/'; empty when none is known. Without `defaultDir` it
// is the directory the driver itself uses.
std::string DriverSystemDir(const std::string& defaultDir = {});

}  // namespace orvo::scanrun
