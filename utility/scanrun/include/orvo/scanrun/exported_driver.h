// The scan-run driver interface over the exports of libK4TR.so (link target
// orvo_scanrun_exports).
#pragma once

#include "orvo/scanrun/scan_driver.h"

namespace orvo::scanrun {

class ExportedDriver final : public ScanDriver {
  public:
    int ImageFormat(int format) override;
    int StartBatch(const char* profile) override;
    int GetOneImage(const char* path, int* height) override;
    const char* MicrDataBufPtr() override;
    int MicrDataSize() override;
    uint32_t GetDeviceError() override;
    int EndBatch() override;
};

}  // namespace orvo::scanrun
