// Which devices answer INQUIRY on the ASPI layer's host adapters.
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
