// A page file read back for the quality checks: its pixels in one of two
// forms (packed bilevel rows or 8-bit gray rows), its resolution and what
// the file itself weighs.
//
// In the scanner's pages a scan line is an image row: the rows follow the
// feed, so the number of rows is the document's length and the pixels of a
// row its height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::quality {

// The resolution assumed for a file that names none (a bitmap without its
// pixels-per-metre fields): the scanner's usual 200 dpi.
inline constexpr double kAssumedDpi = 200.0;

struct Page {
    int width = 0;         // pixels per row (across the feed)
    int height = 0;        // rows (along the feed)
    int bitsPerPixel = 1;  // as stored: 1 (bilevel), 4 or 8 (gray)
    double xDpi = kAssumedDpi;
    double yDpi = kAssumedDpi;
    bool resolutionAssumed = false;
    bool compressed = false;  // the file's pixels are coded (Group 3/4, LZW, PackBits, ...)
    int64_t fileBytes = 0;
    int pagesInFile = 1;  // a TIFF may hold more; the first is read

    // Bilevel pages: packed rows, 1 = black, the leftmost pixel in the most
    // significant bit, padding bits 0. Gray pages: one byte per pixel,
    // 0 = black (4-bit values spread over 0-255). `stride` bytes a row, a
    // multiple of 8.
    std::vector<uint8_t> pixels;
    std::size_t stride = 0;

    bool bilevel() const { return bitsPerPixel == 1; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * stride; }
    uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * stride; }
    // Sizes the pixel buffer for width x height (all white) in this form.
    void Allocate(int w, int h, int bits);
};

// Reads a page file: TIFF (bilevel of any coding libtiff reads, 4- or 8-bit
// gray) or a Windows bitmap (1, 4 or 8 bits per pixel with a palette). Only a
// regular file is read. False with the file and the reason in *error.
bool ReadPageFile(const std::string& path, Page* page, std::string* error);

}  // namespace orvo::quality
