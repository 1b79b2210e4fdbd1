// C++ side of the ASPI layer: which device backend serves the requests.
//
// At first use the layer picks its backend from ORVOSCAN_ASPI: "sg" (the
// default, Linux SCSI generic devices) or "sim" (the virtual scanner). Any other
// value leaves the layer without a backend: GetASPI32SupportInfo then reports
// SS_FAILED_INIT.
#pragma once

#include <memory>
#include <string>

#include "orvo/aspi/backend.h"

#if defined(__GNUC__)
#define ORVO_ASPI_CXX_API __attribute__((visibility("default")))
#else
#define ORVO_ASPI_CXX_API
#endif

namespace orvo::aspi {

// Installs a backend in place of the current one. The request being executed
// is finished first; requests still queued, and requests the old device never
// answers, complete with SS_ABORTED. A null backend returns the layer to its
// initial state: the next use chooses again from ORVOSCAN_ASPI.
ORVO_ASPI_CXX_API void UseBackend(std::unique_ptr<Backend> backend);

// Name of the backend in use ("sg", "sim", or whatever an installed backend
// calls itself); empty when there is none. Chooses the backend if needed.
ORVO_ASPI_CXX_API std::string BackendName();

}  // namespace orvo::aspi
