#include "orvo/sim/image.h"

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "orvo/platform/files.h"
#include "orvo/sim/scenario.h"

namespace orvo::sim {
namespace {

constexpr int kMaxSourceSide = 20000;

void SilenceTiff() {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

bool LoadTiff(const std::string& path, Image* out, std::string* error) {
    SilenceTiff();
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tif) {
        *error = "cannot open TIFF " + path;
        return false;
    }
    uint32_t w = 0, h = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    if (w == 0 || h == 0 || w > kMaxSourceSide || h > kMaxSourceSide) {
        *error = "unsupported TIFF size in " + path;
        return false;
    }
    std::vector<uint32_t> rgba(static_cast<size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(tif.get(), w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
        *error = "cannot decode TIFF " + path;
        return false;
    }
    Image img(static_cast<int>(w), static_cast<int>(h));
    for (size_t i = 0; i < rgba.size(); ++i) {
        uint32_t p = rgba[i];
        unsigned r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
        img.pixels[i] = static_cast<uint8_t>((r * 299 + g * 587 + b * 114 + 500) / 1000);
    }
    *out = std::move(img);
    return true;
}

// Reads the next header number of a PNM file, skipping blanks and comments.
bool PnmNumber(std::istream& in, int* value) {
    int c = in.get();
    while (c != EOF) {
        if (c == '#') {
            while (c != EOF && c != '\n') c = in.get();
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            c = in.get();
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    long v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + (c - '0');
        if (v > 1000000) return false;
        c = in.get();
    }
    *value = static_cast<int>(v);
    return true;  // the single blank after the header's last number was consumed
}

bool LoadPnm(const std::string& path, Image* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {0, 0};
    in.read(magic, 2);
    int w = 0, h = 0, maxval = 1;
    bool bilevel = magic[0] == 'P' && magic[1] == '4';
    bool gray = magic[0] == 'P' && magic[1] == '5';
    if (!in || !(bilevel || gray) || !PnmNumber(in, &w) || !PnmNumber(in, &h) ||
        (gray && !PnmNumber(in, &maxval))) {
        *error = "not a P4/P5 PNM file: " + path;
        return false;
    }
    if (w <= 0 || h <= 0 || w > kMaxSourceSide || h > kMaxSourceSide ||
        maxval != (gray ? 255 : 1)) {
        *error = "unsupported PNM size or depth in " + path;
        return false;
    }
    Image img(w, h);
    size_t rowBytes = bilevel ? static_cast<size_t>(w + 7) / 8 : static_cast<size_t>(w);
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < h; ++y) {
        in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(rowBytes));
        if (!in) {
            *error = "PNM data ends early in " + path;
            return false;
        }
        for (int x = 0; x < w; ++x) {
            img.at(x, y) = bilevel ? ((row[x / 8] & (0x80 >> (x % 8))) ? 0 : 255) : row[x];
        }
    }
    *out = std::move(img);
    return true;
}

struct Rng {
    uint32_t s;
    explicit Rng(int seed) : s(static_cast<uint32_t>(seed) * 2654435761u + 12345u) {}
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1));
    }
};

void FillRect(Image& img, int x0, int y0, int w, int h, uint8_t v) {
    for (int y = std::max(0, y0); y < std::min(img.height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(img.width, x0 + w); ++x) img.at(x, y) = v;
}

void FrameRect(Image& img, int x0, int y0, int w, int h, int t, uint8_t v) {
    FillRect(img, x0, y0, w, t, v);
    FillRect(img, x0, y0 + h - t, w, t, v);
    FillRect(img, x0, y0, t, h, v);
    FillRect(img, x0 + w - t, y0, t, h, v);
}

// A row of glyph-like blocks standing for printed or handwritten text.
void TextLine(Image& img, Rng& rng, int x, int y, int width, int glyphH, uint8_t v) {
    int end = x + width;
    while (x < end) {
        int gw = rng.range(glyphH / 3, glyphH * 2 / 3);
        if (rng.range(0, 6) == 0) {
            x += gw;  // word gap
            continue;
        }
        int stroke = std::max(2, glyphH / 8);
        FrameRect(img, x, y + rng.range(0, glyphH / 4), gw, glyphH - glyphH / 4, stroke, v);
        if (rng.range(0, 1)) FillRect(img, x, y + glyphH / 2, gw, stroke, v);
        x += gw + stroke * 2;
    }
}

void Stroke(Image& img, Rng& rng, int x0, int y0, int length, int amplitude) {
    double phase = rng.range(0, 628) / 100.0;
    for (int i = 0; i < length; ++i) {
        int y = y0 + static_cast<int>(amplitude * std::sin(phase + i / 23.0) * std::cos(i / 57.0));
        FillRect(img, x0 + i, y, 3, 3, 20);
    }
}

}  // namespace

bool LoadImageFile(const std::string& path, Image* out, std::string* error) {
    std::string dummy;
    if (!error) error = &dummy;
    // Only a regular file: a FIFO or a device would block or never end.
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        *error = (errno == EINVAL ? "not a regular file: image " : "cannot open image ") + path;
        return false;
    }
    char magic[2] = {0, 0};
    const bool probed = read(fd, magic, 2) == 2;
    close(fd);
    if (!probed) {
        *error = "not an image: " + path;
        return false;
    }
    if (magic[0] == 'P' && (magic[1] == '4' || magic[1] == '5')) return LoadPnm(path, out, error);
    return LoadTiff(path, out, error);
}

Image SyntheticCheque(int seed, bool front) {
    constexpr int kW = 1600, kH = 720;
    Rng rng(seed * 2 + (front ? 0 : 1));
    Image img(kW, kH, 250);
    if (front) {
        // Security background: a soft diagonal shading.
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                img.at(x, y) = static_cast<uint8_t>(232 + ((x + 2 * y) / 40) % 20);
        FrameRect(img, 12, 12, kW - 24, kH - 24, 4, 40);
        TextLine(img, rng, 60, 50, 520, 36, 30);                     // bank name
        TextLine(img, rng, 1150, 60, 260, 28, 40);                   // date
        FillRect(img, 1100, 100, 420, 3, 60);                        // date line
        TextLine(img, rng, 60, 190, 140, 26, 40);                    // "pay to"
        TextLine(img, rng, 230, 180, rng.range(400, 700), 34, 25);   // payee
        FillRect(img, 220, 222, 880, 3, 60);                         // payee line
        FrameRect(img, 1180, 170, 340, 70, 3, 50);                   // amount box
        TextLine(img, rng, 1200, 188, rng.range(150, 280), 34, 20);  // amount
        TextLine(img, rng, 60, 290, rng.range(600, 1100), 30, 35);   // amount in words
        FillRect(img, 50, 330, 1300, 3, 60);
        FillRect(img, 50, 380, 600, 120, 200);  // memo shading
        TextLine(img, rng, 70, 420, 400, 26, 60);
        FillRect(img, 1000, 500, 520, 3, 60);  // signature line
        Stroke(img, rng, 1020, 460, rng.range(300, 480), 30);
        // MICR band: E-13B-like glyphs along the bottom edge.
        int x = 180;
        for (int i = 0; i < 30; ++i) {
            int gw = 22;
            if (rng.range(0, 5) == 0) {
                x += gw;
                continue;
            }
            FillRect(img, x, 610, gw, 12, 10);
            FillRect(img, x + (rng.range(0, 1) ? 0 : gw - 8), 610, 8, 50, 10);
            FillRect(img, x, 648, gw, 12, 10);
            x += gw + 14;
        }
    } else {
        FrameRect(img, 900, 80, 560, 260, 5, 90);  // endorsement stamp
        TextLine(img, rng, 930, 110, 480, 30, 90);
        TextLine(img, rng, 930, 170, 380, 30, 90);
        TextLine(img, rng, 930, 230, 440, 24, 90);
        Stroke(img, rng, 200, 200, rng.range(250, 450), 25);
        TextLine(img, rng, 60, 640, 500, 18, 150);  // "do not write below this line"
    }
    return img;
}

Image WithDefects(const Image& page, const PageDefects& d, int seed) {
    constexpr uint8_t kPaper = 250;
    Image img = d.blank ? Image(page.width, page.height, kPaper) : page;
    if (d.lines > 0 && d.lines != img.height) {
        // Torn short, or the next document following on: the page again.
        Image out(img.width, d.lines);
        for (int y = 0; y < d.lines; ++y)
            std::copy_n(img.pixels.begin() + static_cast<ptrdiff_t>(y % img.height) * img.width,
                        img.width, out.pixels.begin() + static_cast<ptrdiff_t>(y) * img.width);
        img = std::move(out);
    }
    if (d.skewDegrees != 0) {
        // Each pixel from where the turn brings it (nearest pixel); white
        // comes in at the corners.
        const double a = d.skewDegrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        const double cx = img.width / 2.0, cy = img.height / 2.0;
        Image out(img.width, img.height, 255);
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                const int sx = static_cast<int>(std::floor(cx + dx * c - dy * s));
                const int sy = static_cast<int>(std::floor(cy + dx * s + dy * c));
                if (sx >= 0 && sy >= 0 && sx < img.width && sy < img.height)
                    out.at(x, y) = img.at(sx, sy);
            }
        }
        img = std::move(out);
    }
    if (d.brightness != 0) {
        for (auto& p : img.pixels) p = static_cast<uint8_t>(std::clamp(p + d.brightness, 0, 255));
    }
    Rng rng(seed * 7919 + 17);
    for (int placed = 0, tries = 0; placed < d.specks && tries < 50 * d.specks; ++tries) {
        const int x = rng.range(3, img.width - 6), y = rng.range(3, img.height - 6);
        bool clear = true;  // light paper all around, so that the speck stands alone
        for (int v = y - 3; v <= y + 4 && clear; ++v)
            for (int u = x - 3; u <= x + 4 && clear; ++u) clear = img.at(u, v) >= 160;
        if (!clear) continue;
        FillRect(img, x, y, 2, 2, 0);
        ++placed;
    }
    return img;
}

void DrawStreaks(Image& scanned, const std::vector<int>& columns) {
    for (int x : columns) FillRect(scanned, x, 0, 2, scanned.height, 30);
}

Image FitImage(const Image& src, int width, int height) {
    int w = width > 0 ? width : src.width;
    int h = height > 0 ? height : src.height;
    Image out(w, h, 255);
    int cw = std::min(w, src.width), ch = std::min(h, src.height);
    for (int y = 0; y < ch; ++y)
        std::copy_n(src.pixels.begin() + static_cast<ptrdiff_t>(y) * src.width, cw,
                    out.pixels.begin() + static_cast<ptrdiff_t>(y) * w);
    return out;
}

}  // namespace orvo::sim
