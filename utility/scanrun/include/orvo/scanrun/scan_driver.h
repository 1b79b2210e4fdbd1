// The driver exports a scan run calls, behind a small interface: the real
// driver library (exported_driver.h) or a stand-in in tests.
#pragma once

#include <cstdint>

namespace orvo::scanrun {

class ScanDriver {
  public:
    virtual ~ScanDriver() = default;
    virtual int ImageFormat(int format) = 0;
    virtual int StartBatch(const char* profile) = 0;
    // Waits for the next page and writes it to `path`; 0 when written, -3
    // when the batch is over, -12 when the page file could not be written,
    // another negative code for a failure.
    virtual int GetOneImage(const char* path, int* height) = 0;
    virtual const char* MicrDataBufPtr() = 0;
    virtual int MicrDataSize() = 0;
    virtual uint32_t GetDeviceError() = 0;
    // Called on the run's thread when a batch ends, and by
    // ScanRun::Interrupt() on another thread while GetOneImage waits (the
    // wait then returns -3).
    virtual int EndBatch() = 0;
};

}  // namespace orvo::scanrun
