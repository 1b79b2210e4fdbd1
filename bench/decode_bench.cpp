// Page decoding: the driver's DecodeMhPage (fast tables), its bit-by-bit
// reference, and libtiff reading the same coded data as a Group 3
// one-dimensional TIFF (scanline by scanline, and whole strip); the gray
// decoders (fast tables and reference walk), the framing measurement of a
// gray page and the TIFF writers on decoded rows, each on its own, so that
// the parts of a page's retrieval can be told apart. Before any timing the
// outputs are checked against each other.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_pages.h"
#include "orvo/image/code_tables.h"
#include "orvo/image/decode.h"
#include "orvo/image/framing.h"
#include "orvo/image/writers.h"

namespace {

using bench::CodedPage;

constexpr std::size_t kWorkImageSize = 10240000;
constexpr int kCheques = 16;

struct Pages {
    std::vector<CodedPage> cheques = bench::ChequePages(kCheques);
    CodedPage full = bench::FullPage();
    const std::vector<CodedPage>& Set(bool fullPage) const {
        static const std::vector<CodedPage> one{full};
        return fullPage ? one : cheques;
    }
};

const Pages& ThePages() {
    static const Pages pages;
    return pages;
}

struct Buffers {
    std::unique_ptr<uint8_t[]> work{new uint8_t[kWorkImageSize]};
    std::vector<uint8_t> dst = std::vector<uint8_t>(4001 * orvo::kMhRowBytes);
    std::vector<uint8_t> row = std::vector<uint8_t>(2592 / 8);
    std::vector<uint8_t> strip = std::vector<uint8_t>(4000 * 2592 / 8);
};

Buffers& TheBuffers() {
    static Buffers b;
    return b;
}

void Fail(const char* what, const CodedPage& p) {
    std::fprintf(stderr, "bench_decode: %s (%s, %d lines)\n", what, p.name.c_str(), p.lines);
    std::exit(1);
}

// The fast path equals the reference; libtiff's rows equal the driver's
// (the driver gives lines 1 to N - 1 of an N-line page in rows 1 to N - 1).
void Check(const CodedPage& p) {
    Buffers& b = TheBuffers();
    std::vector<uint8_t> ref(b.dst.size(), 0x5A);
    std::memset(b.dst.data(), 0x5A, b.dst.size());
    orvo::Decoder fast(orvo::LoadedCodeTables(), orvo::LoadedFastTables());
    fast.DecodeMhPage(p.data.data(), p.data.size(), p.lines, b.work.get(), kWorkImageSize,
                      b.dst.data(), b.dst.size());
    orvo::Decoder slow(orvo::LoadedCodeTables());
    slow.DecodeMhPageReference(p.data.data(), p.data.size(), p.lines, b.work.get(), kWorkImageSize,
                               ref.data(), ref.size());
    if (ref != b.dst) Fail("fast decoder differs from the reference", p);
    bench::MemoryTiff mem(p.tiff);
    TIFF* t = mem.Open();
    if (t == nullptr) Fail("libtiff cannot open the Group 3 TIFF", p);
    const std::size_t rowBytes = static_cast<std::size_t>(p.width + 7) / 8;
    for (int r = 0; r + 1 < p.lines; ++r) {
        if (TIFFReadScanline(t, b.row.data(), static_cast<uint32_t>(r), 0) != 1) {
            Fail("libtiff cannot decode the data", p);
        }
        if (std::memcmp(b.row.data(), b.dst.data() + (r + 1) * orvo::kMhRowBytes, rowBytes) != 0) {
            Fail("libtiff and the driver decode differently", p);
        }
    }
    TIFFClose(t);
}

void Setup(benchmark::State& state) {
    static const bool ready = [] {
        bench::QuietLibtiff();
        const char* dir = std::getenv("ORVOSCAN_SYSTEM_DIR");
        if (orvo::LoadCodeTables(dir ? dir : ORVO_BUILD_SYSTEM_DIR) != 0) {
            std::fprintf(stderr, "bench_decode: no code table files\n");
            std::exit(1);
        }
        for (const CodedPage& p : ThePages().cheques) Check(p);
        Check(ThePages().full);
        return true;
    }();
    (void)ready;
    (void)state;
}

void Report(benchmark::State& state, const std::vector<CodedPage>& pages) {
    std::size_t bytes = 0;
    for (const CodedPage& p : pages) bytes += p.data.size();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pages.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["lines"] = pages.front().lines;
}

void BM_DecodeMhPage(benchmark::State& state) {
    Setup(state);
    const auto& pages = ThePages().Set(state.range(0) != 0);
    Buffers& b = TheBuffers();
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            orvo::DecodeMhPage(p.data.data(), p.data.size(), p.lines, b.work.get(), kWorkImageSize,
                               b.dst.data(), b.dst.size());
            benchmark::DoNotOptimize(b.dst.data());
        }
    }
    Report(state, pages);
}

void BM_DecodeMhPageReference(benchmark::State& state) {
    Setup(state);
    const auto& pages = ThePages().Set(state.range(0) != 0);
    Buffers& b = TheBuffers();
    orvo::Decoder d(orvo::LoadedCodeTables(), orvo::LoadedFastTables());
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            d.DecodeMhPageReference(p.data.data(), p.data.size(), p.lines, b.work.get(),
                                    kWorkImageSize, b.dst.data(), b.dst.size());
            benchmark::DoNotOptimize(b.dst.data());
        }
    }
    Report(state, pages);
}

// Opens the in-memory TIFF and reads every scanline, as an application would.
void BM_LibtiffScanlines(benchmark::State& state) {
    Setup(state);
    const auto& pages = ThePages().Set(state.range(0) != 0);
    Buffers& b = TheBuffers();
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            bench::MemoryTiff mem(p.tiff);
            TIFF* t = mem.Open();
            for (int r = 0; r < p.lines; ++r) {
                TIFFReadScanline(t, b.row.data(), static_cast<uint32_t>(r), 0);
            }
            benchmark::DoNotOptimize(b.row.data());
            TIFFClose(t);
        }
    }
    Report(state, pages);
}

// libtiff's fastest way: the whole strip in one call.
void BM_LibtiffStrip(benchmark::State& state) {
    Setup(state);
    const auto& pages = ThePages().Set(state.range(0) != 0);
    Buffers& b = TheBuffers();
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            bench::MemoryTiff mem(p.tiff);
            TIFF* t = mem.Open();
            TIFFReadEncodedStrip(t, 0, b.strip.data(), static_cast<tmsize_t>(b.strip.size()));
            benchmark::DoNotOptimize(b.strip.data());
            TIFFClose(t);
        }
    }
    Report(state, pages);
}

// ---- gray pages ----

constexpr std::size_t kGrayRows = 801;  // row 0 and 800 lines

struct GrayPages {
    std::vector<CodedPage> gray8 = bench::GrayChequePages(kCheques, 4);
    std::vector<CodedPage> gray4 = bench::GrayChequePages(kCheques, 3);
    // 8-bit cheques with sensor noise of +-2 levels (argument 1 below).
    std::vector<CodedPage> noisy8 = bench::GrayChequePages(kCheques, 4, 2);
    const std::vector<CodedPage>& Set(int bits, bool noisy = false) const {
        return bits == 4 ? gray4 : noisy ? noisy8 : gray8;
    }
};

const GrayPages& TheGrayPages() {
    static const GrayPages pages;
    return pages;
}

std::vector<uint8_t>& GrayDst() {
    static std::vector<uint8_t> dst(kGrayRows * orvo::kGrayRowBytes);
    return dst;
}

void DecodeGray(orvo::Decoder& d, int bits, bool reference, const CodedPage& p, uint8_t* dst) {
    const std::size_t size = kGrayRows * orvo::kGrayRowBytes;
    if (bits == 8 && !reference)
        d.DecodeGray8Page(p.data.data(), p.data.size(), p.lines, dst, size);
    if (bits == 8 && reference) {
        d.DecodeGray8PageReference(p.data.data(), p.data.size(), p.lines, dst, size);
    }
    if (bits == 4 && !reference)
        d.DecodeGray4Page(p.data.data(), p.data.size(), p.lines, dst, size);
    if (bits == 4 && reference) {
        d.DecodeGray4PageReference(p.data.data(), p.data.size(), p.lines, dst, size);
    }
}

void SetupGray() {
    static const bool ready = [] {
        orvo::Decoder d(orvo::LoadedCodeTables(), orvo::LoadedFastTables());
        for (const auto& [bits, noisy] : {std::pair{8, false}, {4, false}, {8, true}}) {
            for (const CodedPage& p : TheGrayPages().Set(bits, noisy)) {
                std::vector<uint8_t> fast(kGrayRows * orvo::kGrayRowBytes, 0x5A);
                std::vector<uint8_t> ref(fast);
                DecodeGray(d, bits, false, p, fast.data());
                DecodeGray(d, bits, true, p, ref.data());
                if (fast != ref) Fail("fast gray decoder differs from the reference", p);
                if (p.lines != 800) Fail("gray page of an unexpected line count", p);
            }
        }
        return true;
    }();
    (void)ready;
}

// Argument 1: the noisy 8-bit cheques.
void GrayDecode(benchmark::State& state, int bits, bool reference) {
    Setup(state);
    SetupGray();
    const auto& pages = TheGrayPages().Set(bits, state.range(0) != 0);
    orvo::Decoder d(orvo::LoadedCodeTables(), orvo::LoadedFastTables());
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            DecodeGray(d, bits, reference, p, GrayDst().data());
            benchmark::DoNotOptimize(GrayDst().data());
        }
    }
    Report(state, pages);
}

void BM_DecodeGray8Page(benchmark::State& state) {
    GrayDecode(state, 8, false);
}
void BM_DecodeGray8PageReference(benchmark::State& state) {
    GrayDecode(state, 8, true);
}
void BM_DecodeGray4Page(benchmark::State& state) {
    GrayDecode(state, 4, false);
}
void BM_DecodeGray4PageReference(benchmark::State& state) {
    GrayDecode(state, 4, true);
}

// What page retrieval measures before decoding a gray page: the data cut at
// the RTC and the EOLs in front of it.
void BM_GrayFraming(benchmark::State& state) {
    Setup(state);
    const auto& pages = TheGrayPages().Set(8);
    for (auto _ : state) {
        for (const CodedPage& p : pages) {
            const long rtc = orvo::RtcSearch(p.data.data(), p.data.size());
            const long lines =
                orvo::EolCount(p.data.data(), rtc < 0 ? 0 : static_cast<std::size_t>(rtc) + 1);
            benchmark::DoNotOptimize(lines);
        }
    }
    Report(state, pages);
}

// The TIFF writers alone on a decoded cheque page (800 rows of 1728 pixels),
// to a new file each time. Argument 0: what is written,
//   0 8-bit gray uncompressed, 1 8-bit gray LZW (the driver's coder),
//   2 8-bit gray PackBits (libtiff), 3 8-bit gray LZW coded by libtiff,
//   4 4-bit gray uncompressed, 5 4-bit gray LZW (the driver's coder),
//   6 bilevel Group 4 (the driver's coder), 7 bilevel Group 4 coded by libtiff
// (libtiff's coders take the rows a scanline at a time).
struct SaveCase {
    int bits;
    int grayTifCompress;  // bilevel: 0
    bool libtiff;
};
constexpr SaveCase kSaveCases[] = {{8, 0, false}, {8, 1, false}, {8, 2, false}, {8, 1, true},
                                   {4, 0, false}, {4, 1, false}, {1, 0, false}, {1, 0, true}};

void BM_SaveTiff(benchmark::State& state) {
    Setup(state);
    SetupGray();
    // Removed at exit with everything in it.
    struct TempDir {
        std::string path;
        ~TempDir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const TempDir temp = [] {
        char pattern[] = "/tmp/orvo-bench-save-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::exit(1);
        return TempDir{std::string(pattern) + "/"};
    }();
    const std::string& dir = temp.path;
    const SaveCase c = kSaveCases[state.range(0)];
    std::vector<uint8_t> rows(kGrayRows * orvo::kGrayRowBytes);
    orvo::RowBlock block{rows.data(), rows.size(), orvo::kGrayRowBytes,
                         1728,        1728,        static_cast<int>(kGrayRows)};
    orvo::Decoder d(orvo::LoadedCodeTables(), orvo::LoadedFastTables());
    if (c.bits == 1) {
        const CodedPage& p = ThePages().cheques.front();
        Buffers& b = TheBuffers();
        d.DecodeMhPage(p.data.data(), p.data.size(), p.lines, b.work.get(), kWorkImageSize,
                       rows.data(), rows.size());
        block.step = orvo::kMhRowBytes;
        block.rowBytes = 1728 / 8;
        block.rows = p.lines;
    } else {
        DecodeGray(d, c.bits, false, TheGrayPages().Set(c.bits).front(), rows.data());
        block.rowBytes = c.bits == 8 ? 1728 : 1728 / 2;
    }
    std::vector<uint8_t> rowBuffer(5120);
    const orvo::RowBuffer buffer{rowBuffer.data(), rowBuffer.size()};
    std::uintmax_t bytes = 0;
    int n = 0;
    for (auto _ : state) {
        // A new name each time; a file replaced would first be written out.
        const std::string path = dir + "page" + std::to_string(n++ % 64) + ".tif";
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        bool ok = false;
        if (c.bits == 1) {
            ok = c.libtiff ? orvo::WriteTiffImageScanlines(path, block, buffer, 0, 1, 0, 4)
                           : orvo::Save2Tiff(path, block, buffer, 0);
        } else {
            ok = c.libtiff
                     ? orvo::WriteTiffImageScanlines(path, block, buffer, 0, c.bits, 1, 5 /* LZW */)
                     : orvo::Save2TiffGray(path, block, buffer, 0, c.bits, c.grayTifCompress);
        }
        if (!ok) {
            state.SkipWithError("writing the TIFF failed");
            return;
        }
        bytes = std::filesystem::file_size(path);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["file_bytes"] = static_cast<double>(bytes);
}

// Argument 0: cheques (1728 wide), 1: the full 2592 x 3000 page.
BENCHMARK(BM_DecodeMhPage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeMhPageReference)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffScanlines)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffStrip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeGray8Page)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeGray8PageReference)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeGray4Page)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeGray4PageReference)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GrayFraming)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveTiff)->DenseRange(0, 7)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
