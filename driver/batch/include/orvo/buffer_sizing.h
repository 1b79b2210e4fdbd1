// Sizes of the batch buffers ScanBuf, ImageBuf and DecodeBuf from the
// settings of the batch's profile.
#pragma once

#include <cstddef>

namespace orvo {

struct BatchBufferSizes {
    std::size_t scanBuf = 0;    // N: one document, front and rear
    std::size_t imageBuf = 0;   // one page file as read back
    std::size_t decodeBuf = 0;  // decoded rows, N like ScanBuf
    // The scan mode is not one of 0..4; the sizes are those of 8-bit gray,
    // the largest there are, so that no page can overflow them.
    bool unknownScanMode = false;
};

// Bilevel modes (0, 1, 2) and 16-level gray (3) are sized from 324 and 2592
// bytes per line with half as much again for the coding; 256-level gray (4),
// and every mode at resolution 1, from 10368 bytes per line. Any non-zero
// side counts as two-sided. Negative scan lines give empty buffers. Sizes are
// computed in 64 bits, so large settings give large sizes instead of wrapping.
BatchBufferSizes SizeBatchBuffers(int scanMode1, int resolution, int side, int scanLines1);

}  // namespace orvo
