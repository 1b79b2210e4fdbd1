#include "exit_codes.h"

namespace orvoscan {

int ExitForInit(int result) {
    return result == 0 ? kExitDone : kExitNoScanner;
}

int ExitForStartBatch(int result) {
    if (result == 0) return kExitDone;
    if (result == -10) return kExitSettings;
    if (result == -2) return kExitNoScanner;
    return kExitFailure;
}

int ExitForBatchEnd(int result) {
    if (result == 0 || result == -3) return kExitDone;
    if (result == -100) return kExitDevice;
    if (result == -12) return kExitOutput;  // the page file could not be written
    return kExitFailure;
}

}  // namespace orvoscan
