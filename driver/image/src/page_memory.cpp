// The in-memory page: the next page of a batch decoded into a heap block the
// library owns, with the description a client needs to lay it out.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "orvo/core/scan_kinds.h"
#include "orvo/image/decode.h"
#include "orvo/image/framing.h"
#include "orvo/image/retrieval.h"
#include "retrieval_page_file.h"

namespace orvo {

using retrieval::FitRows;

namespace {

struct StoredPage {
    std::unique_ptr<uint8_t[]> block;
    MemoryPage info;
};

StoredPage& Stored() {
    static StoredPage page;
    return page;
}

// Where the page's rows are before they go into the page block.
struct Source {
    uint8_t* rows = nullptr;
    std::size_t pitch = 0;
    long lines = 0;  // rows 1..lines-1 are the image
};

// Pixel i of a source row at 4 or 8 bits per pixel.
uint8_t Pixel(const uint8_t* row, std::size_t i, int bits) {
    if (bits == 8) return row[i];
    const uint8_t b = row[i / 2];
    return static_cast<uint8_t>(i % 2 == 0 ? b >> 4 : b & 0x0F);
}

// The rows of a gray page at Resolution 3 doubled: 2n - 1 rows from the n
// image rows, every odd row the average of its neighbours, repacked at the
// page's own bits per pixel (a 4-bit row of odd width ends in a 0 nibble).
void DoubleRows(const Source& src, std::size_t width, int bits, uint8_t* out,
                std::size_t outPitch) {
    const long n = src.lines - 1;
    const long height = 2 * n - 1;
    for (long j = 0; j < height; ++j) {
        const uint8_t* a = src.rows + static_cast<std::size_t>(j / 2 + 1) * src.pitch;
        const uint8_t* b = j % 2 == 0 ? a : a + src.pitch;
        uint8_t* d = out + static_cast<std::size_t>(j) * outPitch;
        std::memset(d, 0, outPitch);
        for (std::size_t i = 0; i < width; ++i) {
            const uint8_t v = static_cast<uint8_t>((Pixel(a, i, bits) + Pixel(b, i, bits)) / 2);
            if (bits == 8) {
                d[i] = v;
            } else {
                d[i / 2] = static_cast<uint8_t>(d[i / 2] | (i % 2 == 0 ? v << 4 : v));
            }
        }
    }
}

}  // namespace

int RetrievePageToMemory(const PageContext& context) {
    const Settings& s = context.settings;
    const retrieval::LoadedPage loaded =
        retrieval::LoadPageFile(context.pageFile, context.imageBuf);
    if (!loaded.opened || loaded.bytes <= kPageHeaderSize || s.ScanWidth <= 0) return 0;
    uint8_t* data = context.imageBuf.data + kPageHeaderSize;
    const std::size_t n = loaded.bytes - kPageHeaderSize;
    // Rows of uncompressed data: ScanLines1, or for a profile without a
    // length the rows the side header announces, as for image files.
    const uint32_t actual = retrieval::ActualImageSize(context.imageBuf.data, loaded.bytes);
    auto plainLines = [&](std::size_t pitch) -> long {
        if (s.ScanLines[0] > 0) return s.ScanLines[0];
        return pitch == 0 ? 0 : 2 * static_cast<long>(actual / pitch);
    };
    const std::size_t width = static_cast<std::size_t>(s.ScanWidth);
    const bool coded = CompressionOf(s.CompressMode) == Compression::kCoded;
    const ScanMode mode = ScanModeOf(context.tempScanMode);
    const Resolution resolution = ResolutionOf(s.Resolution);
    const bool widened = resolution == Resolution::kDpi300Widened;
    const PageBuffer decode = context.decodeBuf;

    // At Resolution 1 the scanner sends 8-bit gray rows whatever the scan
    // mode: they are delivered as sent. Bilevel pages are never doubled.
    const bool bilevel = !widened && IsBilevel(mode);
    const bool gray = widened || IsGray(mode);
    if (!bilevel && !gray) return 0;

    Source src;
    MemoryPage info;
    info.width = s.ScanWidth;
    if (bilevel) {
        info.bitsPerPixel = 1;
        info.pitchDst = static_cast<int>((width + 15) / 16 * 2);
        if (coded) {
            src.pitch = kMhRowBytes;
            src.lines = FitRows(std::min(EolCount(data, n), kMaxMhLines), src.pitch, src.pitch,
                                decode.size);
            if (src.lines > 0) {
                DecodeMhPage(data, n, src.lines, context.workImage.data, context.workImage.size,
                             decode.data, decode.size);
            }
            src.rows = decode.data;
        } else {
            src.pitch = (width + 7) / 8;
            src.lines = FitRows(plainLines(src.pitch), src.pitch, src.pitch, n);
            src.rows = data;
        }
        if (src.lines > 0) retrieval::CopySecondPixelToFirst(src.rows, src.pitch, src.lines);
    } else {
        const int bits = !widened && mode == ScanMode::kGray16 ? 4 : 8;
        const std::size_t rowBytes = bits == 4 ? (width + 1) / 2 : width;
        info.bitsPerPixel = static_cast<uint8_t>(bits);
        info.pitchDst = static_cast<int>(rowBytes);
        if (coded) {
            const retrieval::CodedGray coded = retrieval::MeasureCodedGray(data, n);
            src.pitch = kGrayRowBytes;
            src.lines = FitRows(coded.lines, src.pitch, src.pitch, decode.size);
            if (src.lines > 0 && bits == 4) {
                DecodeGray4Page(data, coded.length, src.lines, decode.data, decode.size);
            } else if (src.lines > 0) {
                DecodeGray8Page(data, coded.length, src.lines, decode.data, decode.size);
            }
            src.rows = decode.data;
        } else {
            src.pitch = rowBytes;
            src.lines = FitRows(plainLines(src.pitch), src.pitch, src.pitch, n);
            src.rows = data;
        }
        const std::size_t avail = coded ? decode.size : n;
        if (resolution == Resolution::kDpi200RowsDoubled) {
            // Every doubled row reads a whole image row of the source.
            src.lines = FitRows(src.lines, src.pitch, std::max(rowBytes, src.pitch), avail);
        }
    }
    if (src.lines < 2 || src.rows == nullptr) return 0;

    const bool doubled = gray && resolution == Resolution::kDpi200RowsDoubled;
    const std::size_t pitch = doubled ? static_cast<std::size_t>(info.pitchDst) : src.pitch;
    long height = doubled ? 2 * (src.lines - 1) - 1 : src.lines - 1;
    // The size is reported as a 32-bit value.
    height = std::min<long>(height, static_cast<long>(INT_MAX / std::max<std::size_t>(pitch, 1)));
    if (doubled && height % 2 == 0) --height;  // doubled pages have an odd row count
    if (height < 1 || pitch == 0) return 0;
    const std::size_t size = static_cast<std::size_t>(height) * pitch;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block) return 0;

    if (doubled) {
        Source rows = src;
        rows.lines = (height + 1) / 2 + 1;
        DoubleRows(rows, width, info.bitsPerPixel, block.get(), pitch);
    } else {
        std::memcpy(block.get(), src.rows + src.pitch, size);
    }
    info.height = static_cast<int>(height);
    info.pitchSrc = static_cast<int>(pitch);
    info.size = static_cast<int>(size);
    StoredPage& stored = Stored();
    stored.block = std::move(block);  // the previous page's block is freed here
    stored.info = info;
    return info.height;
}

int ClearOneImageBuf() {
    Stored().block.reset();
    return 1;
}

uint8_t* MemoryPageData() {
    return Stored().block.get();
}

const MemoryPage& MemoryPageInfo() {
    return Stored().info;
}

}  // namespace orvo
