// One batch from the command line: the desktop utility's SCAN command without
// its windows. Pages are named by the scan-run rules, each page is reported
// only after the driver has returned it (the page file then exists under its
// final name), every MICR-carrying page adds its record to micr.txt in the
// output directory before the next page is taken.
#pragma once

#include <csignal>
#include <string>

#include "console.h"
#include "driver_api.h"

namespace orvoscan {

struct ScanOptions {
    std::string profile;
    std::string output;  // absolute path of the chosen file, e.g. /data/scan/A.tif
    int start = 1;       // number of the first document
    int format = -1;     // 0 TIFF, 1 bitmap, 2 raw; -1: chosen by the extension
    std::string settingsFile;
};

// Runs the batch on an initialised driver and returns the exit code. `stop`
// is checked between cheques: once set, the batch ends after the cheque in
// progress (its rear page too in a two-sided run).
int RunScan(const DriverApi& driver, const ScanOptions& options, Console& console,
            const volatile std::sig_atomic_t* stop);

}  // namespace orvoscan
