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

// The longest document the scanner can send: the worker stops a side at 1024
// blocks of 32768 bytes (held from the document's first block), and a rear
// that starts there still gets its first block.
inline constexpr std::size_t kLongestSideBytes = 1024u * 32768u;      // 33,554,432
inline constexpr std::size_t kLongestDocumentBytes = 1025u * 32768u;  // 33,587,200

// Bilevel modes (0, 1, 2) and 16-level gray (3) are sized from 324 and 2592
// bytes per line with half as much again for the coding; 256-level gray (4),
// and every mode at resolution 1, from 10368 bytes per line. Any non-zero
// side counts as two-sided. A profile without a usable length (ScanLines1 0
// or less: the scanner then sends each page at its own length) gets buffers
// for the longest document: kLongestDocumentBytes for ScanBuf and DecodeBuf,
// kLongestSideBytes for ImageBuf. Sizes are computed in 64 bits, so large
// settings give large sizes instead of wrapping.
BatchBufferSizes SizeBatchBuffers(int scanMode1, int resolution, int side, int scanLines1);

}  // namespace orvo
