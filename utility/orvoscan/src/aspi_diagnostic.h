// The ASPI diagnostic of `orvoscan info`: which devices answer INQUIRY on the
// ASPI layer's host adapters. It goes around the driver on purpose: it shows
// what the ASPI layer sees (every adapter and target, also devices that are no
// cheque scanner) even when the driver cannot start, and the driver's C
// interface has no call for that. It is the only part of orvoscan that talks
// to libwnaspi32.so (link target orvoscan_aspi_diagnostic); everything else
// goes through the driver interface (orvo/scanrun/driver.h).
#pragma once

#include <string>
#include <vector>

namespace orvoscan {

struct FoundDevice {
    int adapter = 0;
    int target = 0;
    std::string vendor;   // inquiry bytes 8-15, trailing blanks removed
    std::string product;  // inquiry bytes 16-31, trailing blanks removed
};

struct SweepResult {
    bool aspiWorks = false;  // ASPI status completed and at least one adapter
    int adapters = 0;
    std::vector<FoundDevice> devices;
};

// INQUIRY to targets 0-7 (logical unit 0) of every host adapter, one at a
// time, each waiting at most `timeoutMs` for its answer.
SweepResult SweepAspi(int timeoutMs = 1000);

}  // namespace orvoscan
