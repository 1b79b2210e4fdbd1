// The table-driven 4-bit gray decoder against the bit-by-bit reference: on
// any data, any line count and any destination size both leave the same
// bytes in the destination, and neither writes outside it.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::FuzzGrayPage(orvo::fuzz::TheDecoder(), input, size, &orvo::Decoder::DecodeGray4Page,
                             &orvo::Decoder::DecodeGray4PageReference);
    return 0;
}
