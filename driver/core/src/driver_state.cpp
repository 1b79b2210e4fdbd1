#include "orvo/core/driver_state.h"

namespace orvo {

DriverState& State() {
    // Never destroyed: a worker may still use it while the process exits.
    static DriverState* state = new DriverState;
    return *state;
}

}  // namespace orvo
