// The table-driven 8-bit gray decoder against the bit-by-bit reference: on
// any data, any line count and any destination size both leave the same
// bytes in the destination, and neither writes outside it. An odd first byte
// also changes entries of the gray code table, so that the lookup tables are
// derived from tables other than the usual one (EOL-class codes, make-up
// codes of value 0, a missing or longer zero code).
#include <memory>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::Input in(input, size);
    const uint8_t selector = in.Byte();
    orvo::Decoder* decoder = &orvo::fuzz::TheDecoder();
    std::unique_ptr<orvo::CodeTables> tables;
    std::unique_ptr<orvo::Decoder> own;
    if (selector & 1) {
        tables = std::make_unique<orvo::CodeTables>(orvo::fuzz::Tables());
        // Up to 127 entries, three bytes each: 9-bit index, then the entry.
        for (int k = 0; k < (selector >> 1); ++k) {
            const uint16_t index = in.Word() & 0x1FF;
            tables->gray[index] = in.Byte();
        }
        own = std::make_unique<orvo::Decoder>(*tables);
        decoder = own.get();
    }
    orvo::fuzz::FuzzGrayPage(*decoder, in.rest(), in.restSize(), &orvo::Decoder::DecodeGray8Page,
                             &orvo::Decoder::DecodeGray8PageReference);
    return 0;
}
