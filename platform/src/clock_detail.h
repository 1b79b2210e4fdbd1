// Internals of the clock, open to the platform's own tests.
#pragma once

namespace orvo::platform::detail {

// Scale from the text of ORVOSCAN_TIME_SCALE: a finite number >= 1 (capped at
// one million); anything else gives 1.
double ParseTimeScale(const char* text);

}  // namespace orvo::platform::detail
