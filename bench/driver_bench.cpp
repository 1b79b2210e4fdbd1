// The driver through its exported interface on the virtual scanner in this
// process: page retrieval per output format against a libtiff-only pipeline,
// whole batches at zero latency, CPU time at the default latency, peak
// memory, and how soon a waiting caller gets a page that has just been
// written.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_pages.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/sim/scanner.h"
#include "orvo/sim/scenario.h"
#include "orvoscan.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvo::sim::TheScanner;

std::string g_systemDir;
std::string g_tempDir;
std::string g_outDir;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread: the work of a page call or of the libtiff
// pipeline alone, whatever else the machine runs meanwhile.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double MaxRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

std::string MakeDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern + "/";
}

void CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// A profile "Check": both sides, 1728 wide, scan mode and compression as
// given; output format and gray TIFF compression in "Misc".
void WriteProfile(int scanMode, int compressMode, int grayTifCompress = 1) {
    std::string keys =
        "Side=1\nScanWidth=1728\nResolution=0\nScanMode1=" + std::to_string(scanMode) +
        "\nCompressMode=" + std::to_string(compressMode) + "\nBWSlice1=128\nScanLines1=800\n";
    std::ofstream out(g_systemDir + "OrvoScan.ini", std::ios::trunc);
    out << "[Default]\n"
        << keys << "\n[Check]\n"
        << keys << "\n[Misc]\nMicrDetect=1\nImageFileFormat=0\nGrayTifCompress=" << grayTifCompress
        << "\n";
}

// A private system directory with the driver, the code tables and the
// settings file, a private temporary directory, and the virtual scanner.
double g_rssAtStart = 0;
double g_rssAfterInit = 0;

void StartDriver() {
    static const bool started = [] {
        g_rssAtStart = MaxRssMiB();
        bench::QuietLibtiff();
        const std::string build = std::string(ORVO_BUILD_SYSTEM_DIR) + "/";
        g_systemDir = MakeDir("orvo-bench-sys");
        g_outDir = MakeDir("orvo-bench-out");
        const std::string tmp = MakeDir("orvo-bench-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        // The driver keeps this process's page files in a directory of their own.
        g_tempDir = tmp + "orvoscan-" + std::to_string(getuid()) + "/batch-" +
                    std::to_string(getpid()) + "/";
        if (symlink((build + "libK4TR.so").c_str(), (g_systemDir + "libK4TR.so").c_str()) != 0) {
            throw std::runtime_error("cannot link libK4TR.so");
        }
        for (const char* t : {"huffmanb.dat", "huffmanw.dat", "huffmang.dat"}) {
            CopyFile(build + t, g_systemDir + t);
        }
        WriteProfile(0, 0);
        setenv("ORVOSCAN_ASPI", "sim", 1);
        setenv("ORVOSCAN_SYSTEM_DIR", g_systemDir.c_str(), 1);
        setenv("ORVOSCAN_TRACE_DIR", g_systemDir.c_str(), 1);
        unsetenv("ORVOSCAN_SIM_SCENARIO");
        unsetenv("ORVOSCAN_TIME_SCALE");
        TheScanner().SetScenario(orvo::sim::DefaultScenario());
        const int r = OrvoScan_Init();
        if (r != 0) {
            std::fprintf(stderr, "bench_driver: OrvoScan_Init returned %d\n", r);
            std::exit(1);
        }
        g_rssAfterInit = MaxRssMiB();
        std::atexit([] {
            OrvoScan_End();
            std::error_code ec;
            for (const std::string& d :
                 {g_systemDir, g_outDir, std::string(std::getenv("TMPDIR"))}) {
                std::filesystem::remove_all(d, ec);
            }
        });
        return true;
    }();
    (void)started;
}

orvo::sim::Scenario Scenario(int documents, bool zeroLatency) {
    orvo::sim::Scenario s;
    s.documents = orvo::sim::DefaultStack(documents);
    if (zeroLatency) s.latency = orvo::sim::kNoLatency;
    return s;
}

// A new file for every page, as the utility names its pages: replacing an
// existing file makes the file system write the old one out first.
std::string OutPath(int format, int page) {
    char name[32];
    std::snprintf(name, sizeof name, "page%04d.%s", page,
                  format == ORVOSCAN_FORMAT_DIB ? "bmp" : "tif");
    return g_outDir + name;
}

void RemovePages() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(g_outDir, ec)) {
        std::filesystem::remove(e.path(), ec);
    }
}

// Takes every page of the running batch; returns the pages taken.
int TakeAll(int format, int* last = nullptr) {
    int pages = 0;
    for (;;) {
        int height = 0;
        const int r = OrvoScan_GetOneImage(OutPath(format, pages).c_str(), &height);
        if (r != 0) {
            if (last) *last = r;
            return pages;
        }
        ++pages;
    }
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Retrieval alone: the worker first writes all page files of a 20-cheque
// batch, then every page is taken and timed.
void BM_GetOneImage(benchmark::State& state, int scanMode, int format, int grayTifCompress) {
    StartDriver();
    constexpr int kDocs = 20;
    int pages = 0;
    double seconds = 0;
    double cpu = 0;
    for (auto _ : state) {
        RemovePages();
        WriteProfile(scanMode, 0, grayTifCompress);
        OrvoScan_ImageFormat(format);
        TheScanner().SetScenario(Scenario(kDocs, true));
        if (OrvoScan_StartBatch("Check") != 0) {
            state.SkipWithError("StartBatch failed");
            return;
        }
        char last[32];
        std::snprintf(last, sizeof last, "_tmp%04d.dat", 2 * kDocs - 1);  // numbered from 0
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!Exists(g_tempDir + last) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto t0 = Clock::now();
        const double c0 = ThreadCpuSeconds();
        pages = TakeAll(format);
        cpu += ThreadCpuSeconds() - c0;
        const double s = Seconds(Clock::now() - t0);
        seconds += s;
        state.SetIterationTime(s);
        OrvoScan_EndBatch();
    }
    state.counters["pages"] = pages;
    state.counters["pages_per_s"] = pages * static_cast<double>(state.iterations()) / seconds;
    state.counters["ms_per_page"] =
        1000.0 * seconds / (pages * static_cast<double>(state.iterations()));
    state.counters["cpu_ms_per_page"] =
        1000.0 * cpu / (pages * static_cast<double>(state.iterations()));
}

// The same conversion with libtiff alone: read the Group 3 TIFF of a cheque
// side, write it as a Group 4 TIFF file (a function of its own, so that a
// profiler can count it alone).
__attribute__((noinline)) void LibtiffG3ToG4Page(const bench::CodedPage& p, const std::string& path,
                                                 std::vector<uint8_t>& row) {
    bench::MemoryTiff mem(p.tiff);
    TIFF* in = mem.Open();
    TIFF* o = TIFFOpen(path.c_str(), "w");
    TIFFSetField(o, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(o, TIFFTAG_IMAGELENGTH, p.lines);
    TIFFSetField(o, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(o, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(o, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(o, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(o, TIFFTAG_XRESOLUTION, 200.0);
    TIFFSetField(o, TIFFTAG_YRESOLUTION, 200.0);
    TIFFSetField(o, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    for (int r = 0; r < p.lines; ++r) {
        TIFFReadScanline(in, row.data(), static_cast<uint32_t>(r), 0);
        TIFFWriteScanline(o, row.data(), static_cast<uint32_t>(r), 0);
    }
    TIFFClose(o);
    TIFFClose(in);
}

void BM_LibtiffG3ToG4(benchmark::State& state) {
    StartDriver();
    static const std::vector<bench::CodedPage> pages = bench::ChequePages(40);
    std::vector<uint8_t> row(1728 / 8);
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RemovePages();
        state.ResumeTiming();
        const double c0 = ThreadCpuSeconds();
        int page = 0;
        for (const bench::CodedPage& p : pages) {
            LibtiffG3ToG4Page(p, OutPath(ORVOSCAN_FORMAT_TIFF, page++), row);
        }
        cpu += ThreadCpuSeconds() - c0;
    }
    const double n = static_cast<double>(state.iterations() * pages.size());
    state.counters["cpu_ms_per_page"] = 1000.0 * cpu / n;
    state.counters["pages"] = static_cast<double>(pages.size());
    state.counters["pages_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}

// Runs a 200-cheque two-sided batch at zero latency into Group 4 TIFF files
// once per iteration; `take` takes its pages. Adds up the wall and CPU time.
constexpr int kBatchDocs = 200;
template <typename Take>
void TimeBatches(benchmark::State& state, double* seconds, double* cpu, Take take) {
    StartDriver();
    for (auto _ : state) {
        RemovePages();
        WriteProfile(0, 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF);
        TheScanner().SetScenario(Scenario(kBatchDocs, true));
        const double c0 = CpuSeconds();
        const auto t0 = Clock::now();
        if (OrvoScan_StartBatch("Check") != 0) {
            state.SkipWithError("StartBatch failed");
            return;
        }
        take();
        OrvoScan_EndBatch();
        const double s = Seconds(Clock::now() - t0);
        *seconds += s;
        *cpu += CpuSeconds() - c0;
        state.SetIterationTime(s);
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["docs_per_s"] = kBatchDocs * it / *seconds;
    state.counters["cpu_ms_per_doc"] = 1000.0 * *cpu / (kBatchDocs * it);
}

// A whole 200-cheque two-sided batch at zero latency, Group 4 TIFF files.
void BM_Batch200(benchmark::State& state) {
    int pages = 0;
    int last = 0;
    double seconds = 0;
    double cpu = 0;
    TimeBatches(state, &seconds, &cpu, [&] { pages = TakeAll(ORVOSCAN_FORMAT_TIFF, &last); });
    state.counters["pages"] = pages;
    state.counters["end_code"] = last;
    state.counters["rss_start_MiB"] = g_rssAtStart;
    state.counters["rss_init_MiB"] = g_rssAfterInit;
    state.counters["rss_peak_MiB"] = MaxRssMiB();
}

// The same batch with every cheque checked for image defects as soon as its
// rear page is written (pages named as the utility names them, quality.txt
// appended), as orvoscan and orvo_viewer scan.
void BM_Batch200Checked(benchmark::State& state) {
    int flagged = 0;
    double seconds = 0;
    double cpu = 0;
    StartDriver();  // the output directory
    const orvo::scanrun::OutputLocation location =
        orvo::scanrun::SplitOutputPath(g_outDir + "A.tif");
    TimeBatches(state, &seconds, &cpu, [&] {
        orvo::scanrun::ChequeQuality quality(location, true, orvo::quality::Limits());
        for (int p = 1;; ++p) {
            orvo::scanrun::PageStep step;
            step.name = orvo::scanrun::NamePage(location, true, p);
            int height = 0;
            if (OrvoScan_GetOneImage(step.name.path.c_str(), &height) != 0) break;
            step.taken = true;
            quality.Add(step);
        }
        flagged = quality.flagged();
    });
    state.counters["flagged"] = flagged;
}

// Ten cheques at the virtual scanner's default latency (about 100 documents
// a minute): CPU time per document of the whole process.
void BM_DefaultLatencyCpu(benchmark::State& state) {
    StartDriver();
    constexpr int kDocs = 10;
    double cpu = 0;
    double seconds = 0;
    for (auto _ : state) {
        WriteProfile(0, 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF);
        TheScanner().SetScenario(Scenario(kDocs, false));
        const double c0 = CpuSeconds();
        const auto t0 = Clock::now();
        OrvoScan_StartBatch("Check");
        TakeAll(ORVOSCAN_FORMAT_TIFF);
        OrvoScan_EndBatch();
        const double s = Seconds(Clock::now() - t0);
        seconds += s;
        cpu += CpuSeconds() - c0;
        state.SetIterationTime(s);
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["cpu_ms_per_doc"] = 1000.0 * cpu / (kDocs * it);
    state.counters["cpu_percent"] = 100.0 * cpu / seconds;
}

// Watches the temporary directory and notes when each page file is closed.
class PageWatch {
  public:
    PageWatch() {
        fd_ = inotify_init1(IN_NONBLOCK);
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        inotify_add_watch(fd_, g_tempDir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
        thread_ = std::thread([this] { Run(); });
    }
    ~PageWatch() {
        const uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) std::abort();
        thread_.join();
        close(fd_);
        close(stopFd_);
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Clock::time_point> t;
        for (const auto& [name, when] : seen_) t.push_back(when);
        return t;
    }

  private:
    void Run() {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            // Sleeps until the directory changes or the watch ends, so that
            // the watcher itself adds nothing to the CPU use measured.
            pollfd p[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (poll(p, 2, -1) <= 0) continue;
            if (p[1].revents != 0) return;
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) continue;
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
                if (e->len > 0 && std::string(e->name).rfind("_tmp", 0) == 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.emplace(e->name, now);
                }
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }
    int fd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, Clock::time_point> seen_;
};

// A caller waiting in OrvoScan_GetOneImage: the delay from a page file being
// written to the call returning (raw output, so the delay is mostly the
// wake-up), and the CPU use of the whole process while the scanner has
// nothing to deliver, over 2 s of a 3 s pause before the first cheque (three
// batches, the median pause).
void BM_PageWakeup(benchmark::State& state) {
    StartDriver();
    constexpr int kDocs = 6;
    std::vector<double> delays;
    std::vector<double> idleCpuPercents;
    for (auto _ : state) {
        WriteProfile(0, 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
        orvo::sim::Scenario s = Scenario(kDocs, false);
        s.latency.documentIntervalMs = 250;
        s.documents[0].pauseBeforeMs = 3000;
        TheScanner().SetScenario(s);
        RemovePages();
        PageWatch watch;
        std::vector<Clock::time_point> returned;
        const auto t0 = Clock::now();
        // The process's CPU time from 0.5 s to 2.5 s into the pause: the
        // batch has started, no document has come yet.
        double idleCpuPercent = 0;
        std::thread sampler([&] {
            std::this_thread::sleep_until(t0 + std::chrono::milliseconds(500));
            const double c1 = CpuSeconds();
            const auto s1 = Clock::now();
            std::this_thread::sleep_until(t0 + std::chrono::milliseconds(2500));
            idleCpuPercent = 100.0 * (CpuSeconds() - c1) / Seconds(Clock::now() - s1);
        });
        OrvoScan_StartBatch("Check");
        for (;;) {
            int height = 0;
            const std::string out = OutPath(ORVOSCAN_FORMAT_RAW, static_cast<int>(returned.size()));
            if (OrvoScan_GetOneImage(out.c_str(), &height) != 0) break;
            returned.push_back(Clock::now());
        }
        sampler.join();
        idleCpuPercents.push_back(idleCpuPercent);
        OrvoScan_EndBatch();
        const auto written = watch.Times();
        for (std::size_t i = 0; i < returned.size() && i < written.size(); ++i) {
            delays.push_back(1000.0 * Seconds(returned[i] - written[i]));
        }
        state.SetIterationTime(Seconds(Clock::now() - t0));
    }
    std::sort(delays.begin(), delays.end());
    state.counters["pages"] = static_cast<double>(delays.size());
    state.counters["delay_median_ms"] = delays.empty() ? -1 : delays[delays.size() / 2];
    state.counters["delay_max_ms"] = delays.empty() ? -1 : delays.back();
    // The median of the pauses: a single pause follows what else the machine
    // does meanwhile.
    std::sort(idleCpuPercents.begin(), idleCpuPercents.end());
    state.counters["idle_cpu_percent"] = idleCpuPercents[idleCpuPercents.size() / 2];
    state.counters["idle_cpu_percent_min"] = idleCpuPercents.front();
    state.counters["idle_cpu_percent_max"] = idleCpuPercents.back();
}

// How soon the worker notices a document that has become ready: the
// virtual scanner notes, on the poll that announces a document, how long it
// had been ready. Documents at the default timing with pauses of 0 to 2.5 s
// in between, so that the worker has rested for all kinds of time.
void BM_NoticeDelay(benchmark::State& state) {
    StartDriver();
    constexpr int kDocs = 12;
    std::vector<int> delays;
    for (auto _ : state) {
        WriteProfile(0, 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
        orvo::sim::Scenario s = Scenario(kDocs, false);
        const uint32_t pauses[kDocs] = {0, 40, 700, 13, 2500, 90, 0, 1300, 7, 400, 1900, 250};
        for (int d = 0; d < kDocs; ++d)
            s.documents[static_cast<std::size_t>(d)].pauseBeforeMs = pauses[d];
        TheScanner().SetScenario(s);
        const auto t0 = Clock::now();
        OrvoScan_StartBatch("Check");
        TakeAll(ORVOSCAN_FORMAT_RAW);
        OrvoScan_EndBatch();
        state.SetIterationTime(Seconds(Clock::now() - t0));
        for (const auto& r : TheScanner().CommandLog()) {
            if (r.readyForMs >= 0) delays.push_back(r.readyForMs);
        }
    }
    std::sort(delays.begin(), delays.end());
    state.counters["documents"] = static_cast<double>(delays.size());
    state.counters["notice_median_ms"] = delays.empty() ? -1 : delays[delays.size() / 2];
    state.counters["notice_max_ms"] = delays.empty() ? -1 : delays.back();
}

BENCHMARK_CAPTURE(BM_GetOneImage, g4_tiff, 0, ORVOSCAN_FORMAT_TIFF, 1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetOneImage, bmp, 0, ORVOSCAN_FORMAT_DIB, 1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetOneImage, gray_lzw_tiff, 4, ORVOSCAN_FORMAT_TIFF, 1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetOneImage, gray_tiff, 4, ORVOSCAN_FORMAT_TIFF, 0)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetOneImage, gray4_lzw_tiff, 3, ORVOSCAN_FORMAT_TIFF, 1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetOneImage, gray4_tiff, 3, ORVOSCAN_FORMAT_TIFF, 0)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
// Wall-clock time like the driver's rows, so that both sides are measured
// alike.
BENCHMARK(BM_LibtiffG3ToG4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Batch200)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Batch200Checked)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefaultLatencyCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageWakeup)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoticeDelay)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
