#include "orvo/sim/side_data.h"

#include <algorithm>

#include "orvo/core/scan_kinds.h"
#include "orvo/sim/encoders.h"

namespace orvo::sim {

int SideBitsPerPixel(const WindowSettings& w) {
    // The scanner takes any other value for a bilevel mode.
    const int bits = BitsPerPixel(ScanModeOf(w.scanMode[0]));
    return bits == 0 ? 1 : bits;
}

Image FitToWindow(const Image& page, const WindowSettings& w) {
    int width = std::min(w.scanWidth, kMaxSideWidth);
    int lines = std::min(w.scanLines[0], kMaxSideLines);
    Image img = FitImage(page, width, lines);
    if (img.width > kMaxSideWidth || img.height > kMaxSideLines)
        img =
            FitImage(img, std::min(img.width, kMaxSideWidth), std::min(img.height, kMaxSideLines));
    return img;
}

Image SideValues(const Image& page, const WindowSettings& w) {
    Image img = FitToWindow(page, w);
    int bpp = SideBitsPerPixel(w);
    // A slice level of 0 would leave every page white; the scanner then
    // uses the middle of the range.
    int slice = w.bwSlice[0] > 0 ? w.bwSlice[0] : 128;
    for (auto& p : img.pixels) {
        if (bpp == 1)
            p = p < slice ? 1 : 0;
        else if (bpp == 4)
            p = static_cast<uint8_t>(p >> 4);
    }
    return img;
}

namespace {

std::vector<uint8_t> PackRows(const Image& v, int bpp) {
    std::vector<uint8_t> out;
    size_t rowBytes = bpp == 1   ? static_cast<size_t>(v.width + 7) / 8
                      : bpp == 4 ? static_cast<size_t>(v.width + 1) / 2
                                 : static_cast<size_t>(v.width);
    out.assign(rowBytes * v.height, 0);
    for (int y = 0; y < v.height; ++y) {
        uint8_t* row = out.data() + rowBytes * y;
        for (int x = 0; x < v.width; ++x) {
            uint8_t p = v.at(x, y);
            if (bpp == 1) {
                if (p) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else if (bpp == 4) {
                row[x / 2] |= static_cast<uint8_t>(x % 2 ? p : p << 4);
            } else {
                row[x] = p;
            }
        }
    }
    return out;
}

}  // namespace

SideData BuildSide(const Image& page, bool front, const WindowSettings& w,
                   const SideOptions& options) {
    SideData side;
    Image values = SideValues(page, w);
    int bpp = SideBitsPerPixel(w);
    std::vector<uint8_t> data;
    if (options.imageData != nullptr) {
        data = *options.imageData;
        side.coded = CompressionOf(w.compressMode) == Compression::kCoded;
        side.rtcEnd = side.coded ? kSideHeaderSize + data.size() : 0;
    } else if (CompressionOf(w.compressMode) == Compression::kCoded) {
        CodingOptions co;
        co.alignEol = options.alignEol;
        CodedPage coded = bpp == 1   ? EncodeMh(values.pixels, values.width, values.height, co)
                          : bpp == 4 ? EncodeGray4(values.pixels, values.width, values.height, co)
                                     : EncodeGray8(values.pixels, values.width, values.height, co);
        data = std::move(coded.bytes);
        side.coded = true;
        side.rtcOffset = kSideHeaderSize + coded.rtcBit / 8;
        side.rtcEnd = kSideHeaderSize + data.size();
        if (options.omitRtc) {
            // Clear every bit from the RTC's first bit on.
            size_t first = coded.rtcBit / 8;
            data[first] &= static_cast<uint8_t>(0xFF00u >> (coded.rtcBit % 8));
            std::fill(data.begin() + static_cast<ptrdiff_t>(first) + 1, data.end(), 0);
        }
    } else {
        data = PackRows(values, bpp);
    }
    side.imageBytes = static_cast<uint32_t>(data.size());
    // The scanner counts its image size in 16-bit words; the host takes
    // twice (size / row bytes) as the row count of uncompressed data.
    side.actualImageSize = side.imageBytes / 2;
    size_t used = kSideHeaderSize + data.size();
    side.blocks = (used + kBlockSize - 1) / kBlockSize;
    side.bytes.assign(side.blocks * kBlockSize, 0);

    uint8_t* h = side.bytes.data();
    uint8_t marker = front ? 0x55 : 0xAA;
    h[0] = marker;
    h[1] = options.wrongMarkers ? static_cast<uint8_t>(marker ^ 0xFF) : marker;
    size_t claimed =
        options.claimBlocks >= 0 ? static_cast<size_t>(options.claimBlocks) : side.blocks;
    claimed = std::min<size_t>(claimed, 0xFFFF);
    h[2] = static_cast<uint8_t>(claimed & 0xFF);
    h[3] = static_cast<uint8_t>(claimed >> 8);
    for (int i = 0; i < 4; ++i)
        h[4 + i] = static_cast<uint8_t>(side.actualImageSize >> (24 - 8 * i));
    if (w.micrDetect != 0) {
        size_t room = options.micrNoCr ? kMicrMaxChars + 1 : kMicrMaxChars;
        size_t n = std::min(options.micr.size(), room);
        std::copy_n(options.micr.begin(), n, h + kMicrOffset);
        if (!options.micrNoCr) h[kMicrOffset + n] = 0x0D;
    }
    std::copy(data.begin(), data.end(), side.bytes.begin() + kSideHeaderSize);
    return side;
}

DocumentData BuildDocument(const Image& front, const SideOptions& frontOptions, const Image* rear,
                           const SideOptions& rearOptions, const WindowSettings& w) {
    DocumentData doc;
    SideData f = BuildSide(front, true, w, frontOptions);
    doc.frontBlocks = f.blocks;
    doc.bytes = std::move(f.bytes);
    if (rear && !w.frontOnly) {
        SideData r = BuildSide(*rear, false, w, rearOptions);
        doc.rearBlocks = r.blocks;
        doc.bytes.insert(doc.bytes.end(), r.bytes.begin(), r.bytes.end());
    }
    return doc;
}

}  // namespace orvo::sim
