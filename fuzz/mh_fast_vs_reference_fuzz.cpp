// The fast bilevel decoder against the bit-by-bit reference: on any data, any
// line count and any destination size both leave the same bytes in the
// destination. Odd selector bytes also change code table entries, so that
// the lookup tables are derived from tables other than the usual ones.
#include <algorithm>
#include <cstdlib>

#include "fuzz_support.h"
#include "orvo/image/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::Input in(input, size);
    const uint8_t selector = in.Byte();
    static auto tables = std::make_unique<orvo::CodeTables>();
    *tables = orvo::fuzz::Tables();
    if (selector & 1) {
        // Up to 15 entries, three bytes each: 14-bit index, then the entry.
        for (int k = 0; k < (selector >> 4); ++k) {
            const uint16_t index = in.Word() & 0x3FFF;
            const uint8_t entry = in.Byte();
            ((selector & 2) ? tables->black : tables->white)[index] = entry;
        }
    }
    const uint8_t* page = in.rest();
    const std::size_t pageSize = in.restSize();
    const long framed = pageSize > 1 ? std::min(orvo::EolCount(page + 1, pageSize - 1), 4000L) : -6;
    orvo::fuzz::PageRun run = orvo::fuzz::PreparePage(page, pageSize, orvo::kMhRowBytes, framed);
    std::vector<uint8_t> refDst = run.dst;
    std::vector<uint8_t> work(run.length);

    static orvo::Decoder usual(orvo::fuzz::Tables());
    std::unique_ptr<orvo::Decoder> own;
    orvo::Decoder* d = &usual;
    if (selector & 1) {
        own = std::make_unique<orvo::Decoder>(*tables);
        d = own.get();
    }
    d->DecodeMhPage(run.data, run.length, run.lines, work.data(), work.size(), run.dst.data(),
                    run.dst.size());
    d->DecodeMhPageReference(run.data, run.length, run.lines, work.data(), work.size(),
                             refDst.data(), refDst.size());
    if (run.dst != refDst) std::abort();
    return 0;
}
