// A page as SANE frames carry it, from the image file the driver wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::sane {

// A gray frame: depth 1 (1 = black, most significant bit first, unused bits
// of a row's last byte 0) or depth 8 (0 = black).
struct Frame {
    int depth = 1;
    int pixelsPerLine = 0;
    int bytesPerLine = 0;
    int lines = 0;
    std::vector<uint8_t> data;  // lines * bytesPerLine bytes
};

// Reads a TIFF page file of the driver: bilevel pages as depth 1, gray pages
// of 4 or 8 bits per pixel as depth 8 (a 4-bit value v becomes v * 17).
// False with the reason in `error` when the file is no such page.
bool ReadPageFile(const std::string& path, Frame* frame, std::string* error);

// Drops `leftPixels` columns at the left and `topRows` rows at the top of a
// frame; at least one column and one row stay.
void CropFrame(Frame* frame, int leftPixels, int topRows);

// Ends a frame after `rows` rows (at least one); true when it was longer.
bool EndFrameAt(Frame* frame, int rows);

}  // namespace orvo::sane
