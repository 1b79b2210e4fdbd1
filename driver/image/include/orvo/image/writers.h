// Image file writers: TIFF through libtiff, Windows bitmap files and raw bytes.
// Each writes exactly one file at the caller's path, through a temporary file
// in the same directory that is renamed into place only once it is complete:
// on any failure no file appears under the path and the writer returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

// Rows handed to the TIFF and bitmap writers. Row 0 is never written: the
// image is the rows - 1 rows at data + step, data + 2 * step, ... of rowBytes
// bytes each, top row first. All of them must lie inside data[0..size).
struct RowBlock {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t step = 0;
    std::size_t rowBytes = 0;
    int width = 0;  // pixels
    int rows = 0;   // image height + 1
};

// The row buffer each TIFF row is copied into before libtiff gets it.
struct RowBuffer {
    uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Dots per inch for a `Resolution` setting (0 for unknown settings).
double TiffResolution(int resolutionSetting);

// Bilevel TIFF: 1 bit per sample, photometric 0, CCITT Group 4.
bool Save2Tiff(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
               int resolutionSetting);
// Gray TIFF, 4 or 8 bits per sample, photometric 1; grayTifCompress 0 none,
// 1 LZW, 2 PackBits, anything else writes no file.
bool Save2TiffGray(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                   int resolutionSetting, int bitsPerSample, int grayTifCompress);
// The common core of both TIFF writers. Group 4 and LZW rows are coded by
// the driver and handed to libtiff as a whole strip; libtiff lays out the
// file (and takes uncompressed and PackBits rows a scanline at a time). The
// file is built in memory and written in one go.
bool WriteTiffImage(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                    int resolutionSetting, int bitsPerSample, int photometric, int compression);
// The same file with every row coded by libtiff, a scanline at a time: the
// reference the driver's own coding is held to.
bool WriteTiffImageScanlines(const std::string& path, const RowBlock& rows, RowBuffer rowBuffer,
                             int resolutionSetting, int bitsPerSample, int photometric,
                             int compression);

// Windows bitmap files, rows stored bottom-up.
bool Save2DIB(const std::string& path, const RowBlock& rows);
bool Save2DIBGray(const std::string& path, const RowBlock& rows, int bitsPerPixel);
bool BuildDib(const std::string& path, const RowBlock& rows, int bitsPerPixel);
// Writes a packed bitmap (40-byte info header, palette, rows) as a bitmap
// file; stores the image size into biSizeImage. 1 when written, else 0.
int WriteDibFile(uint8_t* block, std::size_t blockSize, const std::string& path);

// The bytes as they are.
bool Save2RAW(const std::string& path, const uint8_t* data, std::size_t length);

}  // namespace orvo
