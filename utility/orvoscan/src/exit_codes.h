// orvoscan's exit codes (also listed by `orvoscan --help`).
#pragma once

namespace orvoscan {

enum ExitCode {
    kExitDone = 0,       // finished
    kExitFailure = 1,    // another driver failure (e.g. a QA transfer)
    kExitUsage = 2,      // wrong command line
    kExitNoScanner = 3,  // driver start failed: no scanner, no SCSI, no driver, code tables
    kExitSettings = 4,  // settings error: unknown profile, a refused value, illegal endorser format
    kExitDevice = 5,    // the scanner reported a device error (jam, double feed, ...)
    kExitOutput = 6,    // a page file or record not written, micr.txt unusable, pages in the way
    kExitUnreadable = 7,    // quality: a page file could not be read
    kExitOutputInUse = 8,   // another run (of any program) writes into the output now
    kExitInterrupted = 130  // stopped by SIGINT or SIGTERM
};

// Exit code for a non-zero result of OrvoScan_Init.
int ExitForInit(int result);
// Exit code for a non-zero result of OrvoScan_StartBatch.
int ExitForStartBatch(int result);
// Exit code for the result that ended the page loop (-3 is the normal end).
int ExitForBatchEnd(int result);

}  // namespace orvoscan
