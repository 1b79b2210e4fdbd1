// Batch control exports.
#include "orvo/batch/batch.h"
#include "orvoscan.h"

extern "C" {

ORVOSCAN_API int OrvoScan_StartBatch(const char* profile) {
    return orvo::StartBatch(profile);
}

ORVOSCAN_API int OrvoScan_IsPageLoaded(void) {
    return orvo::IsPageLoaded();
}

ORVOSCAN_API int OrvoScan_EndBatch(void) {
    return orvo::EndBatch();
}

}  // extern "C"
