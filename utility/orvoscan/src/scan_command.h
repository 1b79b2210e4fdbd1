// `orvoscan scan`: one batch from the command line, by the scan-run rules the
// desktop utility follows too (utility/scanrun): pages named after the
// output's prefix, one micr.txt record per cheque, a run that stops and says
// why rather than losing a cheque.
#pragma once

#include <string>

#include "console.h"
#include "orvo/scanrun/driver.h"

namespace orvoscan {

class StopSignals;

struct ScanOptions {
    std::string profile;
    std::string output;        // absolute path of the chosen file, e.g. /data/scan/A.tif
    int start = 1;             // number of the first document
    bool continueRun = false;  // start after the highest number in the output
    bool overwrite = false;    // the pages of an earlier run may be replaced
    int format = -1;           // 0 TIFF, 1 bitmap, 2 raw; -1: chosen by the extension
    std::string settingsFile;
};

// The scan command: its options (argv[0] is "scan"), the driver's start,
// the run. Returns the exit code.
int ScanCommand(int argc, char** argv, Console& console);

// Runs the batch on an initialised driver and returns the exit code.
// `signals` (may be null) passes Ctrl-C and the like on to the run.
int RunScan(orvo::scanrun::Driver& driver, const ScanOptions& options, Console& console,
            StopSignals* signals);

}  // namespace orvoscan
