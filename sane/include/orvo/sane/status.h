// What a driver result means to a SANE frontend.
#pragma once

#include <sane/sane.h>

#include <cstdint>

namespace orvo::sane {

// The SANE status for a driver result code and, for a device error (-100),
// the device error word. Where several causes are set, the one the operator
// must see to first wins: an open cover, then a jam or double feed, then an
// empty feeder; every other scanner fault is an I/O error.
SANE_Status StatusFor(int driverResult, uint32_t deviceError);

}  // namespace orvo::sane
