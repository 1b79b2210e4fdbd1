// The virtual scanner as a device backend of the ASPI layer (selected with
// ORVOSCAN_ASPI=sim).
#pragma once

#include <memory>

#include "orvo/aspi/backend.h"

namespace orvo::sim {

// A backend that executes every request on TheScanner(). When the
// environment names a scenario file in ORVOSCAN_SIM_SCENARIO, the scanner is
// set to that scenario (a file that cannot be used gives a message on stderr
// and the default stack).
std::unique_ptr<aspi::Backend> MakeAspiBackend();

}  // namespace orvo::sim
