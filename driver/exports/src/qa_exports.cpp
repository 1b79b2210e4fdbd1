// QA block exports for clients that keep their own copy of the QA values.
#include <string>

#include "orvo/setup/qa.h"
#include "orvo/transport/transport.h"
#include "orvoscan.h"

extern "C" {

ORVOSCAN_API int OrvoScan_RestoreSettingsQa(unsigned char* qa12) {
    if (!qa12) return ORVOSCAN_ERR_NO_SCSI;
    uint8_t block[12];
    const int r = orvo::WithScannerAlone([&block] { return orvo::QaRead(block); });
    if (r == 0) {
        for (int i = 0; i < 12; ++i) qa12[i] = block[i];
    }
    return r;
}

ORVOSCAN_API int OrvoScan_SaveSettingsQa(const unsigned char* qa10) {
    if (!qa10) return ORVOSCAN_ERR_NO_SCSI;
    return orvo::WithScannerAlone([qa10] { return orvo::QaWrite(qa10); });
}

}  // extern "C"
