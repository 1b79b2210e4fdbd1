#include "bench_pages.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "orvo/core/scan_kinds.h"
#include "orvo/sim/image.h"
#include "orvo/sim/side_data.h"
#include "orvo/sim/window.h"

namespace bench {

namespace {

// Counts EOLs (eleven 0 bits and a 1) at any alignment, minus the RTC's six.
int CountLines(const std::vector<uint8_t>& data) {
    int eols = 0;
    int zeros = 0;
    for (uint8_t byte : data) {
        for (int b = 7; b >= 0; --b) {
            if ((byte >> b) & 1) {
                if (zeros >= 11) ++eols;
                zeros = 0;
            } else {
                ++zeros;
            }
        }
    }
    return eols - 6;
}

std::vector<uint8_t> Group3Tiff(const std::vector<uint8_t>& data, int width, int lines) {
    char path[] = "/tmp/orvo-bench-g3-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    TIFF* out = TIFFOpen(path, "w");
    if (out == nullptr) throw std::runtime_error("cannot write the Group 3 TIFF");
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, lines);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, lines);
    TIFFWriteRawStrip(out, 0, const_cast<uint8_t*>(data.data()),
                      static_cast<tmsize_t>(data.size()));
    TIFFClose(out);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    unlink(path);
    return bytes;
}

CodedPage Code(const std::string& name, const orvo::sim::Image& image, int width, int lines,
               int scanMode = 0) {
    orvo::sim::WindowSettings w = orvo::sim::WindowSettings::PowerOn();
    w.scanWidth = width;
    w.scanLines[0] = lines;
    w.scanMode[0] = scanMode;
    const orvo::sim::SideData side = orvo::sim::BuildSide(image, true, w, {});
    CodedPage page;
    page.name = name;
    page.width = width;
    const auto begin = side.bytes.begin() + static_cast<long>(orvo::sim::kSideHeaderSize);
    page.data.assign(begin, begin + side.imageBytes);
    page.lines = CountLines(page.data);
    if (!orvo::IsGray(orvo::ScanModeOf(scanMode)))
        page.tiff = Group3Tiff(page.data, width, page.lines);
    return page;
}

}  // namespace

std::vector<CodedPage> ChequePages(int count) {
    std::vector<CodedPage> pages;
    for (int i = 0; i < count; ++i) {
        const bool front = i % 2 == 0;
        pages.push_back(Code("cheque", orvo::sim::SyntheticCheque(1 + i / 2, front), 1728, 0));
    }
    return pages;
}

std::vector<CodedPage> GrayChequePages(int count, int scanMode, int noise) {
    std::vector<CodedPage> pages;
    uint32_t state = 12345;
    for (int i = 0; i < count; ++i) {
        const bool front = i % 2 == 0;
        orvo::sim::Image image = orvo::sim::SyntheticCheque(1 + i / 2, front);
        if (noise > 0) {
            for (uint8_t& v : image.pixels) {
                state = state * 1664525u + 1013904223u;
                const int moved = v + static_cast<int>((state >> 24) % (2 * noise + 1)) - noise;
                v = static_cast<uint8_t>(std::clamp(moved, 0, 255));
            }
        }
        pages.push_back(Code(orvo::ScanModeOf(scanMode) == orvo::ScanMode::kGray16
                                 ? "4-bit gray cheque"
                                 : "8-bit gray cheque",
                             image, 1728, 800, scanMode));
    }
    return pages;
}

CodedPage FullPage() {
    orvo::sim::Image page(2592, 3000, 255);
    int seed = 1;
    for (int y0 = 0; y0 < page.height; y0 += 720) {
        for (int x0 = 0; x0 < page.width; x0 += 1600) {
            const orvo::sim::Image cheque = orvo::sim::SyntheticCheque(seed, seed % 2 == 1);
            ++seed;
            for (int y = 0; y < cheque.height && y0 + y < page.height; ++y) {
                for (int x = 0; x < cheque.width && x0 + x < page.width; ++x) {
                    page.at(x0 + x, y0 + y) = cheque.at(x, y);
                }
            }
        }
    }
    return Code("full page", page, 2592, 3000);
}

TIFF* MemoryTiff::Open() {
    pos_ = 0;
    return TIFFClientOpen("memory", "rm", this, Read, Write, Seek, Close, Size, Map, Unmap);
}

tmsize_t MemoryTiff::Read(thandle_t h, void* buf, tmsize_t n) {
    auto* t = static_cast<MemoryTiff*>(h);
    const toff_t size = t->bytes_.size();
    if (t->pos_ >= size || n <= 0) return 0;
    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), size - t->pos_);
    std::memcpy(buf, t->bytes_.data() + t->pos_, take);
    t->pos_ += take;
    return static_cast<tmsize_t>(take);
}

toff_t MemoryTiff::Seek(thandle_t h, toff_t off, int whence) {
    auto* t = static_cast<MemoryTiff*>(h);
    if (whence == SEEK_CUR) off += t->pos_;
    if (whence == SEEK_END) off += t->bytes_.size();
    t->pos_ = off;
    return off;
}

toff_t MemoryTiff::Size(thandle_t h) {
    return static_cast<MemoryTiff*>(h)->bytes_.size();
}

int MemoryTiff::Map(thandle_t h, void** base, toff_t* size) {
    auto* t = static_cast<MemoryTiff*>(h);
    *base = const_cast<uint8_t*>(t->bytes_.data());
    *size = t->bytes_.size();
    return 1;
}

void QuietLibtiff() {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

}  // namespace bench
