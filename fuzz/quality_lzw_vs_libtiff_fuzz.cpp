// The quality checks' own LZW decoder against libtiff's: rows of any bytes
// coded by libtiff decode to exactly those rows (the decoder must take every
// such strip), and any bytes at all taken as an LZW strip decode, where the
// decoder takes them, to exactly what libtiff makes of them.
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orvo/quality/tiff_lzw.h"

namespace {

const std::string& Dir() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/orvo-fuzz-lzw-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        return pattern + "/";
    }();
    return dir;
}

// An 8-bit gray TIFF of one LZW strip: `rows` coded by libtiff, or `raw`
// stored as the strip itself.
bool Write(const std::string& path, int width, int height, const uint8_t* bytes, std::size_t size,
           bool raw) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
    const tmsize_t n = static_cast<tmsize_t>(size);
    const bool ok = raw ? TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(bytes), n) == n
                        : TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(bytes), n) == n;
    TIFFClose(t);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    orvo::fuzz::Input in(input, size);
    const bool raw = in.Byte() & 1;
    const int width = 1 + in.Word() % 3000;
    int height;
    if (raw) {
        height = 1 + in.Word() % 400;
    } else {
        height = static_cast<int>(in.restSize() / static_cast<std::size_t>(width));
        if (height == 0) return 0;
    }
    const std::size_t want = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t bytes = raw ? in.restSize() : want;
    if (bytes == 0) return 0;
    static unsigned serial = 0;
    const std::string path = Dir() + std::to_string(++serial % 4) + ".tif";
    if (!Write(path, width, height, in.rest(), bytes, raw)) return 0;

    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) std::abort();
    std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFRawStripSize64(t, 0)));
    if (TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size())) !=
        static_cast<tmsize_t>(strip.size())) {
        std::abort();
    }
    std::vector<uint8_t> theirs(want), ours(want);
    const tmsize_t got = TIFFReadEncodedStrip(t, 0, theirs.data(), static_cast<tmsize_t>(want));
    TIFFClose(t);
    unlink(path.c_str());
    const bool taken = orvo::quality::DecodeTiffLzw(strip.data(), strip.size(), ours.data(), want);
    if (!raw) {
        // libtiff's own coding of any rows: taken, and the rows themselves.
        if (!taken || std::memcmp(ours.data(), in.rest(), want) != 0) std::abort();
    }
    if (taken && (got != static_cast<tmsize_t>(want) || ours != theirs)) std::abort();
    return 0;
}
