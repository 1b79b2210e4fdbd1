// Thread helpers.
#pragma once

namespace orvo::platform {

// Asks for the highest scheduling priority the process may give the calling
// thread (real-time if permitted, else the lowest nice value allowed).
// Returns false, changing nothing, when the system refuses every step.
bool RaiseCurrentThreadPriority();

}  // namespace orvo::platform
