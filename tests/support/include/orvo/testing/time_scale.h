// The driver clock's speed-up (ORVOSCAN_TIME_SCALE) for a test that runs the
// virtual scanner.
#pragma once

#include <string>

#if defined(__has_feature)
#define ORVO_TESTING_HAS_FEATURE(x) __has_feature(x)
#else
#define ORVO_TESTING_HAS_FEATURE(x) 0
#endif

namespace orvo::testing {

// Under ThreadSanitizer the virtual scanner codes its documents several times
// slower, inside the driver's waits for its answers; a gentler clock keeps
// those waits well above that work on a loaded machine: 4 for scales up to
// 10, 8 for scales up to 20. Real time (1), slower clocks, and faster ones
// (tests of long waits) are kept as asked.
inline double GentleTimeScale(double scale) {
#if defined(__SANITIZE_THREAD__) || ORVO_TESTING_HAS_FEATURE(thread_sanitizer)
    if (scale > 4.0 && scale <= 10.0) return 4.0;
    if (scale > 10.0 && scale <= 20.0) return 8.0;
#endif
    return scale;
}

inline std::string GentleTimeScale(const std::string& scale) {
    const double wanted = std::stod(scale);
    const double gentle = GentleTimeScale(wanted);
    return gentle == wanted ? scale : std::to_string(gentle);
}

}  // namespace orvo::testing
