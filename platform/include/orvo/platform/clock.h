// Tick count, sleeping and local time.
//
// All driver time runs through this clock. ORVOSCAN_TIME_SCALE (a number >= 1,
// read once) speeds it up for tests: with scale 50 a 25,000 ms wait lasts 0.5 s
// of real time and the tick count advances 50 times as fast.
#pragma once

#include <cstdint>

namespace orvo::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t TickCount();
// Elapsed driver milliseconds between two tick counts (unsigned difference).
inline uint32_t TicksSince(uint32_t start, uint32_t now) {
    return now - start;
}
void SleepMs(uint32_t ms);
// Real milliseconds for a span of driver milliseconds (at least 1 for ms > 0).
uint32_t RealMs(uint32_t driverMs);
double TimeScale();

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();

}  // namespace orvo::platform
