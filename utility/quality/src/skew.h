// The content's angle on a bilevel page, by Leptonica's sweep and search
// over the differential row sums of text lines (the library stays behind
// this one call).
#pragma once

#include "orvo/quality/page.h"

namespace orvo::quality {

struct SkewResult {
    bool found = false;  // the page has lines enough to tell
    double degrees = 0;  // counter-clockwise positive
};

// `page` must be bilevel.
SkewResult FindSkew(const Page& page);

}  // namespace orvo::quality
