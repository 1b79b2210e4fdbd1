// The driver as the front ends (orvoscan, orvo_viewer, the SANE backend) see
// it: the OrvoScan_* calls they make, behind one interface. The real driver
// is ExportedDriver (exported_driver.h: the exports of the linked libK4TR.so);
// tests derive from it or from this interface to count or answer single calls.
//
// Results are the driver's (ORVOSCAN_* in orvoscan.h). One client thread
// makes the calls; the one exception is EndBatch, which another thread may
// call while GetOneImage waits (ScanRun::Interrupt, a Ctrl-C handler, SANE's
// cancel): the wait then returns ORVOSCAN_NO_PAGE (-3) at once.
#pragma once

#include <cstdint>

namespace orvo::scanrun {

class Driver {
  public:
    virtual ~Driver() = default;

    // Driver start and end; the version text belongs to the driver.
    virtual int Init() = 0;
    virtual int End() = 0;
    virtual const char* Version() = 0;

    // The settings dialog for a profile and the QA dialog, modal over
    // `owner` (the caller's QWidget*, or null).
    virtual int Setup(void* owner, const char* profile) = 0;
    virtual int SetupQa(void* owner) = 0;
    // The scanner's QA block: 12 bytes read, 10 bytes written.
    virtual int RestoreSettingsQa(unsigned char* qa12) = 0;
    virtual int SaveSettingsQa(const unsigned char* qa10) = 0;

    // The page file format (ORVOSCAN_FORMAT_*) of this process's batches.
    virtual int ImageFormat(int format) = 0;

    // A batch: its start, its pages, its end.
    virtual int StartBatch(const char* profile) = 0;
    // Waits for the next page and writes it to `path`: ORVOSCAN_OK when
    // written, ORVOSCAN_NO_PAGE when the batch is over, ORVOSCAN_ERR_PAGE_FILE
    // when the page was taken but its file not written, another negative
    // code for a failure.
    virtual int GetOneImage(const char* path, int* height) = 0;
    // The MICR text of the page just taken (null when none; read it with
    // TakeMicr) and its MICR length; the driver's until the next page.
    virtual const char* MicrDataBufPtr() = 0;
    virtual int MicrDataSize() = 0;
    // The device error word (ORVOSCAN_DEV_*) after ORVOSCAN_ERR_DEVICE.
    virtual uint32_t GetDeviceError() = 0;
    // Ends the batch; the only call another thread may make (see above).
    virtual int EndBatch() = 0;
};

}  // namespace orvo::scanrun
