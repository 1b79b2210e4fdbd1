// DecodeMhPage over arbitrary data: decoded rows stay inside the destination
// and the work buffer, whatever the data and the line count say.
#include <algorithm>

#include "fuzz_support.h"
#include "orvo/image/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    const long framed = size > 1 ? std::min(orvo::EolCount(input + 1, size - 1), 4000L) : -6;
    orvo::fuzz::PageRun run = orvo::fuzz::PreparePage(input, size, orvo::kMhRowBytes, framed);
    // The work buffer: large enough for the data, or cut short.
    std::vector<uint8_t> work(size % 3 == 0 ? run.length / 2 : run.length);
    orvo::fuzz::TheDecoder().DecodeMhPage(run.data, run.length, run.lines, work.data(), work.size(),
                                          run.dst.data(), run.dst.size());
    return 0;
}
