// DecodeGray4Page over arbitrary data: rows stay inside the destination,
// whatever the data and the line count say.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::FuzzGrayPage(input, size, &orvo::Decoder::DecodeGray4Page);
    return 0;
}
