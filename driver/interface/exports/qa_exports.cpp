// QA block exports for clients that keep their own copy of the QA values.
#include <string>

#include "orvo/qa.h"
#include "orvo/trace.h"
#include "orvo/transport.h"
#include "orvoscan.h"

namespace {

// A QA transfer talks to the scanner: not while another process has it.
template <typename Transfer>
int WithScanner(Transfer transfer) {
    std::string holder;
    if (orvo::LockScanner(&holder) == orvo::ScannerLock::Busy) {
        orvo::Trace(orvo::TraceFile::Log, 0, ("scanner in use by " + holder).c_str(), 0);
        return ORVOSCAN_ERR_BUSY;
    }
    const int r = transfer();
    orvo::UnlockScanner();
    return r;
}

}  // namespace

extern "C" {

ORVOSCAN_API int OrvoScan_RestoreSettingsQa(unsigned char* qa12) {
    if (!qa12) return ORVOSCAN_ERR_NO_SCSI;
    uint8_t block[12];
    const int r = WithScanner([&block] { return orvo::QaRead(block); });
    if (r == 0) {
        for (int i = 0; i < 12; ++i) qa12[i] = block[i];
    }
    return r;
}

ORVOSCAN_API int OrvoScan_SaveSettingsQa(const unsigned char* qa10) {
    if (!qa10) return ORVOSCAN_ERR_NO_SCSI;
    return WithScanner([qa10] { return orvo::QaWrite(qa10); });
}

}  // extern "C"
