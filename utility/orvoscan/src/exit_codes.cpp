#include "exit_codes.h"

#include "orvoscan.h"

namespace orvoscan {

int ExitForInit(int result) {
    return result == ORVOSCAN_OK ? kExitDone : kExitNoScanner;
}

int ExitForStartBatch(int result) {
    if (result == ORVOSCAN_OK) return kExitDone;
    if (result == ORVOSCAN_ERR_ENDORSER || result == ORVOSCAN_ERR_SETTINGS) return kExitSettings;
    if (result == ORVOSCAN_ERR_DRIVER) return kExitNoScanner;
    return kExitFailure;
}

int ExitForBatchEnd(int result) {
    if (result == ORVOSCAN_OK || result == ORVOSCAN_NO_PAGE) return kExitDone;
    if (result == ORVOSCAN_ERR_DEVICE) return kExitDevice;
    if (result == ORVOSCAN_ERR_PAGE_FILE) return kExitOutput;
    return kExitFailure;
}

}  // namespace orvoscan
