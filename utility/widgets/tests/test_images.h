// Image files for the image view's tests, written with libtiff (TIFF) and by
// hand (bitmap), and libtiff's own reading of a TIFF file as the reference.
#pragma once

#include <tiffio.h>

#include <QImage>
#include <QString>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace testimages {

// Grey values 0..255, row-major, top row first.
struct Grey {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// A page with strokes, text-like blocks and a gradient, so that every
// format has something to get wrong: values quantised to `levels` (2, 16 or
// 256) levels over 0..255.
inline Grey Pattern(int width, int height, int levels) {
    Grey g{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int v = (x * 255) / std::max(1, width - 1);
            if ((x / 7 + y / 5) % 9 == 0) v = 0;
            if (y % 37 == 3 || x % 53 == 11) v = 0;
            if (x > width / 3 && x < width / 3 + 40 && y > height / 4 && y < height / 4 + 30) {
                v = 255;
            }
            if (levels == 2) {
                v = v < 128 ? 0 : 255;
            } else if (levels == 16) {
                v = (v / 17) * 17;
            }
            g.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<uint8_t>(v);
        }
    }
    return g;
}

// Writes `g` as a TIFF: bits 1 (photometric MINISWHITE unless minIsBlack),
// 4 or 8 (MINISBLACK unless !minIsBlack), with the compression given.
inline bool WriteTiff(const std::string& path, const Grey& g, int bits, int compression,
                      bool minIsBlack, float dpi = 200.0f, uint16_t unit = RESUNIT_INCH,
                      int rowsPerStrip = 0) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    const uint16_t photometric = minIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(g.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(g.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(1));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 static_cast<uint32_t>(rowsPerStrip > 0 ? rowsPerStrip : g.height));
    if (compression == COMPRESSION_CCITTFAX3) {
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, static_cast<uint32_t>(GROUP3OPT_2DENCODING));
    }
    std::vector<uint8_t> row(static_cast<std::size_t>((g.width * bits + 7) / 8));
    for (int y = 0; y < g.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < g.width; ++x) {
            int v = g.at(x, y);
            if (!minIsBlack) v = 255 - v;
            if (bits == 1) {
                if (v >= 128) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else if (bits == 4) {
                const int nibble = v / 17;
                row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? nibble << 4 : nibble);
            } else {
                row[x] = static_cast<uint8_t>(v);
            }
        }
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) != 1) {
            TIFFClose(tif);
            return false;
        }
    }
    TIFFClose(tif);
    return true;
}

// What libtiff makes of the file: its RGBA reading, red channel (the files
// are grey), or an empty image when libtiff cannot read it.
inline Grey ReadWithLibtiff(const std::string& path) {
    Grey g;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return g;
    uint32_t w = 0;
    uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> raster(static_cast<std::size_t>(w) * h);
    if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0) == 1) {
        g.width = static_cast<int>(w);
        g.height = static_cast<int>(h);
        g.pixels.resize(raster.size());
        for (std::size_t i = 0; i < raster.size(); ++i) g.pixels[i] = TIFFGetR(raster[i]);
    }
    TIFFClose(tif);
    return g;
}

// A bottom-up Windows bitmap of 1, 4 or 8 bits with a grey palette laid out
// as the driver lays it out (1 bit: entry 0 white, entry 1 black; otherwise
// entry i = i * 256 / entries); `indices` holds palette indices.
inline bool WriteBmp(const std::string& path, int width, int height, int bits,
                     const std::vector<uint8_t>& indices, int dotsPerMeter = 0) {
    const int entries = 1 << bits;
    const int stride = (bits * width + 31) / 32 * 4;
    const uint32_t imageBytes = static_cast<uint32_t>(stride * height);
    const uint32_t offset = 14 + 40 + 4 * entries;
    std::vector<uint8_t> out(offset + imageBytes, 0);
    auto put16 = [&](std::size_t at, uint32_t v) {
        out[at] = v & 0xFF;
        out[at + 1] = (v >> 8) & 0xFF;
    };
    auto put32 = [&](std::size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    put16(26, 1);
    put16(28, static_cast<uint32_t>(bits));
    put32(34, imageBytes);
    put32(38, static_cast<uint32_t>(dotsPerMeter));
    put32(42, static_cast<uint32_t>(dotsPerMeter));
    put32(46, static_cast<uint32_t>(entries));
    put32(50, static_cast<uint32_t>(entries));
    for (int i = 0; i < entries; ++i) {
        const uint8_t level =
            entries == 2 ? (i == 0 ? 255 : 0) : static_cast<uint8_t>(i * 256 / entries);
        out[54 + 4 * i] = out[55 + 4 * i] = out[56 + 4 * i] = level;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.data() + offset + static_cast<std::size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint8_t v = indices[static_cast<std::size_t>(y) * width + x];
            if (bits == 1) {
                if (v) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else if (bits == 4) {
                row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? v << 4 : v);
            } else {
                row[x] = v;
            }
        }
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

// The grey values of a Grayscale8 image.
inline Grey FromImage(const QImage& image) {
    Grey g;
    if (image.format() != QImage::Format_Grayscale8) return g;
    g.width = image.width();
    g.height = image.height();
    g.pixels.resize(static_cast<std::size_t>(g.width) * g.height);
    for (int y = 0; y < g.height; ++y) {
        std::copy_n(image.constScanLine(y), g.width,
                    g.pixels.begin() + static_cast<std::ptrdiff_t>(y) * g.width);
    }
    return g;
}

// First position where two grey images differ, as text ("" when equal).
inline QString FirstDifference(const Grey& a, const Grey& b) {
    if (a.width != b.width || a.height != b.height) {
        return QStringLiteral("size %1x%2 against %3x%4")
            .arg(a.width)
            .arg(a.height)
            .arg(b.width)
            .arg(b.height);
    }
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            if (a.at(x, y) != b.at(x, y)) {
                return QStringLiteral("pixel (%1,%2): %3 against %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.at(x, y))
                    .arg(b.at(x, y));
            }
        }
    }
    return QString();
}

}  // namespace testimages
