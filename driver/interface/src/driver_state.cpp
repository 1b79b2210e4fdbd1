#include "orvo/driver_state.h"

namespace orvo {

DriverState& State() {
    static DriverState state;
    return state;
}

}  // namespace orvo
