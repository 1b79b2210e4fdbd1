#include "orvo/core/scan_kinds.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

// What each stored ScanMode value means: bilevel or gray, and its bits per
// pixel. Values outside 0-4 are neither.
TEST(ScanKindsTest, StoredScanModesByKindAndDepth) {
    const struct {
        int stored;
        bool bilevel, gray;
        int bits;
    } cases[] = {{-1, false, false, 0}, {0, true, false, 1}, {1, true, false, 1},
                 {2, true, false, 1},   {3, false, true, 4}, {4, false, true, 8},
                 {5, false, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const ScanMode mode = ScanModeOf(c.stored);
        EXPECT_EQ(IsBilevel(mode), c.bilevel);
        EXPECT_EQ(IsGray(mode), c.gray);
        EXPECT_EQ(BitsPerPixel(mode), c.bits);
    }
}

// The page formats 0-2 and the resolution codes 0-5 are known; nothing
// around them is.
TEST(ScanKindsTest, StoredFormatsAndResolutionsInRange) {
    for (int stored = -2; stored <= 7; ++stored) {
        SCOPED_TRACE(stored);
        EXPECT_EQ(IsImageFormat(stored), stored >= 0 && stored <= 2);
        EXPECT_EQ(IsResolution(stored), stored >= 0 && stored <= 5);
    }
    EXPECT_EQ(ImageFormatOf(2), ImageFormat::kRaw);
    EXPECT_EQ(CompressionOf(0), Compression::kCoded);
    EXPECT_EQ(ResolutionOf(1), Resolution::kDpi300Widened);
    EXPECT_EQ(ResolutionOf(3), Resolution::kDpi200RowsDoubled);
}

}  // namespace
}  // namespace orvo
