// DecodeGray4Page over arbitrary data: rows stay inside the destination,
// whatever the data and the line count say.
#include "fuzz_support.h"
#include "orvo/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    // The callers cut the data at the RTC and count the lines in front of it.
    long framed = -6;
    std::size_t coded = 0;
    if (size > 1) {
        coded = static_cast<std::size_t>(orvo::RtcSearch(input + 1, size - 1) + 1);
        framed = orvo::EolCount(input + 1, coded);
    }
    orvo::fuzz::PageRun run = orvo::fuzz::PreparePage(input, size, orvo::kGrayRowBytes, framed);
    // Odd shapes decode all of the data, the others only up to the RTC.
    const std::size_t length = (input[0] & 0x80) != 0 ? run.length : coded;
    orvo::fuzz::TheDecoder().DecodeGray4Page(run.data, length, run.lines, run.dst.data(),
                                             run.dst.size());
    return 0;
}
