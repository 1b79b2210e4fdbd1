#include "orvo/batch/buffer_sizing.h"

#include <cmath>
#include <cstdint>

#include "orvo/core/scan_kinds.h"

namespace orvo {

namespace {

constexpr int64_t kBilevelLineBytes = 324;
constexpr int64_t kGray4LineBytes = 2592;
constexpr int64_t kGray8LineBytes = 10368;

// Coded data may take half as much again as the plain rows.
int64_t CodedSize(int64_t lines, int64_t lineBytes) {
    return static_cast<int64_t>(std::trunc(static_cast<double>(lines) * lineBytes * 1.5));
}

}  // namespace

BatchBufferSizes SizeBatchBuffers(int scanMode1, int resolution, int side, int scanLines1) {
    BatchBufferSizes sizes;
    const ScanMode mode = ScanModeOf(scanMode1);
    sizes.unknownScanMode = !IsBilevel(mode) && !IsGray(mode);
    if (scanLines1 <= 0) {
        sizes.scanBuf = kLongestDocumentBytes;
        sizes.imageBuf = kLongestSideBytes;
        sizes.decodeBuf = kLongestDocumentBytes;
        return sizes;
    }
    const int64_t sides = side != 0 ? 2 : 1;
    const int64_t lines = scanLines1;
    int64_t n = 0;
    int64_t image = 0;
    if (mode == ScanMode::kGray256 || sizes.unknownScanMode ||
        ResolutionOf(resolution) == Resolution::kDpi300Widened) {
        n = sides * lines * kGray8LineBytes;
        image = n;
    } else if (mode == ScanMode::kGray16) {
        n = CodedSize(lines, kGray4LineBytes) * sides;
        image = n / 2;
    } else {
        n = CodedSize(lines, kBilevelLineBytes) * sides;
        image = n;
    }
    sizes.scanBuf = static_cast<std::size_t>(n);
    sizes.imageBuf = static_cast<std::size_t>(image);
    sizes.decodeBuf = static_cast<std::size_t>(n);
    return sizes;
}

}  // namespace orvo
