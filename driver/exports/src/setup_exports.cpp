// The settings dialog and the QA dialog, from their companion libraries in
// the system directory.
#include "orvo/core/driver_state.h"
#include "orvo/setup/companion.h"
#include "orvo/setup/setup_calls.h"
#include "orvo/transport/transport.h"
#include "orvoscan.h"

extern "C" {

ORVOSCAN_API int OrvoScan_Setup(void* owner, const char* profile) {
    orvo::CompanionLibrary library(orvo::State().systemDir + orvo::kSetupLibrary);
    return orvo::RunSetup(owner, profile, library);
}

ORVOSCAN_API int OrvoScan_Setup_Qa(void* owner) {
    // The dialog reads, writes and acts on the scanner: not while another
    // process has it.
    return orvo::WithScannerAlone([owner] {
        orvo::CompanionLibrary library(orvo::State().systemDir + orvo::kQaLibrary);
        return orvo::RunSetupQa(owner, library);
    });
}

}  // extern "C"
