#include "orvo/writers.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "file_commit.h"

namespace orvo {

namespace {

// True when rows 1 to rows - 1 of `rows` lie inside its data.
bool RowsInside(const RowBlock& rows) {
    if (rows.rows < 1 || rows.width < 0) return false;
    if (rows.rows == 1) return true;
    if (rows.data == nullptr || rows.rowBytes > rows.size) return false;
    const std::size_t last = static_cast<std::size_t>(rows.rows - 1);
    if (rows.step == 0) return true;
    return last <= (rows.size - rows.rowBytes) / rows.step;
}

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kFileHeaderSize = 14;
constexpr int64_t kMaxDibBytes = 0x7FFFFFFF;

}  // namespace

double TiffResolution(int resolutionSetting) {
    switch (resolutionSetting) {
        case 0:
        case 3:
            return 200.0;
        case 1:
        case 4:
        case 5:
            return 300.0;
        case 2:
            return 100.0;
        default:
            return 0.0;
    }
}

bool WriteTiffImage(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                    int resolutionSetting, int bitsPerSample, int photometric, int compression) {
    if (!RowsInside(rows) || rowBuffer.data == nullptr || rows.rowBytes > rowBuffer.size) {
        return false;
    }
    const double dpi = TiffResolution(resolutionSetting);
    PendingFile file(path);
    if (file.fd() < 0) return false;
    TIFF* tif = TIFFFdOpen(file.fd(), file.tempPath().c_str(), "w");
    if (tif == nullptr) return false;
    file.Released();  // libtiff closes the descriptor

    bool ok =
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(rows.width)) == 1 &&
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.rows - 1)) == 1 &&
        TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression)) == 1 &&
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(photometric)) == 1 &&
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG)) == 1 &&
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bitsPerSample)) == 1 &&
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi) == 1 &&
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi) == 1 &&
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_INCH)) == 1;
    // libtiff takes a whole scanline from the row buffer.
    if (ok && rows.rows > 1) {
        const tmsize_t scanline = TIFFScanlineSize(tif);
        ok = scanline > 0 && static_cast<std::size_t>(scanline) <= rowBuffer.size;
    }
    for (int i = 0; ok && i + 1 < rows.rows; ++i) {
        std::memcpy(rowBuffer.data, rows.data + static_cast<std::size_t>(i + 1) * rows.step,
                    rows.rowBytes);
        ok = TIFFWriteScanline(tif, rowBuffer.data, static_cast<uint32_t>(i), 0) == 1;
    }
    if (ok) ok = TIFFFlush(tif) == 1;
    TIFFClose(tif);
    return ok && file.Commit();
}

bool Save2Tiff(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
               int resolutionSetting) {
    return WriteTiffImage(path, rows, rowBuffer, resolutionSetting, 1, PHOTOMETRIC_MINISWHITE,
                          COMPRESSION_CCITTFAX4);
}

bool Save2TiffGray(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                   int resolutionSetting, int bitsPerSample, int grayTifCompress) {
    int compression = 0;
    switch (grayTifCompress) {
        case 0:
            compression = COMPRESSION_NONE;
            break;
        case 1:
            compression = COMPRESSION_LZW;
            break;
        case 2:
            compression = COMPRESSION_PACKBITS;
            break;
        default:
            return false;
    }
    return WriteTiffImage(path, rows, rowBuffer, resolutionSetting, bitsPerSample,
                          PHOTOMETRIC_MINISBLACK, compression);
}

bool BuildDib(const std::string& path, const RowBlock& rows, int bitsPerPixel) {
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8) return false;
    if (!RowsInside(rows)) return false;
    const int entries = 1 << bitsPerPixel;
    const int64_t stride = (static_cast<int64_t>(bitsPerPixel) * rows.width + 31) / 32 * 4;
    const int64_t height = rows.rows - 1;
    const int64_t imageBytes = stride * height;
    const int64_t blockSize = static_cast<int64_t>(kInfoHeaderSize) + 4 * entries + imageBytes;
    if (blockSize > kMaxDibBytes - static_cast<int64_t>(kFileHeaderSize)) return false;

    std::vector<uint8_t> block;
    try {
        block.assign(static_cast<std::size_t>(blockSize), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint8_t* h = block.data();
    Put32(h + 0, kInfoHeaderSize);
    Put32(h + 4, static_cast<uint32_t>(rows.width));
    Put32(h + 8, static_cast<uint32_t>(height));
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<uint32_t>(bitsPerPixel));
    Put32(h + 16, 0);
    Put32(h + 20, static_cast<uint32_t>(imageBytes));
    Put32(h + 24, 0);
    Put32(h + 28, 0);
    Put32(h + 32, static_cast<uint32_t>(entries));
    Put32(h + 36, static_cast<uint32_t>(entries));

    uint8_t* palette = h + kInfoHeaderSize;
    for (int i = 0; i < entries; ++i) {
        uint8_t level = 0;
        if (entries == 2) {
            level = i == 0 ? 255 : 0;  // 1 bits are black
        } else {
            level = static_cast<uint8_t>(i * 256 / entries);
        }
        palette[4 * i + 0] = level;
        palette[4 * i + 1] = level;
        palette[4 * i + 2] = level;
    }

    // Bottom-up: the top image row (source row 1) is the block's last row.
    uint8_t* pixels = palette + 4 * entries;
    const std::size_t copy = std::min(rows.rowBytes, static_cast<std::size_t>(stride));
    for (int64_t j = 0; j < height; ++j) {
        const std::size_t source = static_cast<std::size_t>(height - j) * rows.step;
        std::memcpy(pixels + j * stride, rows.data + source, copy);
    }
    return WriteDibFile(block.data(), block.size(), path) == 1;
}

bool Save2DIB(const std::string& path, const RowBlock& rows) {
    return BuildDib(path, rows, 1);
}

bool Save2DIBGray(const std::string& path, const RowBlock& rows, int bitsPerPixel) {
    return BuildDib(path, rows, bitsPerPixel);
}

int WriteDibFile(uint8_t* block, std::size_t blockSize, const std::string& path) {
    if (block == nullptr || blockSize < kInfoHeaderSize) return 0;
    if (Get32(block) != kInfoHeaderSize) return 0;
    const auto width = static_cast<int32_t>(Get32(block + 4));
    const auto height = static_cast<int32_t>(Get32(block + 8));
    const uint32_t bitCount = static_cast<uint32_t>(block[14]) | (block[15] << 8);
    const int64_t paletteBytes = 4 * static_cast<int64_t>(Get32(block + 32));
    const int64_t imageBytes = (static_cast<int64_t>(bitCount) * width + 31) / 32 * 4 * height;
    if (width < 0 || height < 0) return 0;
    const int64_t dataBytes = static_cast<int64_t>(kInfoHeaderSize) + paletteBytes + imageBytes;
    // Only what the block holds is written.
    if (dataBytes > static_cast<int64_t>(blockSize) ||
        dataBytes > kMaxDibBytes - static_cast<int64_t>(kFileHeaderSize)) {
        return 0;
    }
    Put32(block + 20, static_cast<uint32_t>(imageBytes));

    uint8_t header[kFileHeaderSize] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(kFileHeaderSize + dataBytes));
    Put32(header + 10, static_cast<uint32_t>(kFileHeaderSize + kInfoHeaderSize + paletteBytes));

    PendingFile file(path);
    if (file.fd() < 0) return 0;
    if (!WriteAll(file.fd(), header, sizeof header) ||
        !WriteAll(file.fd(), block, static_cast<std::size_t>(dataBytes))) {
        return 0;
    }
    return file.Commit() ? 1 : 0;
}

bool Save2RAW(const std::string& path, const uint8_t* data, std::size_t length) {
    if (data == nullptr && length > 0) return false;
    PendingFile file(path);
    if (file.fd() < 0) return false;
    if (length > 0 && !WriteAll(file.fd(), data, length)) return false;
    return file.Commit();
}

}  // namespace orvo
