// Page images of the virtual scanner: 8-bit gray pixels (0 = black,
// 255 = white), row after row, top row first. Bilevel sources are held as
// 0/255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::sim {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height bytes

    Image() = default;
    Image(int w, int h, uint8_t fill = 255)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads a TIFF (any kind libtiff can render: bilevel, gray, colour) or a
// binary PNM (P4 bilevel, P5 gray with maxval 255). Colour becomes gray.
// Returns false with a reason in *error when the file cannot be used.
bool LoadImageFile(const std::string& path, Image* out, std::string* error);

// A cheque-like page drawn from a seed: border, printed lines and text
// blocks, a signature stroke, a shaded band and a MICR band (front), or an
// endorsement stamp and a few handwritten strokes (rear).
Image SyntheticCheque(int seed, bool front);

struct PageDefects;

// The document-level defects (blank, lines, skew, brightness, specks) applied
// to a page; `seed` places the specks.
Image WithDefects(const Image& page, const PageDefects& defects, int seed);

// Dark columns, 2 pixels wide, over the whole height of a scanned page.
void DrawStreaks(Image& scanned, const std::vector<int>& columns);

// Crops or pads (white) the image to exactly width x height; a width or
// height of 0 keeps the image's own.
Image FitImage(const Image& src, int width, int height);

}  // namespace orvo::sim
