// Images end to end: cheques of known content fed through the virtual
// scanner and taken through the exported interface as TIFF, bitmap and raw
// files and as in-memory pages, compared pixel for pixel with what the driver
// is meant to make of the scanner's data.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvo/sim/side_data.h"
#include "orvoscan.h"

namespace {

using orvo::sim::Image;
using orvo::sim::TheScanner;

// One decoded image: width x height values (bits 1: 1 = black; 4: 0-15;
// 8: 0-255), top row first.
struct Pixels {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<uint8_t> v;
    uint8_t at(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
};

// Where the first difference of two images is, or "" when they are equal.
std::string Compare(const Pixels& got, const Pixels& want) {
    if (got.width != want.width || got.height != want.height || got.bits != want.bits) {
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + "@" +
               std::to_string(got.bits) + ", expected " + std::to_string(want.width) + "x" +
               std::to_string(want.height) + "@" + std::to_string(want.bits);
    }
    for (int y = 0; y < want.height; ++y) {
        for (int x = 0; x < want.width; ++x) {
            if (got.at(x, y) != want.at(x, y)) {
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                       std::to_string(got.at(x, y)) + ", expected " + std::to_string(want.at(x, y));
            }
        }
    }
    return "";
}

// Pixel i of a row packed most significant bit (or nibble) first.
uint8_t Unpack(const uint8_t* row, int i, int bits) {
    if (bits == 1) return (row[i / 8] >> (7 - i % 8)) & 1;
    if (bits == 4) return i % 2 == 0 ? row[i / 2] >> 4 : row[i / 2] & 0x0F;
    return row[i];
}

Pixels UnpackRows(const uint8_t* rows, size_t pitch, int width, int height, int bits) {
    Pixels p{width, height, bits, {}};
    p.v.resize(static_cast<size_t>(width) * static_cast<size_t>(std::max(height, 0)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            p.v[static_cast<size_t>(y) * width + x] = Unpack(rows + y * pitch, x, bits);
        }
    }
    return p;
}

// ---------------------------------------------------------------------------
// Independent readers of the files the driver writes.

struct TiffInfo {
    bool opened = false;
    uint32_t width = 0, length = 0;
    uint16_t compression = 0, photometric = 0, bits = 0, planar = 0, unit = 0;
    float xres = -1, yres = -1;
    Pixels pixels;
};

TiffInfo ReadTiff(const std::string& path) {
    TiffInfo t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return t;
    t.opened = true;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.length);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)) + 1);
    std::vector<uint8_t> all;
    const size_t pitch = row.size();
    for (uint32_t y = 0; y < t.length; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0) break;
        all.insert(all.end(), row.begin(), row.end());
    }
    const int rows = static_cast<int>(all.size() / pitch);
    t.pixels = UnpackRows(all.data(), pitch, static_cast<int>(t.width), rows, t.bits);
    // Photometric 0 (white is zero) keeps 1 = black for bilevel images.
    TIFFClose(tif);
    return t;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// A Windows bitmap parsed by its bytes; every field is checked against the
// layout the writers promise. Gray pixels are mapped back through the palette
// index (the palette itself is checked here).
Pixels ReadBmp(const std::string& path, std::string* problem) {
    const std::vector<uint8_t> b = e2e::ReadBytes(path);
    Pixels p;
    auto fail = [&](const std::string& what) {
        *problem = what;
        return Pixels{};
    };
    if (b.size() < 54) return fail("file of " + std::to_string(b.size()) + " bytes");
    if (b[0] != 'B' || b[1] != 'M') return fail("no BM");
    const uint32_t width = Le32(b, 18);
    const int32_t height = static_cast<int32_t>(Le32(b, 22));
    const uint16_t bits = Le16(b, 28);
    const uint32_t entries = Le32(b, 46);
    const uint32_t stride = ((bits * width + 31) / 32) * 4;
    const uint32_t image = stride * static_cast<uint32_t>(height);
    if (Le32(b, 14) != 40) return fail("biSize");
    if (Le16(b, 26) != 1) return fail("biPlanes");
    if (Le32(b, 30) != 0) return fail("biCompression");
    if (entries != (1u << bits) || Le32(b, 50) != entries) return fail("palette entries");
    if (Le32(b, 34) != image) return fail("biSizeImage");
    if (Le32(b, 10) != 54 + 4 * entries) return fail("bfOffBits");
    if (Le32(b, 2) != 54 + 4 * entries + image || b.size() != Le32(b, 2)) return fail("bfSize");
    if (Le16(b, 6) != 0 || Le16(b, 8) != 0) return fail("reserved");
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = &b[54 + 4 * i];
        const uint8_t level =
            entries == 2 ? (i == 0 ? 255 : 0) : static_cast<uint8_t>(i * 256 / entries);
        if (e[0] != level || e[1] != level || e[2] != level || e[3] != 0) {
            return fail("palette entry " + std::to_string(i));
        }
    }
    const uint8_t* bottom = b.data() + 54 + 4 * entries;
    p = Pixels{static_cast<int>(width), height, bits, {}};
    p.v.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bottom + static_cast<size_t>(height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            p.v[static_cast<size_t>(y) * width + x] = Unpack(row, static_cast<int>(x), bits);
        }
        // The padding of each row stays 0 past the written bytes.
        const uint32_t used = (bits * width + 7) / 8;
        const uint32_t q = bits == 1 ? 2 * ((width + 15) / 16) : used;
        for (uint32_t i = std::max(used, q); i < stride; ++i) {
            if (row[i] != 0) return fail("padding of row " + std::to_string(y));
        }
    }
    return p;
}

// ---------------------------------------------------------------------------
// The pages of a batch and what the driver should make of them.

// A gray cheque of known content: a diagonal ramp through every level, a
// pseudo-random speckle, solid black and white bars and a one-pixel border
// column, so that the first pixel of a row differs from the second.
Image TestPage(int width, int height, int seed) {
    Image img(width, height, 255);
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(seed + 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            int v = (x * 3 + y * 5 + seed * 17) % 256;
            if ((state >> 24) < 40) v = static_cast<int>(state >> 16) & 0xFF;
            if ((y / 7 + seed) % 5 == 0 && x > width / 3 && x < width / 2) v = 0;
            if ((y / 5 + seed) % 4 == 1 && x > width / 2 && x < 2 * width / 3) v = 255;
            if (x == 0) v = (y + seed) % 3 == 0 ? 0 : 255;
            img.at(x, y) = static_cast<uint8_t>(v);
        }
    }
    return img;
}

struct BatchSetup {
    int mode = 0;
    int compress = 0;
    int resolution = 0;
    int width = 256;
    int lines = 40;
    int slice = 100;
    int grayTif = 1;
    int format = 0;  // 0 TIFF, 1 DIB, 2 RAW, 3 in-memory pages
};

std::string Name(const BatchSetup& s) {
    static const char* kFormats[] = {"tiff", "dib", "raw", "memory"};
    return std::string("mode") + std::to_string(s.mode) + "_compress" + std::to_string(s.compress) +
           "_res" + std::to_string(s.resolution) + "_" + kFormats[s.format] + "_w" +
           std::to_string(s.width) + "_l" + std::to_string(s.lines);
}

std::string Settings(const BatchSetup& s) {
    auto keys = [&] {
        return std::vector<std::pair<std::string, std::string>>{
            {"Side", "1"},
            {"ScanWidth", std::to_string(s.width)},
            {"Resolution", std::to_string(s.resolution)},
            {"ScanMode1", std::to_string(s.mode)},
            {"CompressMode", std::to_string(s.compress)},
            {"BWSlice1", std::to_string(s.slice)},
            {"ScanLines1", std::to_string(s.lines)}};
    };
    const int format = s.format == 3 ? 0 : s.format;
    return e2e::Ini({{"Default", keys()},
                     {"Check", keys()},
                     {"Misc",
                      {{"MicrDetect", "1"},
                       {"ImageFileFormat", std::to_string(format)},
                       {"GrayTifCompress", std::to_string(s.grayTif)}}}});
}

// Output width, rows, bits of a widened page converted to the scan mode.
int Widened(int w) {
    return static_cast<int>(std::trunc(w * 1.5));
}

// The scanner's rows as the driver receives them: values of every device
// line (1/0, 0-15 or 0-255), the side's length and its header size field.
struct DeviceSide {
    Image values;
    std::vector<uint8_t> data;  // image data as the page file holds them
    uint32_t actualImageSize = 0;
};

DeviceSide Device(const Image& page, bool front, const orvo::sim::WindowSettings& window,
                  const std::string& micr) {
    DeviceSide d;
    d.values = orvo::sim::SideValues(page, window);
    orvo::sim::SideOptions options;
    options.micr = micr;
    const orvo::sim::SideData side = orvo::sim::BuildSide(page, front, window, options);
    d.actualImageSize = side.actualImageSize;
    const bool mhCoded = side.coded && orvo::sim::SideBitsPerPixel(window) == 1;
    const size_t end = mhCoded ? side.rtcEnd : side.bytes.size();
    d.data.assign(side.bytes.begin() + orvo::sim::kSideHeaderSize,
                  side.bytes.begin() + static_cast<long>(end));
    return d;
}

// Source rows for the image: `first` is the device line that becomes the
// image's first row (0 for coded data, whose decoders drop the last line;
// 1 for uncompressed data, whose row 0 the writers skip), `count` the rows.
struct RowRange {
    int first = 0;
    int count = 0;
};

RowRange FileRows(const BatchSetup& s, const DeviceSide& d, size_t rowBytes) {
    const int lines = d.values.height;
    if (s.compress == 0) return {0, lines - 1};
    const int h = static_cast<int>(2 * (d.actualImageSize / rowBytes));
    return {1, std::min(h, lines) - 1};
}

// The image a file of this batch should hold (or the in-memory page).
Pixels Expected(const BatchSetup& s, const DeviceSide& d) {
    const Image& v = d.values;
    const int w = v.width;
    const int bitsSent = s.resolution == 1 ? 8 : (s.mode == 3 ? 4 : s.mode == 4 ? 8 : 1);
    const size_t rowBytes = bitsSent == 1 ? (w + 7) / 8 : bitsSent == 4 ? (w + 1) / 2 : w;
    RowRange range = FileRows(s, d, rowBytes);
    if (s.format == 3 && s.compress != 0) range = {1, v.height - 1};  // ScanLines1 rows

    if (s.resolution == 1 && s.format != 3) {
        // Widening by 1.5, then the conversion to the batch's scan mode.
        const int w15 = Widened(w);
        const int bits = s.mode == 3 ? 4 : s.mode == 4 ? 8 : 1;
        Pixels p{w15, range.count, bits, {}};
        p.v.resize(static_cast<size_t>(w15) * range.count);
        for (int r = 0; r < range.count; ++r) {
            const int line = range.first + r;
            // Past the end of the row the row's last value repeats.
            auto src = [&](int x) -> int { return v.at(std::min(x, w - 1), line); };
            std::vector<int> wide;
            for (int x = 0; x < w; x += 2) {
                wide.push_back(src(x));
                wide.push_back(static_cast<int>(src(x) * 0.33333 + src(x + 1) * 0.66666));
                wide.push_back(static_cast<int>(src(x + 2) * 0.33333 + src(x + 1) * 0.66666));
            }
            const int bufferRow = r + 1;  // row 0 of the widened rows is never written
            for (int c = 0; c < w15; ++c) {
                static const uint8_t kDither[8][8] = {
                    {32, 128, 56, 152, 38, 134, 62, 158}, {176, 80, 200, 104, 182, 86, 206, 110},
                    {68, 174, 44, 140, 74, 170, 50, 146}, {212, 116, 188, 92, 218, 122, 194, 98},
                    {41, 137, 65, 161, 35, 131, 59, 155}, {185, 89, 209, 113, 179, 83, 203, 107},
                    {77, 173, 53, 149, 71, 167, 47, 143}, {221, 125, 197, 101, 215, 119, 191, 95}};
                const int x = wide[c];
                uint8_t out = 0;
                if (s.mode == 0) out = x < s.slice ? 1 : 0;
                if (s.mode == 1 || s.mode == 2) out = x < kDither[bufferRow % 8][c % 8] ? 1 : 0;
                if (s.mode == 3) out = static_cast<uint8_t>(x >> 4);
                if (s.mode == 4) out = static_cast<uint8_t>(x);
                p.v[static_cast<size_t>(r) * w15 + c] = out;
            }
        }
        return p;
    }

    const bool doubled = s.format == 3 && s.resolution == 3 && bitsSent != 1;
    Pixels p{w, doubled ? 2 * range.count - 1 : range.count, bitsSent, {}};
    p.v.resize(static_cast<size_t>(w) * std::max(p.height, 0));
    for (int r = 0; r < range.count; ++r) {
        for (int x = 0; x < w; ++x) {
            // Bilevel rows: the first pixel takes the second pixel's value.
            const int sx = bitsSent == 1 && x == 0 && w > 1 ? 1 : x;
            const uint8_t value = v.at(sx, range.first + r);
            p.v[static_cast<size_t>(doubled ? 2 * r : r) * w + x] = value;
        }
    }
    if (doubled) {
        for (int r = 1; r < p.height; r += 2) {
            for (int x = 0; x < w; ++x) {
                p.v[static_cast<size_t>(r) * w + x] =
                    static_cast<uint8_t>((p.at(x, r - 1) + p.at(x, r + 1)) / 2);
            }
        }
    }
    return p;
}

int TiffResolution(int code) {
    static const int kDpi[] = {200, 300, 100, 200, 300, 300};
    return code >= 0 && code <= 5 ? kDpi[code] : 0;
}

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string tmp = e2e::MakeTempDir("orvo-images-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        e2e::UseVirtualScanner(Settings(BatchSetup{}), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
    }
    void TearDown() override { OrvoScan_End(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// Documents of known pages and MICR lines, at no latency.
struct Stack {
    std::vector<std::shared_ptr<const Image>> pages;  // front, rear, front, rear...
    orvo::sim::Scenario scenario;
};

Stack MakeStack(int documents, int width, int height, int seed) {
    Stack st;
    st.scenario = e2e::FastScenario(documents);
    for (int d = 0; d < documents; ++d) {
        auto front = std::make_shared<const Image>(TestPage(width, height, seed + 2 * d));
        auto rear = std::make_shared<const Image>(TestPage(width, height, seed + 2 * d + 1));
        st.scenario.documents[d].front.image = front;
        st.scenario.documents[d].rear.image = rear;
        st.scenario.documents[d].micr = "T12345678T " + std::to_string(1000 + d) + "U";
        st.pages.push_back(front);
        st.pages.push_back(rear);
    }
    return st;
}

struct Taken {
    int result = 0;
    int height = 0;
    std::string path;
    // In-memory pages: the block copied out and its description.
    int format = 0;
    std::vector<uint8_t> block;
    int size = 0, width = 0, memHeight = 0, pitchSrc = 0, pitchDst = 0, bits = 0;
};

// Runs one batch over the stack and takes every page, page i in the format
// formats[i % size] (0 TIFF, 1 DIB, 2 RAW through OrvoScan_ImageFormat
// between pages, 3 in-memory page); the last entry is the result that ended
// the batch.
std::vector<Taken> RunBatch(const BatchSetup& s, const Stack& stack,
                            const std::vector<int>& formats) {
    e2e::WriteSettings(Settings(s));
    TheScanner().SetScenario(stack.scenario);
    std::vector<Taken> pages;
    EXPECT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string dir = e2e::MakeTempDir("orvo-images");
    for (int i = 0; i < 20; ++i) {
        Taken t;
        t.format = formats[static_cast<size_t>(i) % formats.size()];
        t.path = dir + "page" + std::to_string(i);
        if (t.format == 3) {
            t.result = OrvoScan_GetOneImageBufPtr("unused", &t.height);
            if (t.result == 0 && OrvoScan_ImageBufPtr() != nullptr) {
                t.size = OrvoScan_ImageSize();
                t.width = OrvoScan_ImageWidth();
                t.memHeight = OrvoScan_ImageHeitgt();
                t.pitchSrc = OrvoScan_ImagePitchSrc();
                t.pitchDst = OrvoScan_ImagePitchDst();
                t.bits = OrvoScan_ImageBitPerPixel();
                t.block.assign(OrvoScan_ImageBufPtr(), OrvoScan_ImageBufPtr() + t.size);
                OrvoScan_ClearOneImageBuf();
            }
        } else {
            OrvoScan_ImageFormat(t.format);
            t.result = OrvoScan_GetOneImage(t.path.c_str(), &t.height);
        }
        pages.push_back(t);
        // A page whose file was not written is taken all the same.
        if (t.result != 0 && t.result != ORVOSCAN_ERR_PAGE_FILE) break;
    }
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    return pages;
}

std::vector<Taken> RunBatch(const BatchSetup& s, const Stack& stack) {
    return RunBatch(s, stack, {s.format});
}

// Checks one page against the device's side.
void CheckPage(const BatchSetup& s, const Taken& t, const DeviceSide& d) {
    const Pixels want = Expected(s, d);
    if (s.format == 2) {
        EXPECT_EQ(t.height, -1);
        EXPECT_EQ(e2e::ReadBytes(t.path), d.data) << "raw file";
        return;
    }
    if (s.format == 3) {
        ASSERT_FALSE(t.block.empty());
        EXPECT_EQ(t.height, want.height);
        EXPECT_EQ(t.memHeight, want.height);
        EXPECT_EQ(t.width, s.width);
        EXPECT_EQ(t.bits, want.bits);
        EXPECT_EQ(t.size, t.pitchSrc * t.memHeight);
        const int rowBytes = want.bits == 1   ? 2 * ((s.width + 15) / 16)
                             : want.bits == 4 ? (s.width + 1) / 2
                                              : s.width;
        EXPECT_EQ(t.pitchDst, rowBytes);
        const bool doubled = s.resolution == 3 && want.bits != 1;
        const int pitch = doubled           ? rowBytes
                          : s.compress == 0 ? (want.bits == 1 ? 324 : 2592)
                          : want.bits == 1  ? (s.width + 7) / 8
                                            : rowBytes;
        EXPECT_EQ(t.pitchSrc, pitch);
        const Pixels got = UnpackRows(t.block.data(), static_cast<size_t>(t.pitchSrc), t.width,
                                      t.memHeight, t.bits);
        EXPECT_EQ(Compare(got, want), "");
        return;
    }
    EXPECT_EQ(t.height, want.height);
    if (s.format == 0) {
        const TiffInfo tif = ReadTiff(t.path);
        ASSERT_TRUE(tif.opened) << t.path;
        EXPECT_EQ(tif.bits, want.bits);
        EXPECT_EQ(tif.photometric, want.bits == 1 ? 0 : 1);
        const uint16_t grayCompression[] = {1, 5, 32773};
        EXPECT_EQ(tif.compression, want.bits == 1 ? 4 : grayCompression[s.grayTif]);
        EXPECT_EQ(tif.planar, 1);
        EXPECT_EQ(tif.unit, 2);
        EXPECT_EQ(tif.xres, TiffResolution(s.resolution));
        EXPECT_EQ(tif.yres, TiffResolution(s.resolution));
        EXPECT_EQ(static_cast<int>(tif.length), want.height);
        EXPECT_EQ(Compare(tif.pixels, want), "");
    } else {
        std::string problem;
        const Pixels got = ReadBmp(t.path, &problem);
        ASSERT_EQ(problem, "");
        EXPECT_EQ(Compare(got, want), "");
    }
}

void RunAndCheck(const BatchSetup& s, int documents = 2, int seed = 3,
                 const std::vector<int>& formats = {}) {
    SCOPED_TRACE(Name(s));
    // Pages a little taller than the window, so that the scanner crops them.
    const Stack stack = MakeStack(documents, s.width, s.lines + 2, seed);
    const std::vector<Taken> pages =
        formats.empty() ? RunBatch(s, stack) : RunBatch(s, stack, formats);
    ASSERT_EQ(pages.size(), stack.pages.size() + 1)
        << "ended by " << pages.back().result << ", device error " << OrvoScan_GetDeviceError();
    EXPECT_EQ(pages.back().result, ORVOSCAN_NO_PAGE);
    EXPECT_EQ(pages.back().height, 0);
    const orvo::sim::WindowSettings window = TheScanner().Windows().back();
    for (size_t i = 0; i < stack.pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        ASSERT_EQ(pages[i].result, 0);
        const auto& doc = stack.scenario.documents[i / 2];
        BatchSetup page = s;
        page.format = pages[i].format;
        SCOPED_TRACE(Name(page));
        CheckPage(page, pages[i], Device(*stack.pages[i], i % 2 == 0, window, doc.micr));
    }
}

// Every scan mode, compression, resolution code and output format.
struct Combo {
    int mode, compress, resolution;
};

class EveryMode : public ::testing::TestWithParam<Combo> {};

TEST_P(EveryMode, PagesAreTheScannersImage) {
    const Combo c = GetParam();
    {
        BatchSetup s;
        s.mode = c.mode;
        s.compress = c.compress;
        s.resolution = c.resolution;
        // Widths: whole bytes, whole 16-pixel units, and (Resolution 2, where
        // no rounding applies) odd widths and a stride with padding.
        s.width = c.resolution == 2 ? (c.mode == 3 ? 1001 : 1004) : (c.mode % 2 ? 328 : 256);
        s.lines = 40 + c.mode + c.compress;  // odd and even line counts
        s.grayTif = (c.mode + c.resolution) % 3;
        // Three cheques, both sides: TIFF, DIB, raw, memory, TIFF, DIB.
        RunAndCheck(s, 3, 3 + c.mode, {0, 1, 2, 3});
    }
}

std::vector<Combo> AllCombos() {
    std::vector<Combo> all;
    for (int mode = 0; mode <= 4; ++mode)
        for (int compress = 0; compress <= 1; ++compress)
            for (int res = 0; res <= 5; ++res) all.push_back({mode, compress, res});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Images, EveryMode, ::testing::ValuesIn(AllCombos()), [](const auto& info) {
    return "mode" + std::to_string(info.param.mode) + "_compress" +
           std::to_string(info.param.compress) + "_res" + std::to_string(info.param.resolution);
});

TEST(Images, WideBilevelAndGrayPages) {
    // A full-width page: 1728 bilevel pixels (a 324-byte decoded row holds
    // 2592), and its widened Resolution-1 form of 2592 values.
    for (int format : {0, 1, 3}) {
        BatchSetup s;
        s.width = 1728;
        s.lines = 40;
        s.format = format;
        RunAndCheck(s, 1);
        s.mode = 4;
        RunAndCheck(s, 1);
        s.resolution = 1;
        s.mode = 0;
        s.lines = 42;
        if (format != 3) RunAndCheck(s, 1);
    }
}

TEST(Images, WidenedWhitePagesHaveNoDarkColumn) {
    // White cheques at Resolution 1, coded and plain: the rightmost column
    // stays white (bilevel, slice 200) and light (254 in 8-bit gray).
    for (int compress : {0, 1}) {
        for (int mode : {0, 4}) {
            BatchSetup s;
            s.resolution = 1;
            s.compress = compress;
            s.mode = mode;
            s.slice = 200;
            s.width = 1728;
            s.lines = 20;
            s.format = 0;
            SCOPED_TRACE(Name(s));
            Stack stack = MakeStack(1, s.width, s.lines, 1);
            for (auto& page : stack.pages) page = std::make_shared<const Image>(s.width, 20, 255);
            stack.scenario.documents[0].front.image = stack.pages[0];
            stack.scenario.documents[0].rear.image = stack.pages[1];
            const std::vector<Taken> pages = RunBatch(s, stack);
            ASSERT_EQ(pages.size(), 3u);
            for (int i = 0; i < 2; ++i) {
                const TiffInfo tif = ReadTiff(pages[i].path);
                ASSERT_TRUE(tif.opened);
                ASSERT_EQ(tif.pixels.width, 2592);
                ASSERT_GT(tif.pixels.height, 0);
                for (int y = 0; y < tif.pixels.height; ++y) {
                    EXPECT_EQ(tif.pixels.at(2591, y), mode == 0 ? 0 : 254) << "row " << y;
                    EXPECT_EQ(tif.pixels.at(2589, y), mode == 0 ? 0 : 255) << "row " << y;
                }
            }
        }
    }
}

TEST(Images, GrayTiffCompressionsReadBackAlike) {
    for (int mode : {3, 4}) {
        for (int grayTif = 0; grayTif <= 2; ++grayTif) {
            BatchSetup s;
            s.mode = mode;
            s.grayTif = grayTif;
            s.format = 0;
            s.width = 512;
            s.lines = 33;
            RunAndCheck(s, 1, 11 + grayTif);
        }
    }
}

// A value the scanner or the writers cannot take is refused at the start:
// nothing is fed, nothing written back, and log.txt names key, value, profile.
TEST(Images, UnknownGrayTiffCompressionWritesNoFileAndSaysSo) {
    const struct {
        std::string section, key, value;
    } refused[] = {{"Misc", "GrayTifCompress", "3"},
                   {"Check", "ScanWidth", "-8"},
                   {"Check", "ScanLines1", "4294967297"}};
    for (const auto& r : refused) {
        BatchSetup s;
        s.mode = 4;
        std::string ini = Settings(s);
        const std::string line = "\n" + r.key + "=";
        const std::size_t at = ini.find(line, ini.find("[" + r.section + "]"));
        ASSERT_NE(at, std::string::npos) << r.key;
        ini.replace(at, ini.find('\n', at + 1) - at, line + r.value);
        e2e::WriteSettings(ini);
        TheScanner().SetScenario(MakeStack(1, s.width, s.lines, 5).scenario);
        EXPECT_EQ(OrvoScan_StartBatch("Check"), ORVOSCAN_ERR_SETTINGS) << r.key;
        int height = 0;
        EXPECT_EQ(OrvoScan_GetOneImage("unused", &height), ORVOSCAN_NO_PAGE);
        OrvoScan_EndBatch();
        EXPECT_TRUE(TheScanner().Windows().empty()) << r.key;
        EXPECT_EQ(e2e::ReadText(e2e::SystemDir() + "OrvoScan.ini"), ini);
        const std::string log = e2e::ReadText(e2e::SystemDir() + "log.txt");
        EXPECT_NE(log.find("settings refused: "), std::string::npos) << log;
        EXPECT_NE(log.find(r.key + "=" + r.value + " is out of range"), std::string::npos) << log;
        EXPECT_NE(log.find("\"Check\""), std::string::npos) << log;
    }
}

// ---------------------------------------------------------------------------
// MICR text through the side header.

struct MicrRun {
    std::string text;  // the area up to and including the LF
    int size = -1;
};

MicrRun TakeMicr(const std::string& micr, bool noCr) {
    BatchSetup s;
    s.format = 2;
    Stack stack = MakeStack(1, s.width, s.lines, 1);
    stack.scenario.documents[0].micr = micr;
    stack.scenario.documents[0].frontFaults.micrNoCr = noCr;
    e2e::WriteSettings(Settings(s));
    OrvoScan_ImageFormat(2);
    TheScanner().SetScenario(stack.scenario);
    MicrRun run;
    EXPECT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    const std::string out = e2e::MakeTempDir("orvo-micr") + "front.raw";
    EXPECT_EQ(OrvoScan_GetOneImage(out.c_str(), &height), 0);
    const char* area = OrvoScan_MicrDataBufPtr();
    EXPECT_NE(area, nullptr);
    if (area != nullptr) {
        run.size = OrvoScan_MicrDataSize();
        const char* lf = static_cast<const char*>(std::memchr(area, '\n', 50));
        EXPECT_NE(lf, nullptr);
        if (lf != nullptr) run.text.assign(area, lf + 1);
        if (lf != nullptr && lf - area < 49) {
            EXPECT_EQ(lf[1], '\0');
        }
    }
    while (OrvoScan_GetOneImage(out.c_str(), &height) == 0) {
    }
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    return run;
}

TEST(Micr, TextAndSizeFromTheSideHeader) {
    MicrRun r = TakeMicr("", false);  // CR first
    EXPECT_EQ(r.text, "\r\n");
    EXPECT_EQ(r.size, 0);
    r = TakeMicr("7", false);
    EXPECT_EQ(r.text, "\r\n");
    EXPECT_EQ(r.size, 0);
    r = TakeMicr("1234567", false);
    EXPECT_EQ(r.text, "123456\r\n");
    EXPECT_EQ(r.size, 6);
    // No CR among the first 42 characters: the 42nd gives way to the CR.
    const std::string line = "T021000021T 1234567890U 0101 99887766554433221100";
    r = TakeMicr(line, true);
    EXPECT_EQ(r.text, line.substr(0, 41) + "\r\n");
    EXPECT_EQ(r.size, 41);
}

TEST(Micr, InMemoryPagesLeaveTheTextAlone) {
    TakeMicr("1234567", false);
    const char* before = OrvoScan_MicrDataBufPtr();
    BatchSetup s;
    s.format = 3;
    const Stack stack = MakeStack(1, s.width, s.lines, 2);
    const std::vector<Taken> pages = RunBatch(s, stack);
    EXPECT_EQ(pages.size(), 3u);
    EXPECT_EQ(OrvoScan_MicrDataBufPtr(), before);
    EXPECT_EQ(OrvoScan_MicrDataSize(), 6);
    EXPECT_EQ(std::string(before, 8), "123456\r\n");
}

// ---------------------------------------------------------------------------
// In-memory page bookkeeping across calls.

TEST(MemoryPages, ClearTwiceAndTheEndLeaveThePreviousPage) {
    BatchSetup s;
    s.mode = 4;
    s.format = 3;
    const Stack stack = MakeStack(1, s.width, s.lines, 9);
    e2e::WriteSettings(Settings(s));
    TheScanner().SetScenario(stack.scenario);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = -1;
    ASSERT_EQ(OrvoScan_GetOneImageBufPtr("", &height), 0);
    ASSERT_EQ(OrvoScan_GetOneImageBufPtr("", &height), 0);  // the rear, over the front
    const unsigned char* block = OrvoScan_ImageBufPtr();
    ASSERT_NE(block, nullptr);
    const std::vector<uint8_t> rear(block, block + OrvoScan_ImageSize());
    const int rearHeight = height;
    const int rearPitch = OrvoScan_ImagePitchSrc();
    // After the last page: -3, nothing changed, the block still readable.
    EXPECT_EQ(OrvoScan_GetOneImageBufPtr("", &height), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(OrvoScan_ImageBufPtr(), block);
    EXPECT_EQ(OrvoScan_ImageHeitgt(), rearHeight);
    EXPECT_EQ(std::vector<uint8_t>(block, block + OrvoScan_ImageSize()), rear);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    // The page outlives its batch until it is released.
    EXPECT_EQ(std::vector<uint8_t>(block, block + OrvoScan_ImageSize()), rear);
    EXPECT_EQ(OrvoScan_ClearOneImageBuf(), 1);
    EXPECT_EQ(OrvoScan_ImageBufPtr(), nullptr);
    EXPECT_EQ(OrvoScan_ClearOneImageBuf(), 1);
    EXPECT_EQ(OrvoScan_ImageHeitgt(), rearHeight);
    const Pixels want = Expected(s, Device(*stack.pages[1], false, TheScanner().Windows().back(),
                                           stack.scenario.documents[0].micr));
    EXPECT_EQ(
        Compare(UnpackRows(rear.data(), static_cast<size_t>(rearPitch), s.width, rearHeight, 8),
                want),
        "");
}

TEST(MemoryPages, PitchesOfTheDocumentedCases) {
    struct Case {
        int mode, compress, width, pitchSrc, pitchDst;
    };
    for (const Case c : {Case{0, 0, 1728, 324, 216}, Case{0, 1, 1704, 213, 214},
                         Case{4, 0, 1000, 2592, 1000}, Case{3, 1, 1001, 501, 501}}) {
        BatchSetup s;
        s.mode = c.mode;
        s.compress = c.compress;
        s.width = c.width;
        s.resolution = 2;  // no width rounding
        s.lines = 40;
        s.format = 3;
        const Stack stack = MakeStack(1, s.width, s.lines, 4);
        const std::vector<Taken> pages = RunBatch(s, stack);
        ASSERT_EQ(pages.size(), 3u);
        EXPECT_EQ(pages[0].pitchSrc, c.pitchSrc) << c.width;
        EXPECT_EQ(pages[0].pitchDst, c.pitchDst) << c.width;
        EXPECT_EQ(pages[0].height, 39);
    }
}

}  // namespace
