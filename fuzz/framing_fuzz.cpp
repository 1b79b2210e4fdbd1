// EOL count and RTC search over arbitrary data, checked against a plain
// reading of the EOL anchor rule and against each other.
#include <cstdlib>

#include "fuzz_support.h"
#include "orvo/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    long anchors = 0;
    long lastAnchor = -1;
    for (std::size_t i = 0; i < size; ++i) {
        if (orvo::IsEolAnchor(data, size, i)) {
            ++anchors;
            lastAnchor = static_cast<long>(i);
        }
    }
    if (orvo::EolCount(data, size) != anchors - 6) std::abort();
    const long rtc = orvo::RtcSearch(data, size);
    if (rtc < -1 || rtc >= static_cast<long>(size)) std::abort();
    // An RTC needs six anchors, the sixth just before the result.
    if (rtc >= 0) {
        if (anchors < 6 || rtc > lastAnchor + 1) std::abort();
        if (!orvo::IsEolAnchor(data, size, static_cast<std::size_t>(rtc - 1))) std::abort();
        // Through the RTC there are at least six anchors.
        if (orvo::EolCount(data, static_cast<std::size_t>(rtc + 1)) < 0) std::abort();
    }
    return 0;
}
