// EOL count and RTC search over arbitrary data, checked against a plain
// byte-by-byte reading of the EOL anchor and RTC rules and against each
// other.
#include <cstdlib>

#include "fuzz_support.h"
#include "orvo/image/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    long anchors = 0;
    long rtc = -1;
    long anchorsThroughRtc = 0;
    std::size_t lastAnchor = 0;
    int run = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (i > lastAnchor + 2) run = 0;
        if (orvo::IsEolAnchor(data, size, i)) {
            ++anchors;
            lastAnchor = i;
            if (++run == 6 && rtc < 0) {
                rtc = static_cast<long>(i + 1);
                anchorsThroughRtc = anchors;
            }
        }
    }
    if (orvo::EolCount(data, size) != anchors - 6) std::abort();
    if (orvo::RtcSearch(data, size) != rtc) std::abort();
    const orvo::RtcScan scan = orvo::RtcSearchCounting(data, size);
    if (scan.rtc != rtc) std::abort();
    if (scan.anchors != (rtc < 0 ? anchors : anchorsThroughRtc)) std::abort();
    if (rtc >= 0) {
        if (rtc >= static_cast<long>(size)) std::abort();
        // The EOL count of the data through the RTC is the count passed.
        const std::size_t through = std::min(static_cast<std::size_t>(rtc) + 1, size);
        if (orvo::EolCount(data, through) != scan.anchors - 6) std::abort();
    }
    return 0;
}
