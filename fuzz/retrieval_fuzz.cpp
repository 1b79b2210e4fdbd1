// Page retrieval from an arbitrary page file, to an image file or to the
// in-memory page, with batch settings from the first input bytes: nothing is
// read or written outside ImageBuf, DecodeBuf, the work image buffer, the row
// buffer or the page block, whatever the header and the data say.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orvo/core/trace.h"
#include "orvo/image/retrieval.h"
#include "retrieval_input.h"

namespace {

constexpr std::size_t kWorkImageSize = 10'240'000;
constexpr std::size_t kRowBufferSize = 5120;

std::string g_dir;

void WriteFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/orvo-fuzz-retrieval-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    g_dir = std::string(pattern) + "/";
    // The code tables as the driver loads them, and the traces kept here.
    const std::vector<uint8_t> black = orvo::codes::BuildMhTable(true);
    const std::vector<uint8_t> white = orvo::codes::BuildMhTable(false);
    const std::vector<uint8_t> gray = orvo::codes::BuildGrayTable();
    WriteFile(g_dir + "huffmanb.dat", black.data(), black.size());
    WriteFile(g_dir + "huffmanw.dat", white.data(), white.size());
    WriteFile(g_dir + "huffmang.dat", gray.data(), gray.size());
    if (orvo::LoadCodeTables(g_dir) != 0) std::abort();
    setenv("ORVOSCAN_TRACE_DIR", g_dir.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    if (size < orvo::fuzz::kSettingsBytes) return 0;
    const orvo::fuzz::RetrievalSettings r = orvo::fuzz::ParseSettings(input);
    const uint8_t* file = input + orvo::fuzz::kSettingsBytes;
    const std::size_t fileSize = size - orvo::fuzz::kSettingsBytes;
    const std::string pageFile = g_dir + "_tmp0000.dat";
    WriteFile(pageFile, file, fileSize);

    // Buffers of exactly their nominal sizes, so that the sanitizer sees any
    // access past them. ImageBuf may also be smaller than the file.
    static std::unique_ptr<uint8_t[]> work(new uint8_t[kWorkImageSize]);
    static std::unique_ptr<uint8_t[]> rowBuffer(new uint8_t[kRowBufferSize]);
    const std::size_t imageSize =
        r.imageSlack == 15 ? fileSize / 2 : fileSize + 4096 * r.imageSlack;
    std::vector<uint8_t> image(imageSize);
    std::vector<uint8_t> decode(static_cast<std::size_t>(r.decodeRows) * orvo::kGrayRowBytes);

    orvo::PageContext c;
    c.pageFile = pageFile;
    c.imageBuf = {image.data(), image.size()};
    c.decodeBuf = {decode.data(), decode.size()};
    c.workImage = {work.get(), kWorkImageSize};
    c.rowBuffer = {rowBuffer.get(), kRowBufferSize};
    c.settings.ScanWidth = r.scanWidth;
    c.settings.Resolution = r.resolution;
    c.settings.CompressMode = r.compressMode;
    c.settings.BWSlice[0] = 128;
    c.settings.ImageFileFormat = r.format == 3 ? 0 : r.format;
    c.settings.GrayTifCompress = r.grayTifCompress;
    c.settings.MicrDetect = r.micrDetect;
    c.settings.ScanLines[0] = r.scanLines;
    c.tempScanMode = r.tempScanMode;

    if (r.format == 3) {
        const int height = orvo::RetrievePageToMemory(c);
        const orvo::MemoryPage& page = orvo::MemoryPageInfo();
        if (height > 0) {
            // The whole page block is readable.
            const uint8_t* block = orvo::MemoryPageData();
            volatile uint8_t sum = 0;
            for (int i = 0; i < page.size; ++i) sum = static_cast<uint8_t>(sum + block[i]);
            if (page.size != page.height * page.pitchSrc) std::abort();
        }
        orvo::ClearOneImageBuf();
    } else {
        const std::string out = g_dir + "page.out";
        const int height = orvo::RetrievePageToFile(c, out);
        if (height < -1) std::abort();
        if (const char* micr = orvo::MicrDataBufPtr()) {
            const int n = orvo::MicrDataSize();
            if (n < 0 || n > 41 || micr[n] != '\r' || micr[n + 1] != '\n') std::abort();
        }
        std::remove(out.c_str());
    }
    // Keep the trace files from growing without end.
    static unsigned runs = 0;
    if (++runs % 512 == 0) orvo::EmptyTraceFiles();
    return 0;
}
