#include "orvo/image/retrieval.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "orvo/core/scan_kinds.h"
#include "orvo/core/trace.h"
#include "orvo/image/decode.h"
#include "orvo/image/framing.h"
#include "orvo/image/writers.h"
#include "retrieval_page_file.h"

namespace orvo {

using retrieval::FitRows;

namespace {

// 32 + 3 x the classic 8 x 8 Bayer index, except row 2, column 1: the scanner's
// own conversion uses 174 there, and so do we.
constexpr uint8_t kDither[8][8] = {
    {32, 128, 56, 152, 38, 134, 62, 158}, {176, 80, 200, 104, 182, 86, 206, 110},
    {68, 174, 44, 140, 74, 170, 50, 146}, {212, 116, 188, 92, 218, 122, 194, 98},
    {41, 137, 65, 161, 35, 131, 59, 155}, {185, 89, 209, 113, 179, 83, 203, 107},
    {77, 173, 53, 149, 71, 167, 47, 143}, {221, 125, 197, 101, 215, 119, 191, 95},
};

struct MicrArea {
    char text[kMicrAreaSize] = {};
    int size = 0;
    bool taken = false;
};

MicrArea& Micr() {
    static MicrArea area;
    return area;
}

// The 8-bit rows of a Resolution-1 page after widening; allocated on first
// use and kept for the library's lifetime.
uint8_t* GrayBuf() {
    static std::unique_ptr<uint8_t[]> buf;
    if (!buf) buf.reset(new (std::nothrow) uint8_t[kGrayBufSize]);
    return buf.get();
}

// The page data of one retrieval.
struct Page {
    uint8_t* data = nullptr;  // ImageBuf + 64
    std::size_t n = 0;        // bytes of page data read
    std::size_t avail = 0;    // bytes of ImageBuf from data on
    uint32_t actual = 0;      // ActualImageSize
};

class Retrieval {
  public:
    Retrieval(const PageContext& c, const std::string& out) : c_(c), s_(c.settings), out_(out) {}

    // Returns H, the row count handed to the writers (0 when no rows were made).
    long Run(const Page& p) {
        Trace("TempScanMode", c_.tempScanMode);
        const ScanMode mode = ScanModeOf(c_.tempScanMode);
        if (ResolutionOf(s_.Resolution) == Resolution::kDpi300Widened) return Widened(p);
        if (IsBilevel(mode)) return Bilevel(p);
        if (IsGray(mode)) return Gray(p);
        return 0;
    }

    // Whether a writer has written the image file.
    bool written() const { return written_; }

  private:
    void Trace(const char* text, long value) const {
        orvo::Trace(TraceFile::GetOne, c_.pageNumber, text, static_cast<int>(value));
    }

    void Raw(const Page& p) {
        written_ = Save2RAW(out_, p.data, p.n);
        if (!written_) Trace("Save2RAW failed", 0);
    }

    RowBuffer Rows() const { return RowBuffer{c_.rowBuffer.data, c_.rowBuffer.size}; }

    // Writes a bilevel image; H below 2 holds no image row and writes no file.
    void WriteBilevel(const RowBlock& rows) {
        if (rows.rows < 2) {
            Trace("no image rows", rows.rows);
            return;
        }
        if (ImageFormatOf(s_.ImageFileFormat) == ImageFormat::kTiff) {
            written_ = Save2Tiff(out_, rows, Rows(), s_.Resolution);
            Trace("Save2Tiff", 0);
            if (!written_) Trace("Save2Tiff failed", 0);
        } else {
            written_ = Save2DIB(out_, rows);
            if (!written_) Trace("Save2DIB failed", 0);
        }
    }

    void WriteGray(const RowBlock& rows, int bits) {
        if (rows.rows < 2) {
            Trace("no image rows", rows.rows);
            return;
        }
        if (ImageFormatOf(s_.ImageFileFormat) == ImageFormat::kTiff) {
            Trace("Save2TiffGray", 0);
            written_ = Save2TiffGray(out_, rows, Rows(), s_.Resolution, bits, s_.GrayTifCompress);
            if (!written_) Trace("Save2TiffGray failed", 0);
        } else {
            Trace("Save2DIBGray", 0);
            written_ = Save2DIBGray(out_, rows, bits);
            if (!written_) Trace("Save2DIBGray failed", 0);
        }
    }

    long Bilevel(const Page& p) {
        const ImageFormat format = ImageFormatOf(s_.ImageFileFormat);
        if (format == ImageFormat::kRaw) {
            Raw(p);
            return 0;
        }
        if (!IsImageFormat(s_.ImageFileFormat) || s_.ScanWidth <= 0) return 0;
        const std::size_t width = static_cast<std::size_t>(s_.ScanWidth);
        const std::size_t q = 2 * ((width + 15) / 16);  // whole 16-pixel units
        RowBlock rows;
        long h = 0;
        if (CompressionOf(s_.CompressMode) != Compression::kCoded) {
            // The rows are the page data themselves; they and the writer's
            // row length must stay inside ImageBuf.
            const std::size_t w = (width + 7) / 8;
            h = 2 * static_cast<long>(p.actual / w);
            h = FitRows(FitRows(h, w, w, p.n), w, q, p.avail);
            Trace("COMPRESSMODE_NONE : hgt = ", h);
            rows = RowBlock{p.data, p.avail, w, q, s_.ScanWidth, static_cast<int>(h)};
        } else {
            h = std::min(EolCount(p.data, p.n), kMaxMhLines);
            h = FitRows(h, kMhRowBytes, std::max(q, kMhRowBytes), c_.decodeBuf.size);
            Trace("COMPRESSMODE_COMPRESS : hgt = ", h);
            if (h > 0) {
                DecodeMhPage(p.data, p.n, h, c_.workImage.data, c_.workImage.size,
                             c_.decodeBuf.data, c_.decodeBuf.size);
            }
            rows = RowBlock{c_.decodeBuf.data, c_.decodeBuf.size,  kMhRowBytes, q,
                            s_.ScanWidth,      static_cast<int>(h)};
        }
        if (h <= 0) return 0;
        uint8_t* first = const_cast<uint8_t*>(rows.data);
        // Row 0 is never written; when a stored row is shorter than the
        // writer's row length (uncompressed rows of an odd byte count), the
        // fill stops at the row's end so that it does not reach image row 1.
        std::memset(first, 0xFF, std::min(q, rows.step));
        retrieval::CopySecondPixelToFirst(first, rows.step, h);
        WriteBilevel(rows);
        return h;
    }

    long Gray(const Page& p) {
        const int bits = BitsPerPixel(ScanModeOf(c_.tempScanMode));  // 4 or 8: a gray mode
        Trace("bit_per_pixel", bits);
        const ImageFormat format = ImageFormatOf(s_.ImageFileFormat);
        if (format == ImageFormat::kRaw) {
            Trace("Save2RAW", 0);
            Raw(p);
            return 0;
        }
        if (!IsImageFormat(s_.ImageFileFormat) || s_.ScanWidth <= 0) return 0;
        const std::size_t width = static_cast<std::size_t>(s_.ScanWidth);
        const std::size_t l = bits == 4 ? (width + 1) / 2 : width;
        RowBlock rows;
        long h = 0;
        if (CompressionOf(s_.CompressMode) != Compression::kCoded) {
            h = 2 * static_cast<long>(p.actual / l);
            h = FitRows(h, l, l, p.n);
            rows = RowBlock{p.data, p.avail, l, l, s_.ScanWidth, static_cast<int>(h)};
        } else {
            const retrieval::CodedGray coded = retrieval::MeasureCodedGray(p.data, p.n);
            h = FitRows(coded.lines, kGrayRowBytes, std::max(l, kGrayRowBytes), c_.decodeBuf.size);
            if (h > 0 && bits == 4) {
                DecodeGray4Page(p.data, coded.length, h, c_.decodeBuf.data, c_.decodeBuf.size);
            } else if (h > 0) {
                DecodeGray8Page(p.data, coded.length, h, c_.decodeBuf.data, c_.decodeBuf.size);
            }
            rows = RowBlock{c_.decodeBuf.data, c_.decodeBuf.size,  kGrayRowBytes, l,
                            s_.ScanWidth,      static_cast<int>(h)};
        }
        if (h <= 0) return 0;
        WriteGray(rows, bits);
        return h;
    }

    // Resolution 1: the scanner sent 8-bit gray rows; they are widened by 1.5
    // into GrayBuf and converted to the batch's scan mode.
    long Widened(const Page& p) {
        const ScanMode mode = ScanModeOf(c_.tempScanMode);
        const bool known = IsBilevel(mode) || IsGray(mode);
        const ImageFormat format = ImageFormatOf(s_.ImageFileFormat);
        if (format == ImageFormat::kRaw) {
            if (IsGray(mode)) Trace("Save2RAW", 0);
            if (known) Raw(p);
            return 0;
        }
        if (!IsImageFormat(s_.ImageFileFormat) || !known || s_.ScanWidth <= 0) return 0;
        uint8_t* gray = GrayBuf();
        if (gray == nullptr) {
            Trace("GrayBuf not allocated", 0);
            return 0;
        }
        const std::size_t width = static_cast<std::size_t>(s_.ScanWidth);
        const std::size_t w15 = width * 3 / 2;
        // Each source row is read only up to its own last value.
        const std::size_t extent = width;
        const uint8_t* src = nullptr;
        std::size_t pitch = 0;
        long h = 0;
        if (CompressionOf(s_.CompressMode) != Compression::kCoded) {
            h = 2 * static_cast<long>(p.actual / width);
            h = FitRows(FitRows(h, width, width, p.n), width, extent, p.avail);
            src = p.data;
            pitch = width;
        } else {
            // The scanner was asked for 8-bit gray whatever the scan mode, so
            // the 8-bit decoder suits its data in every mode.
            const retrieval::CodedGray coded = retrieval::MeasureCodedGray(p.data, p.n);
            h = FitRows(coded.lines, kGrayRowBytes, std::max(extent, kGrayRowBytes),
                        c_.decodeBuf.size);
            if (h > 0) {
                DecodeGray8Page(p.data, coded.length, h, c_.decodeBuf.data, c_.decodeBuf.size);
            }
            src = c_.decodeBuf.data;
            pitch = kGrayRowBytes;
        }
        // The widened rows must fit GrayBuf, the packed rows the work buffer.
        h = FitRows(h, w15, w15, kGrayBufSize);
        const std::size_t packed = mode == ScanMode::kGray16 ? (w15 + 1) / 2 : (w15 + 7) / 8;
        if (mode != ScanMode::kGray256) h = FitRows(h, packed, packed, c_.workImage.size);
        if (h <= 0) return 0;

        for (long r = 0; r < h; ++r) {
            const uint8_t* s = src + static_cast<std::size_t>(r) * pitch;
            uint8_t* d = gray + static_cast<std::size_t>(r) * w15;
            std::size_t k = 0;
            for (std::size_t x = 0; x < width && k < w15; x += 2) {
                uint8_t three[3];
                if (x + 2 < width) {
                    WidenPair(s + x, three);
                } else {
                    // The last pair reaches past the row: it repeats the
                    // row's last value instead of reading what follows.
                    const uint8_t edge[3] = {s[x], s[std::min(x + 1, width - 1)], s[width - 1]};
                    WidenPair(edge, three);
                }
                for (int i = 0; i < 3 && k < w15; ++i) d[k++] = three[i];
            }
        }

        const int rowsH = static_cast<int>(h);
        const int outWidth = static_cast<int>(w15);
        if (mode == ScanMode::kGray256) {
            WriteGray(RowBlock{gray, kGrayBufSize, w15, w15, outWidth, rowsH}, 8);
            return h;
        }
        uint8_t* work = c_.workImage.data;
        if (mode == ScanMode::kGray16) {
            // Two values to a byte; the low nibble after an odd last value is 0.
            for (long r = 0; r < h; ++r) {
                const uint8_t* v = gray + static_cast<std::size_t>(r) * w15;
                uint8_t* d = work + static_cast<std::size_t>(r) * packed;
                for (std::size_t k = 0; 2 * k < w15; ++k) {
                    const uint8_t hi = static_cast<uint8_t>(v[2 * k] >> 4);
                    const uint8_t lo =
                        2 * k + 1 < w15 ? static_cast<uint8_t>(v[2 * k + 1] >> 4) : 0;
                    d[k] = static_cast<uint8_t>((hi << 4) | lo);
                }
            }
            WriteGray(RowBlock{work, c_.workImage.size, packed, packed, outWidth, rowsH}, 4);
            return h;
        }
        // Bilevel: a threshold per value, 1 (black) below it. Every packed byte
        // is written whole; the bits after a row's last value are 0.
        const int slice = s_.BWSlice[0];
        for (long r = 0; r < h; ++r) {
            const uint8_t* v = gray + static_cast<std::size_t>(r) * w15;
            uint8_t* d = work + static_cast<std::size_t>(r) * packed;
            for (std::size_t j = 0; j < packed; ++j) {
                uint8_t byte = 0;
                for (std::size_t b = 0; b < 8; ++b) {
                    const std::size_t col = 8 * j + b;
                    if (col >= w15) break;
                    const bool black =
                        mode == ScanMode::kBilevel
                            ? static_cast<int>(v[col]) < slice
                            : v[col] < DitherThreshold(static_cast<std::size_t>(r), col);
                    if (black) byte = static_cast<uint8_t>(byte | (0x80 >> b));
                }
                d[j] = byte;
            }
        }
        WriteBilevel(RowBlock{work, c_.workImage.size, packed, packed, outWidth, rowsH});
        return h;
    }

    const PageContext& c_;
    const Settings& s_;
    const std::string& out_;
    bool written_ = false;
};

void TakeMicr(const uint8_t* page, std::size_t bytes) {
    MicrArea& micr = Micr();
    std::memset(micr.text, 0, sizeof micr.text);
    std::size_t t = 0;
    // A header cut short holds no MICR field: the text is empty.
    if (page != nullptr && bytes >= kPageHeaderSize) {
        const uint8_t* field = page + kMicrFieldOffset;
        while (t < kMicrMaxChars && field[t] != '\r') {
            micr.text[t] = static_cast<char>(field[t]);
            ++t;
        }
    }
    if (t == 0) t = 1;
    // The CR takes the place of the last character copied.
    micr.text[t - 1] = '\r';
    micr.text[t] = '\n';
    micr.size = static_cast<int>(t - 1);
    micr.taken = true;
}

}  // namespace

void WidenPair(const uint8_t* s, uint8_t out[3]) {
    out[0] = s[0];
    out[1] = static_cast<uint8_t>(s[0] * 0.33333 + s[1] * 0.66666);
    out[2] = static_cast<uint8_t>(s[2] * 0.33333 + s[1] * 0.66666);
}

uint8_t DitherThreshold(std::size_t row, std::size_t column) {
    return kDither[row % 8][column % 8];
}

char* MicrDataBufPtr() {
    return Micr().taken ? Micr().text : nullptr;
}

int MicrDataSize() {
    return Micr().size;
}

int RetrievePageToFile(const PageContext& context, const std::string& outputPath, bool* written) {
    if (written != nullptr) *written = false;
    auto trace = [&](const char* text, long value) {
        Trace(TraceFile::GetOne, context.pageNumber, text, static_cast<int>(value));
    };
    trace("OrvoScan_IsPageLoaded", 0);
    const retrieval::LoadedPage loaded =
        retrieval::LoadPageFile(context.pageFile, context.imageBuf);
    if (!loaded.opened) return 0;
    trace("fp != NULL", 0);
    if (loaded.fileSize < 1) trace("size <= 0", 0);
    // A file larger than ImageBuf: the page is its first ImageBuf bytes.
    if (loaded.oversize && loaded.fileSize > 0) trace("size > (int)_msize(ImageBuf)", 0);

    uint8_t* buf = context.imageBuf.data;
    Page page;
    page.actual = retrieval::ActualImageSize(buf, loaded.bytes);
    trace("ActualImageSize", static_cast<long>(page.actual));
    if (context.settings.MicrDetect != 0) TakeMicr(buf, loaded.bytes);
    if (loaded.bytes <= kPageHeaderSize) return 0;

    page.data = buf + kPageHeaderSize;
    page.n = loaded.bytes - kPageHeaderSize;
    page.avail = context.imageBuf.size - kPageHeaderSize;
    Retrieval retrieval(context, outputPath);
    const long h = retrieval.Run(page);
    if (written != nullptr) *written = retrieval.written();
    return static_cast<int>(std::max(h, 0L) - 1);
}

}  // namespace orvo
