// Reading a page file into memory for the image view: TIFF through libtiff
// (bilevel Group 4, Group 3 or uncompressed; 4-bit and 8-bit gray
// uncompressed, LZW or PackBits; anything else libtiff can turn into RGBA),
// Windows bitmaps through Qt (1, 4 and 8 bits with a palette, and the other
// depths Qt reads). The loader never shows anything; a file it cannot read
// gives a short reason instead of an image.
#pragma once

#include <QImage>
#include <QString>

namespace orvo::widgets {

struct LoadedImage {
    // Bilevel TIFF pages packed (see MakeBilevel in block_reduce.h), grey
    // pages and bitmaps with a grey palette Grayscale8 (0 black, 255 white),
    // colour RGB32; null when the file could not be read.
    QImage image;
    bool bilevel = false;
    int xResolution = 0;  // dots per inch as the file states them, 0 when it does not
    int yResolution = 0;
    QString error;  // why there is no image; empty when there is one

    bool ok() const { return !image.isNull(); }
};

// Pages larger than this are refused rather than allocated.
inline constexpr qint64 kMaxImagePixels = qint64(200) * 1000 * 1000;

LoadedImage LoadImageFile(const QString& path);

}  // namespace orvo::widgets
