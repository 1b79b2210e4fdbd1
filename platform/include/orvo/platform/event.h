// Events for request completion: auto-reset, initially non-signalled, backed by
// a Linux eventfd so that they can be passed through the ASPI request block
// and duplicated by whoever must signal them later.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace orvo::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled, TimedOut, Failed };

// Returns the event's descriptor, or -1 when none could be created.
int CreateEvent();
void SetEvent(int event);
// Waits up to `ms` driver milliseconds (see clock.h); consumes the signal.
WaitResult WaitForEvent(int event, uint32_t ms);
// Waits for any of the events; returns the index of the first signalled one
// (its signal consumed), -1 on time-out, -2 on failure.
int WaitForAnyEvent(std::initializer_list<int> events, uint32_t ms);
void CloseEvent(int event);

}  // namespace orvo::platform
