// The TIFF writer's own Group 4 and LZW coding against libtiff's reading: any
// rows of any width written as a bilevel Group 4 TIFF or a 4-bit or 8-bit
// LZW TIFF read back as exactly those rows.
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orvo/image/writers.h"

namespace {

const std::string& Dir() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/orvo-fuzz-tiff-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        return pattern + "/";
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::Input in(input, size);
    const uint8_t kind = in.Byte() % 3;  // Group 4, LZW 8-bit, LZW 4-bit
    const int width = 1 + in.Word() % 2600;
    const int bits = kind == 0 ? 1 : kind == 1 ? 8 : 4;
    const std::size_t line = (static_cast<std::size_t>(width) * bits + 7) / 8;
    const std::size_t rows = in.restSize() / line;
    if (rows == 0 || rows > 200) return 0;
    // Row 0 is never written: the image is the rows after it.
    std::vector<uint8_t> block(line);
    block.insert(block.end(), in.rest(), in.rest() + rows * line);
    const orvo::RowBlock r{block.data(), block.size(), line,
                           line,         width,        static_cast<int>(rows) + 1};
    std::vector<uint8_t> rowBuffer(5120);
    static unsigned serial = 0;
    const std::string path = Dir() + std::to_string(++serial) + ".tif";
    const bool ok = orvo::WriteTiffImage(path, r, {rowBuffer.data(), rowBuffer.size()}, 0, bits,
                                         bits == 1 ? 0 : 1, bits == 1 ? 4 : 5);
    if (!ok) {
        // Only rows longer than the row buffer are refused.
        if (line <= rowBuffer.size()) std::abort();
        return 0;
    }
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) std::abort();
    std::vector<uint8_t> got(line);
    for (std::size_t y = 0; y < rows; ++y) {
        if (TIFFReadScanline(tif, got.data(), static_cast<uint32_t>(y), 0) != 1) std::abort();
        const uint8_t* want = block.data() + (y + 1) * line;
        for (std::size_t i = 0; i < line; ++i) {
            // Bits past the width in a bilevel row are not part of the image.
            uint8_t mask = 0xFF;
            if (bits == 1 && i + 1 == line && width % 8 != 0) {
                mask = static_cast<uint8_t>(0xFF << (8 - width % 8));
            }
            if ((got[i] & mask) != (want[i] & mask)) std::abort();
        }
    }
    TIFFClose(tif);
    unlink(path.c_str());
    return 0;
}
