// The input of the page retrieval fuzz program: eight bytes of batch settings
// followed by a whole temporary page file (64-byte side header, page data).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::fuzz {

inline constexpr std::size_t kSettingsBytes = 8;

struct RetrievalSettings {
    int tempScanMode = 0;  // 0-4, 5 = a mode the driver does not know
    int compressMode = 0;  // 0 coded, 1 uncompressed
    int format = 0;        // 0 TIFF, 1 DIB, 2 RAW, 3 in-memory page
    int grayTifCompress = 1;
    int micrDetect = 1;
    int resolution = 0;  // 0-7
    int scanWidth = 0;   // 0-2599
    int scanLines = 0;   // 0-4099
    int imageSlack = 0;  // ImageBuf bytes beyond the file (0-15 x 4096)
    int decodeRows = 0;  // DecodeBuf size in 2592-byte rows (16 - 256)
};

inline RetrievalSettings ParseSettings(const uint8_t* b) {
    RetrievalSettings s;
    s.tempScanMode = b[0] % 6;
    s.compressMode = b[1] & 1;
    s.format = (b[1] >> 1) & 3;
    s.grayTifCompress = (b[1] >> 3) & 3;
    s.micrDetect = (b[1] >> 5) & 1;
    s.resolution = b[2] & 7;
    s.scanWidth = (b[3] << 8 | b[4]) % 2600;
    s.scanLines = (b[5] << 8 | b[6]) % 4100;
    s.imageSlack = b[7] & 15;
    s.decodeRows = 16 * ((b[7] >> 4) + 1);
    return s;
}

inline void EncodeSettings(const RetrievalSettings& s, uint8_t* b) {
    b[0] = static_cast<uint8_t>(s.tempScanMode);
    b[1] = static_cast<uint8_t>(s.compressMode | s.format << 1 | s.grayTifCompress << 3 |
                                s.micrDetect << 5);
    b[2] = static_cast<uint8_t>(s.resolution);
    b[3] = static_cast<uint8_t>(s.scanWidth >> 8);
    b[4] = static_cast<uint8_t>(s.scanWidth);
    b[5] = static_cast<uint8_t>(s.scanLines >> 8);
    b[6] = static_cast<uint8_t>(s.scanLines);
    b[7] = static_cast<uint8_t>(s.imageSlack | (s.decodeRows / 16 - 1) << 4);
}

}  // namespace orvo::fuzz
