#include "orvo/sane/page_frame.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace orvo::sane {

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// Pages the driver writes are at most this size; anything larger is refused.
constexpr uint32_t kMaxSide = 1u << 15;

}  // namespace

bool ReadPageFile(const std::string& path, Frame* frame, std::string* error) {
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        *error = "cannot read the page file " + path;
        return false;
    }
    uint32_t width = 0;
    uint32_t length = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (width == 0 || length == 0 || width > kMaxSide || length > kMaxSide || samples != 1 ||
        (bits != 1 && bits != 4 && bits != 8) ||
        (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK)) {
        *error = "the page file " + path + " holds no gray or bilevel page";
        return false;
    }
    const tmsize_t lineSize = TIFFScanlineSize(tif.get());
    const std::size_t packed = (static_cast<std::size_t>(width) * bits + 7) / 8;
    if (lineSize <= 0 || static_cast<std::size_t>(lineSize) < packed) {
        *error = "the page file " + path + " has rows of an unexpected size";
        return false;
    }

    Frame f;
    f.depth = bits == 1 ? 1 : 8;
    f.pixelsPerLine = static_cast<int>(width);
    f.bytesPerLine = static_cast<int>(bits == 1 ? packed : width);
    f.lines = static_cast<int>(length);
    f.data.assign(static_cast<std::size_t>(f.bytesPerLine) * length, 0);
    std::vector<uint8_t> row(static_cast<std::size_t>(lineSize));
    // SANE's lineart is 1 = black; 8-bit gray is 0 = black.
    const bool invert =
        bits == 1 ? photometric == PHOTOMETRIC_MINISBLACK : photometric == PHOTOMETRIC_MINISWHITE;
    const uint8_t lastMask =
        width % 8 == 0 ? uint8_t{0xFF} : static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (uint32_t y = 0; y < length; ++y) {
        if (TIFFReadScanline(tif.get(), row.data(), y, 0) != 1) {
            *error = "the page file " + path + " could not be read to its end";
            return false;
        }
        uint8_t* out = f.data.data() + static_cast<std::size_t>(y) * f.bytesPerLine;
        if (bits == 1) {
            for (std::size_t i = 0; i < packed; ++i)
                out[i] = invert ? static_cast<uint8_t>(~row[i]) : row[i];
            out[packed - 1] &= lastMask;
        } else if (bits == 8) {
            for (uint32_t x = 0; x < width; ++x)
                out[x] = invert ? static_cast<uint8_t>(255 - row[x]) : row[x];
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t b = row[x / 2];
                const uint8_t v = static_cast<uint8_t>((x % 2 == 0 ? b >> 4 : b & 0x0F) * 17);
                out[x] = invert ? static_cast<uint8_t>(255 - v) : v;
            }
        }
    }
    *frame = std::move(f);
    return true;
}

void CropFrame(Frame* frame, int leftPixels, int topRows) {
    Frame& f = *frame;
    const int left = std::clamp(leftPixels, 0, std::max(0, f.pixelsPerLine - 1));
    const int top = std::clamp(topRows, 0, std::max(0, f.lines - 1));
    if (left == 0 && top == 0) return;
    const int width = f.pixelsPerLine - left;
    const int bytesPerLine = f.depth == 1 ? (width + 7) / 8 : width;
    const int lines = f.lines - top;
    std::vector<uint8_t> out(static_cast<std::size_t>(bytesPerLine) * lines);
    const int shift = left % 8;
    const uint8_t lastMask =
        width % 8 == 0 ? uint8_t{0xFF} : static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (int y = 0; y < lines; ++y) {
        const uint8_t* src = f.data.data() + static_cast<std::size_t>(y + top) * f.bytesPerLine;
        uint8_t* dst = out.data() + static_cast<std::size_t>(y) * bytesPerLine;
        if (f.depth != 1) {
            std::memcpy(dst, src + left, static_cast<std::size_t>(width));
            continue;
        }
        // Bits from `left` on, most significant bit first.
        const int first = left / 8;
        for (int i = 0; i < bytesPerLine; ++i) {
            const int at = first + i;
            const int high = src[at] << shift;
            const int low = shift != 0 && at + 1 < f.bytesPerLine ? src[at + 1] >> (8 - shift) : 0;
            dst[i] = static_cast<uint8_t>(high | low);
        }
        dst[bytesPerLine - 1] &= lastMask;
    }
    f.pixelsPerLine = width;
    f.bytesPerLine = bytesPerLine;
    f.lines = lines;
    f.data = std::move(out);
}

bool EndFrameAt(Frame* frame, int rows) {
    const int keep = std::max(rows, 1);
    if (frame->lines <= keep) return false;
    frame->lines = keep;
    frame->data.resize(static_cast<std::size_t>(frame->bytesPerLine) * keep);
    return true;
}

}  // namespace orvo::sane
