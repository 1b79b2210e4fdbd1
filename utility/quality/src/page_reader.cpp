#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "orvo/quality/page.h"
#include "orvo/quality/tiff_lzw.h"

namespace orvo::quality {

namespace {

// Larger pages than any the scanner could make are refused before anything
// is allocated for them: a row of at most 20000 pixels, at most 65535 rows
// (the scanner's longest scan), 100 million pixels in all. A page longer
// than any cheque is read and judged oversize.
constexpr int64_t kMaxWidth = 20000;
constexpr int64_t kMaxRows = 65535;
constexpr int64_t kMaxPixels = int64_t{100} * 1000 * 1000;

bool Fail(std::string* error, const std::string& path, const std::string& reason) {
    *error = path + ": " + reason;
    return false;
}

bool SizeOk(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxWidth && h <= kMaxRows && w * h <= kMaxPixels;
}

// One stored row into the page's form; `invert` when the file stores white
// as 1 (bilevel: 0 = black) or as 0 (gray: 0 = white).
void PutRow(Page& page, int y, const uint8_t* in, bool invert) {
    uint8_t* out = page.row(y);
    const int w = page.width;
    if (page.bitsPerPixel == 1) {
        const std::size_t bytes = static_cast<std::size_t>(w + 7) / 8;
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = invert ? static_cast<uint8_t>(~in[i]) : in[i];
        if (w % 8 != 0) out[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (w % 8));
    } else if (page.bitsPerPixel == 4) {
        for (int x = 0; x < w; ++x) {
            const uint8_t v =
                static_cast<uint8_t>(((x % 2) ? in[x / 2] & 0x0F : in[x / 2] >> 4) * 17);
            out[x] = invert ? static_cast<uint8_t>(255 - v) : v;
        }
    } else if (!invert) {
        std::memcpy(out, in, static_cast<std::size_t>(w));
    } else {
        for (int x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(255 - in[x]);
    }
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

bool ReadTiff(const std::string& path, int fd, int64_t fileBytes, Page* page, std::string* error) {
    // libtiff's own messages would go to stderr; the reason is told here.
    // The file is read, not mapped ("m"): a page is read once, and unmapping
    // costs more than the reads.
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(
        options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(
        options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFFdOpenExt(fd, path.c_str(), "rm", options));
    TIFFOpenOptionsFree(options);
    if (!tif) {
        ::close(fd);
        return Fail(error, path, "not a TIFF file libtiff can read");
    }
    uint32_t w = 0, h = 0;
    uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, compression = 1;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric)) {
        photometric = PHOTOMETRIC_MINISWHITE;
    }
    if (!SizeOk(w, h)) return Fail(error, path, "no page size this scanner makes");
    if (samples != 1 || (bits != 1 && bits != 4 && bits != 8) ||
        (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK)) {
        return Fail(error, path,
                    "not a bilevel or gray page (" + std::to_string(samples) + " samples of " +
                        std::to_string(bits) + " bits)");
    }
    if (TIFFIsTiled(tif.get())) return Fail(error, path, "a tiled TIFF, not a scanned page");
    page->pagesInFile = std::max<int>(1, TIFFNumberOfDirectories(tif.get()));

    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    const bool hasX = TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xres) == 1 && xres > 0;
    const bool hasY = TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres) == 1 && yres > 0;
    const double scale = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    page->Allocate(static_cast<int>(w), static_cast<int>(h), bits);
    page->resolutionAssumed = !(hasX && hasY) || unit == RESUNIT_NONE;
    if (!page->resolutionAssumed) {
        page->xDpi = xres * scale;
        page->yDpi = yres * scale;
    }
    page->compressed = compression != COMPRESSION_NONE;

    // Strip by strip into one buffer of whole rows.
    const tmsize_t lineBytes = TIFFScanlineSize(tif.get());
    if (lineBytes <= 0) return Fail(error, path, "no row size");
    std::vector<uint8_t> strip;
    uint32_t rowsPerStrip = h;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > h) rowsPerStrip = h;
    const bool invert =
        bits == 1 ? photometric == PHOTOMETRIC_MINISBLACK : photometric == PHOTOMETRIC_MINISWHITE;
    // LZW strips as the scanner's pages have them go through our own decoder
    // (libtiff's bytes, in half the time); any other strip, or one it does
    // not take, through libtiff.
    uint16_t predictor = PREDICTOR_NONE, fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_FILLORDER, &fillOrder);
    const bool ownLzw = compression == COMPRESSION_LZW && predictor == PREDICTOR_NONE &&
                        fillOrder == FILLORDER_MSB2LSB;
    std::vector<uint8_t> raw;
    uint32_t y = 0;
    for (tstrip_t s = 0; y < h; ++s) {
        const uint32_t rows = std::min(rowsPerStrip, h - y);
        const tmsize_t want = lineBytes * static_cast<tmsize_t>(rows);
        // A strip of 8-bit rows stored as the page keeps them goes straight
        // into the page.
        const bool direct =
            bits == 8 && !invert && static_cast<std::size_t>(lineBytes) == page->stride;
        uint8_t* into = page->row(static_cast<int>(y));
        if (!direct) {
            if (static_cast<std::size_t>(want) > strip.size())
                strip.resize(static_cast<std::size_t>(want));
            into = strip.data();
        }
        tmsize_t got = -1;
        if (ownLzw && s < TIFFNumberOfStrips(tif.get())) {
            const uint64_t rawBytes = TIFFRawStripSize64(tif.get(), s);
            if (rawBytes > 0 && rawBytes <= static_cast<uint64_t>(fileBytes)) {
                raw.resize(static_cast<std::size_t>(rawBytes));
                const tmsize_t read =
                    TIFFReadRawStrip(tif.get(), s, raw.data(), static_cast<tmsize_t>(rawBytes));
                if (read > 0 && DecodeTiffLzw(raw.data(), static_cast<std::size_t>(read), into,
                                              static_cast<std::size_t>(want))) {
                    got = want;
                }
            }
        }
        if (got != want) got = TIFFReadEncodedStrip(tif.get(), s, into, want);
        if (got < want) {
            return Fail(error, path,
                        "the image data is damaged or ends early (row " +
                            std::to_string(y + (got > 0 ? got / lineBytes : 0)) + " of " +
                            std::to_string(h) + ")");
        }
        for (uint32_t r = 0; !direct && r < rows; ++r) {
            PutRow(*page, static_cast<int>(y + r),
                   strip.data() + static_cast<std::size_t>(r) * lineBytes, invert);
        }
        y += rows;
    }
    return true;
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool ReadAt(int fd, uint8_t* out, std::size_t bytes, int64_t at) {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd, out + done, bytes - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The headers are read first and the page's size judged from them; only
// the bytes the headers name are read then (a file of any size, sparse or
// not, costs no more than its page).
bool ReadBmp(const std::string& path, int fd, int64_t fileBytes, Page* page, std::string* error) {
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (fileBytes < 54) return Fail(error, path, "a bitmap shorter than its headers");
    uint8_t header[54];
    if (!ReadAt(fd, header, sizeof header, 0)) return Fail(error, path, "could not be read whole");
    const uint8_t* data = header;
    const uint32_t offset = Le32(&data[10]);
    const uint32_t infoSize = Le32(&data[14]);
    if (infoSize < 40 || 14 + static_cast<int64_t>(infoSize) > fileBytes) {
        return Fail(error, path, "a bitmap header this reader does not know");
    }
    const int64_t w = static_cast<int32_t>(Le32(&data[18]));
    const int64_t rawH = static_cast<int32_t>(Le32(&data[22]));
    const bool topDown = rawH < 0;
    const int64_t h = topDown ? -rawH : rawH;
    const int bits = Le16(&data[28]);
    const uint32_t coding = Le32(&data[30]);
    const uint32_t xppm = Le32(&data[38]), yppm = Le32(&data[42]);
    uint32_t colours = Le32(&data[46]);
    if (!SizeOk(w, h)) return Fail(error, path, "no page size this scanner makes");
    if ((bits != 1 && bits != 4 && bits != 8) || coding != 0) {
        return Fail(error, path, "not a 1-, 4- or 8-bit uncompressed bitmap");
    }
    if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
    const int64_t paletteAt = 14 + static_cast<int64_t>(infoSize);
    if (paletteAt + 4 * static_cast<int64_t>(colours) > fileBytes)
        return Fail(error, path, "the palette is cut off");
    uint8_t palette[4 * 256];
    if (!ReadAt(fd, palette, 4 * colours, paletteAt))
        return Fail(error, path, "could not be read whole");
    uint8_t level[256] = {};
    for (uint32_t i = 0; i < colours; ++i) {
        const uint8_t* c = &palette[4 * i];  // blue, green, red
        level[i] = static_cast<uint8_t>((c[2] * 299 + c[1] * 587 + c[0] * 114 + 500) / 1000);
    }
    const int64_t rowBytes = ((w * bits + 31) / 32) * 4;
    if (offset > fileBytes || rowBytes * h > fileBytes - offset) {
        return Fail(error, path, "the image data is cut off");
    }
    std::vector<uint8_t> pixels(static_cast<std::size_t>(rowBytes * h));
    if (!ReadAt(fd, pixels.data(), pixels.size(), offset)) {
        return Fail(error, path, "could not be read whole");
    }
    page->Allocate(static_cast<int>(w), static_cast<int>(h), bits);
    page->compressed = false;
    page->resolutionAssumed = xppm == 0 || yppm == 0;
    if (!page->resolutionAssumed) {
        page->xDpi = xppm * 0.0254;
        page->yDpi = yppm * 0.0254;
    }
    for (int64_t y = 0; y < h; ++y) {
        const int64_t stored = topDown ? y : h - 1 - y;
        const uint8_t* in = &pixels[static_cast<std::size_t>(stored * rowBytes)];
        uint8_t* out = page->row(static_cast<int>(y));
        for (int64_t x = 0; x < w; ++x) {
            int index;
            if (bits == 1) {
                index = (in[x / 8] >> (7 - x % 8)) & 1;
            } else if (bits == 4) {
                index = (x % 2) ? in[x / 2] & 0x0F : in[x / 2] >> 4;
            } else {
                index = in[x];
            }
            const uint8_t v = level[index];
            if (bits == 1) {
                if (v < 128) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                out[x] = v;
            }
        }
    }
    return true;
}

}  // namespace

void Page::Allocate(int w, int h, int bits) {
    width = w;
    height = h;
    bitsPerPixel = bits;
    const std::size_t rowBytes =
        bits == 1 ? static_cast<std::size_t>(w + 7) / 8 : static_cast<std::size_t>(w);
    stride = (rowBytes + 7) / 8 * 8;
    pixels.assign(stride * static_cast<std::size_t>(h), bits == 1 ? 0 : 255);
}

bool ReadPageFile(const std::string& path, Page* page, std::string* error) {
    *page = Page();
    // Only a regular file: a FIFO or a device is never waited on.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(error, path, std::strerror(errno));
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(error, path, "not a regular file");
    }
    uint8_t magic[4] = {};
    if (::pread(fd, magic, sizeof magic, 0) != static_cast<ssize_t>(sizeof magic)) {
        ::close(fd);
        return Fail(error, path, "too short for a page file");
    }
    page->fileBytes = st.st_size;
    bool ok;
    if (magic[0] == 'B' && magic[1] == 'M') {
        ok = ReadBmp(path, fd, st.st_size, page, error);
    } else if ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M')) {
        ok = ReadTiff(path, fd, st.st_size, page, error);
    } else {
        ::close(fd);
        ok = Fail(error, path,
                  "neither TIFF nor bitmap (a raw page holds no size: it cannot be checked)");
    }
    if (ok) {
        page->fileBytes = st.st_size;
    } else {
        const int64_t bytes = st.st_size;
        *page = Page();
        page->fileBytes = bytes;
    }
    return ok;
}

}  // namespace orvo::quality
