// Names for the numbers OrvoScan.ini and the scanner use for scan modes,
// compression, page file formats and resolutions. The settings file and the
// window block keep the numbers; code compares names. A stored value outside
// the named ones converts all the same (the underlying type is int) and is
// answered by the helpers as "none of these".
#pragma once

namespace orvo {

// ScanMode1..3: what the scanner delivers per pixel.
enum class ScanMode : int {
    kBilevel = 0,              // black and white, threshold BWSlice
    kBilevelCompressible = 1,  // black and white; compression allowed
    kBilevelMode2 = 2,         // black and white, the scanner's mode 2
    kGray16 = 3,               // 16 grey levels, 4 bits per pixel
    kGray256 = 4,              // 256 grey levels, 8 bits per pixel
};

constexpr ScanMode ScanModeOf(int stored) {
    return static_cast<ScanMode>(stored);
}

constexpr bool IsBilevel(ScanMode mode) {
    return mode == ScanMode::kBilevel || mode == ScanMode::kBilevelCompressible ||
           mode == ScanMode::kBilevelMode2;
}

constexpr bool IsGray(ScanMode mode) {
    return mode == ScanMode::kGray16 || mode == ScanMode::kGray256;
}

// 1, 4 or 8; 0 for a value that is no scan mode.
constexpr int BitsPerPixel(ScanMode mode) {
    if (IsBilevel(mode)) return 1;
    if (mode == ScanMode::kGray16) return 4;
    if (mode == ScanMode::kGray256) return 8;
    return 0;
}

// CompressMode: whether the scanner codes the image data.
enum class Compression : int {
    kCoded = 0,  // MH lines (bilevel) or the gray coding, decoded by the driver
    kPlain = 1,  // uncompressed rows
};

constexpr Compression CompressionOf(int stored) {
    return static_cast<Compression>(stored);
}

// ImageFileFormat and OrvoScan_ImageFormat (ORVOSCAN_FORMAT_* in orvoscan.h).
enum class ImageFormat : int {
    kTiff = 0,
    kBitmap = 1,
    kRaw = 2,
};

constexpr ImageFormat ImageFormatOf(int stored) {
    return static_cast<ImageFormat>(stored);
}

constexpr bool IsImageFormat(int stored) {
    return stored >= static_cast<int>(ImageFormat::kTiff) &&
           stored <= static_cast<int>(ImageFormat::kRaw);
}

// Resolution: the scanner's resolution code (pixels per mm across x lines per
// mm along in the settings dialog; dots per inch in a TIFF page).
enum class Resolution : int {
    kDpi200 = 0,             // 8 x 8
    kDpi300Widened = 1,      // 8 x 12: 8-bit gray rows widened by 1.5
    kDpi100 = 2,             // 4 x 4
    kDpi200RowsDoubled = 3,  // 8 x 8: gray pages with their rows doubled
    kDpi300 = 4,             // 12 x 12
    kDpi300By100 = 5,        // 12 x 4
};

constexpr Resolution ResolutionOf(int stored) {
    return static_cast<Resolution>(stored);
}

constexpr bool IsResolution(int stored) {
    return stored >= static_cast<int>(Resolution::kDpi200) &&
           stored <= static_cast<int>(Resolution::kDpi300By100);
}

}  // namespace orvo
