#include "orvo/image/writers.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "orvo/platform/files.h"
#include "strip_coders.h"

namespace orvo {

namespace {

using platform::FileReplacement;
using platform::WriteAll;

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

namespace {

// A TIFF file built in memory through libtiff's client interface, so that
// the whole file reaches the disk in one write.
class MemoryTiffFile {
  public:
    // Room for `expected` bytes from the start, as far as it can be had.
    explicit MemoryTiffFile(std::size_t expected) {
        try {
            bytes_.reserve(std::min<std::size_t>(expected, std::size_t{64} << 20));
        } catch (const std::bad_alloc&) {
            // The file grows as it is written.
        }
    }
    TIFF* Open(const std::string& name) {
        return TIFFClientOpen(name.c_str(), "w", this, Read, Write, Seek, Close, Size, Map, Unmap);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    static MemoryTiffFile& Of(thandle_t h) { return *static_cast<MemoryTiffFile*>(h); }
    static tmsize_t Read(thandle_t h, void* buf, tmsize_t n) {
        MemoryTiffFile& f = Of(h);
        if (n <= 0 || f.pos_ >= f.bytes_.size()) return 0;
        const std::size_t take = std::min(static_cast<std::size_t>(n), f.bytes_.size() - f.pos_);
        std::memcpy(buf, f.bytes_.data() + f.pos_, take);
        f.pos_ += take;
        return static_cast<tmsize_t>(take);
    }
    static tmsize_t Write(thandle_t h, void* buf, tmsize_t n) {
        MemoryTiffFile& f = Of(h);
        if (n < 0) return -1;
        const std::size_t count = static_cast<std::size_t>(n);
        const auto* bytes = static_cast<const uint8_t*>(buf);
        try {
            if (f.pos_ > f.bytes_.size()) f.bytes_.resize(f.pos_);  // a seek past the end
            // Over what is there, then appended (no filling first).
            const std::size_t over = std::min(count, f.bytes_.size() - f.pos_);
            if (over > 0) std::memcpy(f.bytes_.data() + f.pos_, bytes, over);
            f.bytes_.insert(f.bytes_.end(), bytes + over, bytes + count);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        f.pos_ += count;
        return n;
    }
    static toff_t Seek(thandle_t h, toff_t off, int whence) {
        MemoryTiffFile& f = Of(h);
        uint64_t base = 0;
        if (whence == SEEK_CUR) base = f.pos_;
        if (whence == SEEK_END) base = f.bytes_.size();
        f.pos_ = static_cast<std::size_t>(base + off);
        return f.pos_;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h) { return Of(h).bytes_.size(); }
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}

    std::vector<uint8_t> bytes_;
    std::size_t pos_ = 0;
};

bool SetTiffFields(TIFF* tif, const RowBlock& rows, int resolutionSetting, int bitsPerSample,
                   int photometric, int compression) {
    const double dpi = TiffResolution(resolutionSetting);
    return TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(rows.width)) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.rows - 1)) == 1 &&
           TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression)) == 1 &&
           TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(photometric)) == 1 &&
           TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG)) ==
               1 &&
           TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bitsPerSample)) == 1 &&
           TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi) == 1 &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi) == 1 &&
           TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_INCH)) == 1;
}

// Every row through libtiff's own coder, copied into the row buffer first.
bool WriteScanlines(TIFF* tif, const RowBlock& rows, RowBuffer rowBuffer) {
    if (rows.rows > 1) {
        const tmsize_t scanline = TIFFScanlineSize(tif);
        if (scanline <= 0 || static_cast<std::size_t>(scanline) > rowBuffer.size) return false;
    }
    for (int i = 0; i + 1 < rows.rows; ++i) {
        std::memcpy(rowBuffer.data, rows.data + static_cast<std::size_t>(i + 1) * rows.step,
                    rows.rowBytes);
        if (TIFFWriteScanline(tif, rowBuffer.data, static_cast<uint32_t>(i), 0) != 1) return false;
    }
    return true;
}

// The rows coded here and handed to libtiff as one strip, as libtiff's own
// scanline writing lays out a compressed image (one strip, no RowsPerStrip).
bool WriteCodedStrip(TIFF* tif, const RowBlock& rows, int compression) {
    const tmsize_t scanline = TIFFScanlineSize(tif);
    if (scanline <= 0) return false;
    const std::size_t lineBytes = static_cast<std::size_t>(scanline);
    const StripRows image{rows.data + rows.step, rows.step, lineBytes, rows.rows - 1};
    std::vector<uint8_t> strip;
    if (compression == COMPRESSION_CCITTFAX4) {
        CodeGroup4(image, rows.width, strip);
    } else {
        CodeLzw(image, strip);
    }
    const tmsize_t bytes = static_cast<tmsize_t>(strip.size());
    return TIFFWriteRawStrip(tif, 0, strip.data(), bytes) == bytes;
}

bool WriteTiff(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
               int resolutionSetting, int bitsPerSample, int photometric, int compression,
               bool ownCoders) {
    if (!RowsInside(rows) || rowBuffer.data == nullptr || rows.rowBytes > rowBuffer.size) {
        return false;
    }
    // Room for the rows uncompressed and the file's structure.
    const std::size_t rowBits = static_cast<std::size_t>(rows.width) * bitsPerSample;
    MemoryTiffFile memory(static_cast<std::size_t>(rows.rows) * ((rowBits + 7) / 8) + 4096);
    TIFF* tif = memory.Open(path);
    if (tif == nullptr) return false;
    bool ok = SetTiffFields(tif, rows, resolutionSetting, bitsPerSample, photometric, compression);
    if (ok && rows.rows > 1) {
        // Coded here when every image row holds a whole scanline: Group 4
        // bilevel rows and LZW gray rows; uncompressed and PackBits rows by
        // libtiff.
        const tmsize_t scanline = TIFFScanlineSize(tif);
        const bool coded = ownCoders && scanline > 0 &&
                           rows.rowBytes >= static_cast<std::size_t>(scanline) &&
                           ((compression == COMPRESSION_CCITTFAX4 && bitsPerSample == 1) ||
                            compression == COMPRESSION_LZW);
        try {
            ok = coded ? WriteCodedStrip(tif, rows, compression)
                       : WriteScanlines(tif, rows, rowBuffer);
        } catch (const std::bad_alloc&) {
            ok = false;  // no memory for the coded strip
        }
    }
    if (ok) ok = TIFFFlush(tif) == 1;
    TIFFClose(tif);
    if (!ok) return false;
    FileReplacement file(path);
    if (file.fd() < 0) return false;
    return WriteAll(file.fd(), memory.bytes().data(), memory.bytes().size()) && file.Commit();
}

}  // namespace

bool WriteTiffImage(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                    int resolutionSetting, int bitsPerSample, int photometric, int compression) {
    return WriteTiff(path, rows, rowBuffer, resolutionSetting, bitsPerSample, photometric,
                     compression, true);
}

bool WriteTiffImageScanlines(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                             int resolutionSetting, int bitsPerSample, int photometric,
                             int compression) {
    return WriteTiff(path, rows, rowBuffer, resolutionSetting, bitsPerSample, photometric,
                     compression, false);
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

    FileReplacement file(path);
    if (file.fd() < 0) return 0;
    if (!WriteAll(file.fd(), header, sizeof header) ||
        !WriteAll(file.fd(), block, static_cast<std::size_t>(dataBytes))) {
        return 0;
    }
    return file.Commit() ? 1 : 0;
}

bool Save2RAW(const std::string& path, const uint8_t* data, std::size_t length) {
    if (data == nullptr && length > 0) return false;
    FileReplacement file(path);
    if (file.fd() < 0) return false;
    if (length > 0 && !WriteAll(file.fd(), data, length)) return false;
    return file.Commit();
}

}  // namespace orvo
