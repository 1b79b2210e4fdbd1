#include "skew.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace orvo::quality {

namespace {

// Leptonica's sweep: the page reduced 4 times for the sweep and the search,
// angles within 7 degrees either way, a step of 1 degree for the sweep and
// 0.05 degrees at the end of the search (a cheque's lines end well inside
// that). A reduced page of a cheque costs about half a millisecond.
constexpr int kSweepReduction = 4;
constexpr int kSearchReduction = 4;
constexpr float kSweepRange = 7.0f;
constexpr float kSweepDelta = 1.0f;
constexpr float kSearchDelta = 0.05f;
// Below this confidence (Leptonica's ratio of the best score to the mean)
// the page has no lines to measure by.
constexpr float kMinConfidence = 3.0f;

struct PixDeleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};

}  // namespace

SkewResult FindSkew(const Page& page) {
    static std::once_flag quiet;
    // The library's notes would go to stderr; results are told by the caller.
    std::call_once(quiet, [] { setMsgSeverity(L_SEVERITY_NONE); });
    SkewResult result;
    if (!page.bilevel() || page.width < 64 || page.height < 64) return result;
    std::unique_ptr<PIX, PixDeleter> pix(pixCreateNoInit(page.width, page.height, 1));
    if (!pix) return result;
    // Leptonica keeps 1-bit rows in 32-bit words, leftmost pixel in the most
    // significant bit of each word: the page's bytes, swapped to the host's
    // word order.
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    const std::size_t rowBytes = static_cast<std::size_t>(wpl) * 4;
    for (int y = 0; y < page.height; ++y) {
        std::memcpy(data + static_cast<std::size_t>(y) * wpl, page.row(y),
                    std::min(rowBytes, page.stride));
    }
    pixEndianByteSwap(pix.get());
    l_float32 angle = 0, confidence = 0;
    if (pixFindSkewSweepAndSearch(pix.get(), &angle, &confidence, kSweepReduction, kSearchReduction,
                                  kSweepRange, kSweepDelta, kSearchDelta) != 0) {
        return result;
    }
    result.found = confidence >= kMinConfidence;
    result.degrees = result.found ? angle : 0.0;
    return result;
}

}  // namespace orvo::quality
