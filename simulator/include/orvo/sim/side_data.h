// The bytes the scanner delivers for a document: per side a 64-byte header
// (markers, block count, image size, MICR text) followed by the image data
// the window asks for, padded with zeros to whole 32768-byte blocks; the rear
// side starts at the block after the front's last block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orvo/sim/image.h"
#include "orvo/sim/window.h"

namespace orvo::sim {

using commandset::kBlockSize;
inline constexpr size_t kSideHeaderSize = 64;
inline constexpr size_t kMicrOffset = 17;
inline constexpr size_t kMicrMaxChars = 46;  // plus the CR
// Bounds of a side image whatever the window asks for.
inline constexpr int kMaxSideWidth = 5184;
inline constexpr int kMaxSideLines = 4000;
// Image data given verbatim: at most as much as 1024 blocks hold.
inline constexpr size_t kMaxSideDataBytes = 1024 * kBlockSize;

struct SideOptions {
    std::string micr;           // MICR text, only sent when the window's MicrDetect is on
    bool alignEol = false;      // fill bits so that every EOL ends on a byte boundary
    bool omitRtc = false;       // coded data: the RTC's bits are sent as zeros
    int claimBlocks = -1;       // >= 0: header claims this block count instead of the real one
    bool micrNoCr = false;      // MICR field without its CR
    bool wrongMarkers = false;  // markers 0x55 0xAA (front) or 0xAA 0x55 (rear)
    // Image data sent as they are instead of coding the page.
    const std::vector<uint8_t>* imageData = nullptr;
};

struct SideData {
    std::vector<uint8_t> bytes;    // header + image data + zero padding to whole blocks
    size_t blocks = 0;             // real block count
    uint32_t imageBytes = 0;       // image data bytes
    uint32_t actualImageSize = 0;  // header field: image data in 16-bit words
    size_t rtcOffset = 0;          // coded data: offset (from the side's start) of the RTC's
    size_t rtcEnd = 0;             //   first byte and one past its last byte; 0 otherwise
    bool coded = false;
};

// How the scanner codes a side for the window: 0 bilevel MH, 3 4-bit gray,
// 4 8-bit gray (scan modes other than 3 and 4 scan bilevel).
int SideBitsPerPixel(const WindowSettings& w);
// The page fitted to the window (ScanWidth x ScanLines1, 0 = the page's own,
// bounded by kMaxSideWidth and kMaxSideLines) and converted to the values the
// side carries: 1/0 (black/white) for bilevel, 0-15 for 4-bit, 0-255 for 8-bit.
// The page cropped or padded (white) to the window's width and scan length
// (0: its own), at most kMaxSideWidth x kMaxSideLines.
Image FitToWindow(const Image& page, const WindowSettings& w);
Image SideValues(const Image& page, const WindowSettings& w);

SideData BuildSide(const Image& page, bool front, const WindowSettings& w,
                   const SideOptions& options);

struct DocumentData {
    std::vector<uint8_t> bytes;  // front blocks, then rear blocks
    size_t frontBlocks = 0;
    size_t rearBlocks = 0;
};

// Front only when the window says so (byte 31 = 1) or rear is null.
DocumentData BuildDocument(const Image& front, const SideOptions& frontOptions, const Image* rear,
                           const SideOptions& rearOptions, const WindowSettings& w);

}  // namespace orvo::sim
