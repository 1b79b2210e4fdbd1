#include "orvo/batch/buffer_sizing.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

void ExpectSizes(const BatchBufferSizes& s, std::size_t n, std::size_t image) {
    EXPECT_EQ(s.scanBuf, n);
    EXPECT_EQ(s.decodeBuf, n);
    EXPECT_EQ(s.imageBuf, image);
}

TEST(BufferSizing, ExamplesOfTheTwoKindsOfBatch) {
    ExpectSizes(SizeBatchBuffers(4, 0, 1, 100), 2073600, 2073600);
    ExpectSizes(SizeBatchBuffers(0, 0, 0, 100), 48600, 48600);
}

TEST(BufferSizing, BilevelModesAwayFromResolutionOne) {
    for (int mode : {0, 1, 2}) {
        for (int res : {0, 2, 3, 4, 5}) {
            const BatchBufferSizes one = SizeBatchBuffers(mode, res, 0, 101);
            ExpectSizes(one, 49086, 49086);  // trunc(101 * 324 * 1.5)
            EXPECT_FALSE(one.unknownScanMode);
            ExpectSizes(SizeBatchBuffers(mode, res, 1, 101), 98172, 98172);
        }
    }
}

TEST(BufferSizing, SixteenLevelGrayHalvesTheImageBuffer) {
    ExpectSizes(SizeBatchBuffers(3, 0, 0, 101), 392688, 196344);  // 101 * 3888
    ExpectSizes(SizeBatchBuffers(3, 5, 1, 101), 785376, 392688);
}

TEST(BufferSizing, EightBitGrayAtAnyResolution) {
    for (int res : {0, 1, 2, 3, 4, 5}) {
        ExpectSizes(SizeBatchBuffers(4, res, 0, 3), 31104, 31104);
        ExpectSizes(SizeBatchBuffers(4, res, 1, 3), 62208, 62208);
    }
}

TEST(BufferSizing, ResolutionOneScansEveryModeAsEightBitGray) {
    for (int mode : {0, 1, 2, 3}) {
        ExpectSizes(SizeBatchBuffers(mode, 1, 0, 102), 1057536, 1057536);
        ExpectSizes(SizeBatchBuffers(mode, 1, 1, 102), 2115072, 2115072);
    }
}

TEST(BufferSizing, AnyNonZeroSideCountsAsTwoSided) {
    for (int side : {1, 2, -1, 255}) {
        ExpectSizes(SizeBatchBuffers(0, 0, side, 100), 97200, 97200);
    }
}

TEST(BufferSizing, UnknownScanModesGetTheLargestSizing) {
    for (int mode : {-1, 5, 255}) {
        const BatchBufferSizes s = SizeBatchBuffers(mode, 0, 1, 100);
        EXPECT_TRUE(s.unknownScanMode);
        ExpectSizes(s, 2073600, 2073600);
    }
}

TEST(BufferSizing, WithoutALengthTheLongestDocumentFits) {
    // 1025 blocks of 32768 bytes for a document, 1024 for one side.
    for (int mode : {0, 3, 4, 7}) {
        ExpectSizes(SizeBatchBuffers(mode, 0, 1, 0), 33587200, 33554432);
        ExpectSizes(SizeBatchBuffers(mode, 1, 0, -5), 33587200, 33554432);
        ExpectSizes(SizeBatchBuffers(mode, 2, 1, -2147483647 - 1), 33587200, 33554432);
    }
}

TEST(BufferSizing, LargeSettingsDoNotWrap) {
    // 2 * 300000 * 10368 is past 2^32: kept whole rather than wrapped small.
    ExpectSizes(SizeBatchBuffers(4, 0, 1, 300000), 6220800000u, 6220800000u);
    ExpectSizes(SizeBatchBuffers(3, 0, 1, 2147483647), 16698832839072u, 8349416419536u);
}

}  // namespace
}  // namespace orvo
