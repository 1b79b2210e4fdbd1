// The image quality checks of one side, in CPU time of the calling thread:
// a bilevel cheque side (1728 x 800, as the Check profile scans it) and an
// 8-bit and a 4-bit gray one, measured and compared with the default limits;
// reading a Group 4 page file back, which a scan adds to each side; and a
// whole check of a page file (read back and checked) against libtiff merely
// decoding the same file: an 8-bit gray LZW page and a Group 4 page.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "orvo/quality/check.h"
#include "orvo/quality/page.h"
#include "orvo/sim/image.h"

namespace {

using orvo::quality::Page;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sixteen cheque sides of the virtual scanner, fitted to 1728 x 800.
std::vector<Page> Sides(int bits) {
    std::vector<Page> pages;
    for (int i = 0; i < 16; ++i) {
        const orvo::sim::Image img =
            orvo::sim::FitImage(orvo::sim::SyntheticCheque(i / 2, i % 2 == 0), 1728, 800);
        Page p;
        p.Allocate(img.width, img.height, bits);
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                const uint8_t v = img.at(x, y);
                if (bits == 1) {
                    if (v < 128) p.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                } else {
                    p.row(y)[x] = bits == 4 ? static_cast<uint8_t>((v >> 4) * 17) : v;
                }
            }
        }
        pages.push_back(std::move(p));
    }
    return pages;
}

void BM_CheckSide(benchmark::State& state) {
    const std::vector<Page> pages = Sides(static_cast<int>(state.range(0)));
    const orvo::quality::Limits limits;
    double cpu = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        const double c0 = ThreadCpuSeconds();
        const orvo::quality::Measures m =
            orvo::quality::MeasurePage(pages[n % pages.size()], limits);
        benchmark::DoNotOptimize(orvo::quality::SideDefects(limits, m));
        cpu += ThreadCpuSeconds() - c0;
        ++n;
    }
    state.counters["cpu_ms_per_side"] = 1000.0 * cpu / static_cast<double>(n);
}
BENCHMARK(BM_CheckSide)->Arg(1)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond);

// A bilevel side written as the driver writes it (Group 4), read back.
void BM_ReadGroup4Page(benchmark::State& state) {
    const Page side = Sides(1).front();
    char dir[] = "/tmp/orvo-bench-quality-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no scratch directory");
        return;
    }
    const std::string path = std::string(dir) + "/A000001F.tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, side.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    for (int y = 0; y < side.height; ++y) {
        TIFFWriteScanline(t, const_cast<uint8_t*>(side.row(y)), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(t);
    double cpu = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        const double c0 = ThreadCpuSeconds();
        Page page;
        std::string error;
        benchmark::DoNotOptimize(orvo::quality::ReadPageFile(path, &page, &error));
        cpu += ThreadCpuSeconds() - c0;
        ++n;
    }
    state.counters["cpu_ms_per_side"] = 1000.0 * cpu / static_cast<double>(n);
    unlink(path.c_str());
    rmdir(dir);
}
BENCHMARK(BM_ReadGroup4Page)->Unit(benchmark::kMillisecond);

// A cheque front as the driver writes it: one strip, 8-bit gray in LZW
// (arg 8) or bilevel in Group 4 (arg 1).
std::string WritePage(const char* dir, int bits) {
    const Page side = Sides(bits).front();
    const std::string path = std::string(dir) + (bits == 1 ? "/A000002F.tif" : "/A000003F.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, side.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_COMPRESSION, bits == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                 bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, side.height);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> strip;
    const std::size_t line = bits == 1 ? static_cast<std::size_t>(side.width + 7) / 8
                                       : static_cast<std::size_t>(side.width);
    for (int y = 0; y < side.height; ++y)
        strip.insert(strip.end(), side.row(y), side.row(y) + line);
    TIFFWriteEncodedStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(t);
    return path;
}

// The page file read back and checked, as `orvoscan quality` and a scan do.
void BM_CheckPageFile(benchmark::State& state) {
    char dir[] = "/tmp/orvo-bench-quality-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no scratch directory");
        return;
    }
    const std::string path = WritePage(dir, static_cast<int>(state.range(0)));
    const orvo::quality::Limits limits;
    double cpu = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        const double c0 = ThreadCpuSeconds();
        Page page;
        std::string error;
        if (!orvo::quality::ReadPageFile(path, &page, &error)) state.SkipWithError(error.c_str());
        const orvo::quality::Measures m = orvo::quality::MeasurePage(page, limits);
        benchmark::DoNotOptimize(orvo::quality::SideDefects(limits, m));
        cpu += ThreadCpuSeconds() - c0;
        ++n;
    }
    state.counters["cpu_ms_per_side"] = 1000.0 * cpu / static_cast<double>(n);
    unlink(path.c_str());
    rmdir(dir);
}
BENCHMARK(BM_CheckPageFile)->Arg(8)->Arg(1)->Unit(benchmark::kMillisecond);

// libtiff merely decoding the same file: open, read its strip, close.
void BM_LibtiffDecodePageFile(benchmark::State& state) {
    char dir[] = "/tmp/orvo-bench-quality-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no scratch directory");
        return;
    }
    const std::string path = WritePage(dir, static_cast<int>(state.range(0)));
    double cpu = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        const double c0 = ThreadCpuSeconds();
        TIFF* t = TIFFOpen(path.c_str(), "r");
        std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(t)));
        benchmark::DoNotOptimize(
            TIFFReadEncodedStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size())));
        TIFFClose(t);
        cpu += ThreadCpuSeconds() - c0;
        ++n;
    }
    state.counters["cpu_ms_per_side"] = 1000.0 * cpu / static_cast<double>(n);
    unlink(path.c_str());
    rmdir(dir);
}
BENCHMARK(BM_LibtiffDecodePageFile)->Arg(8)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
