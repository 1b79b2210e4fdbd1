#include "orvo/widgets/image_loader.h"

#include "orvo/widgets/block_reduce.h"

#include <tiffio.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace orvo::widgets {

namespace {

LoadedImage Failure(const QString& text) {
    LoadedImage loaded;
    loaded.error = text;
    return loaded;
}

// The first error libtiff reports for one file. Warnings while the directory
// is read (unknown tags and the like) are dropped; a warning while the image
// data are decoded (data ending early, a line of the wrong length) means a
// damaged page that would otherwise show cut off or garbled.
struct TiffMessages {
    QString first;
    bool decoding = false;
    bool damaged = false;

    void Note(const char* fmt, va_list args) {
        if (!first.isEmpty()) return;
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, args);
        first = QString::fromLocal8Bit(text).split(QLatin1Char('\n')).first();
    }
};

int OnTiffError(TIFF*, void* user, const char*, const char* fmt, va_list args) {
    auto* messages = static_cast<TiffMessages*>(user);
    messages->Note(fmt, args);
    messages->damaged = true;
    return 1;  // handled: nothing goes to stderr
}

int OnTiffWarning(TIFF*, void* user, const char*, const char* fmt, va_list args) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->decoding) {
        messages->Note(fmt, args);
        messages->damaged = true;
    }
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

QString Damaged(const TiffMessages& messages) {
    const QString text = QStringLiteral("Damaged TIFF file");
    if (messages.first.isEmpty()) return text;
    return text + QStringLiteral(": ") + messages.first.left(120);
}

int DotsPerInch(float value, uint16_t unit) {
    if (!(value > 0.0f) || value > 1.0e6f) return 0;
    const double dpi = unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
    return static_cast<int>(dpi + 0.5);
}

void ReadResolution(TIFF* tif, LoadedImage* loaded) {
    float x = 0.0f;
    float y = 0.0f;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) == 1) loaded->xResolution = DotsPerInch(x, unit);
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) == 1) loaded->yResolution = DotsPerInch(y, unit);
}

void ExpandGray4Row(const uint8_t* in, uint8_t* out, int width, bool zeroIsBlack) {
    for (int x = 0; x < width; ++x) {
        const uint8_t nibble = (x % 2 == 0) ? (in[x / 2] >> 4) : (in[x / 2] & 0x0F);
        const uint8_t level = static_cast<uint8_t>(nibble * 17);
        out[x] = zeroIsBlack ? level : static_cast<uint8_t>(255 - level);
    }
}

void ExpandGray8Row(const uint8_t* in, uint8_t* out, int width, bool zeroIsBlack) {
    if (zeroIsBlack) {
        std::memcpy(out, in, static_cast<std::size_t>(width));
        return;
    }
    for (int x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(255 - in[x]);
}

// Anything that is not one grey or bilevel channel in strips: libtiff's own
// RGBA conversion (palette, RGB, YCbCr, tiles, ...).
LoadedImage ReadTiffAsRgba(TIFF* tif, int width, int height, const TiffMessages& messages) {
    char reason[1024] = {};
    if (TIFFRGBAImageOK(tif, reason) != 1) {
        return Failure(QStringLiteral("Unsupported TIFF image: ") +
                       QString::fromLocal8Bit(reason).left(120));
    }
    QImage rgba(width, height, QImage::Format_RGBA8888);
    if (rgba.isNull()) return Failure(QStringLiteral("Not enough memory for the image"));
    // libtiff packs R in the low byte: in memory R, G, B, A, as RGBA8888.
    auto* raster = reinterpret_cast<uint32_t*>(rgba.bits());
    if (rgba.bytesPerLine() != width * 4 ||
        TIFFReadRGBAImageOriented(tif, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                  raster, ORIENTATION_TOPLEFT, 0) != 1) {
        return Failure(Damaged(messages));
    }
    LoadedImage loaded;
    loaded.image = rgba.convertToFormat(QImage::Format_RGB32);
    return loaded;
}

LoadedImage LoadTiff(const QString& path) {
    TiffMessages messages;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return Failure(QStringLiteral("Not enough memory for the image"));
    TIFFOpenOptionsSetErrorHandlerExtR(options, &OnTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &OnTiffWarning, &messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(512) * 1024 * 1024);
    TiffHandle tif(TIFFOpenExt(QFile::encodeName(path).constData(), "r", options));
    TIFFOpenOptionsFree(options);
    if (!tif) return Failure(Damaged(messages));

    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t planar = PLANARCONFIG_CONTIG;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0) {
        return Failure(Damaged(messages));
    }
    if (qint64(width) * qint64(height) > kMaxImagePixels || width > 100000 || height > 100000) {
        return Failure(QStringLiteral("Image too large to show"));
    }
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    const bool hasPhotometric = TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    if (!hasPhotometric) photometric = PHOTOMETRIC_MINISWHITE;

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    const bool grey =
        samples == 1 && (bits == 1 || bits == 4 || bits == 8) &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
        !TIFFIsTiled(tif.get());
    LoadedImage loaded;
    messages.decoding = true;
    if (!grey) {
        loaded = ReadTiffAsRgba(tif.get(), w, h, messages);
        if (!loaded.ok()) return loaded;
        if (messages.damaged) return Failure(Damaged(messages));
    } else {
        const tmsize_t lineBytes = TIFFScanlineSize(tif.get());
        if (lineBytes <= 0 || lineBytes < (tmsize_t(w) * bits + 7) / 8) {
            return Failure(Damaged(messages));
        }
        QImage image = bits == 1 ? MakeBilevel(w, h) : QImage(w, h, QImage::Format_Grayscale8);
        if (image.isNull()) return Failure(QStringLiteral("Not enough memory for the image"));
        std::vector<uint8_t> line(static_cast<std::size_t>(lineBytes));
        const bool zeroIsBlack = photometric == PHOTOMETRIC_MINISBLACK;
        const std::size_t packedBytes = static_cast<std::size_t>((w + 7) / 8);
        for (int y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif.get(), line.data(), static_cast<uint32_t>(y), 0) != 1 ||
                messages.damaged) {
                return Failure(Damaged(messages));
            }
            uint8_t* out = image.scanLine(y);
            if (bits == 1) {
                // Packed as they are: a set bit is black ("min is white").
                std::memcpy(out, line.data(), packedBytes);
                if (zeroIsBlack) {
                    for (std::size_t i = 0; i < packedBytes; ++i) out[i] = ~out[i];
                }
            } else if (bits == 4) {
                ExpandGray4Row(line.data(), out, w, zeroIsBlack);
            } else {
                ExpandGray8Row(line.data(), out, w, zeroIsBlack);
            }
        }
        loaded.image = std::move(image);
        loaded.bilevel = bits == 1;
    }
    ReadResolution(tif.get(), &loaded);
    return loaded;
}

struct BmpPixelsPerMetre {
    int32_t x = 0;
    int32_t y = 0;
};

// The resolution fields of a bitmap's information header (offsets 38 and 42,
// little-endian); zero when the file has no such header.
BmpPixelsPerMetre ReadBmpPixelsPerMetre(const QString& path) {
    constexpr qint64 kHeaderBytes = 46;
    constexpr int kInfoSizeAt = 14, kXAt = 38, kYAt = 42;
    constexpr uint32_t kInfoHeaderBytes = 40;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.read(kHeaderBytes);
    if (head.size() < kHeaderBytes) return {};
    const auto le32 = [&head](int at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(head[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(head[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(head[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(head[at + 3])) << 24;
    };
    if (le32(kInfoSizeAt) < kInfoHeaderBytes) return {};
    BmpPixelsPerMetre ppm;
    ppm.x = std::max<int32_t>(0, static_cast<int32_t>(le32(kXAt)));
    ppm.y = std::max<int32_t>(0, static_cast<int32_t>(le32(kYAt)));
    return ppm;
}

LoadedImage LoadBmp(const QString& path) {
    QImageReader reader(path, "bmp");
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxImagePixels) {
        return Failure(QStringLiteral("Image too large to show"));
    }
    QImage image = reader.read();
    if (image.isNull()) return Failure(QStringLiteral("Damaged bitmap file"));
    LoadedImage loaded;
    loaded.bilevel = image.depth() == 1;
    // As the file states it: a bitmap that states none (0 pixels per metre)
    // has none, not the reader's screen default.
    const BmpPixelsPerMetre stated = ReadBmpPixelsPerMetre(path);
    loaded.xResolution = qRound(stated.x * 0.0254);
    loaded.yResolution = qRound(stated.y * 0.0254);
    loaded.image = image.allGray() ? image.convertToFormat(QImage::Format_Grayscale8)
                                   : image.convertToFormat(QImage::Format_RGB32);
    return loaded;
}

}  // namespace

LoadedImage LoadImageFile(const QString& path) {
    if (path.isEmpty()) return Failure(QStringLiteral("No file"));
    const QFileInfo info(path);
    if (!info.exists()) return Failure(QStringLiteral("No such file"));
    if (!info.isFile()) return Failure(QStringLiteral("Not a file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Failure(QStringLiteral("Cannot read the file"));
    const QByteArray head = file.read(4);
    file.close();
    if (head.isEmpty()) return Failure(QStringLiteral("Empty file"));

    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4))) {
        return LoadTiff(path);
    }
    if (head.startsWith("BM")) return LoadBmp(path);
    if (info.suffix().compare(QLatin1String("raw"), Qt::CaseInsensitive) == 0) {
        return Failure(QStringLiteral("Raw image data: no picture to show"));
    }
    return Failure(QStringLiteral("Not a TIFF or bitmap image"));
}

}  // namespace orvo::widgets
