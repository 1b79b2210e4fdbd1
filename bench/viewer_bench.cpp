// The desktop utility on Qt's offscreen platform: the image view showing a
// page the driver wrote (Group 4 cheque, 8-bit gray LZW cheque), fitted into
// a 600 x 400 view, against libtiff's decode alone of the same file; a whole
// GUI scan run of 200 two-sided cheques on the zero-latency virtual scanner
// with both views showing every page; and how long the window's event loop
// was away (busy, not answering) at most during a batch, also one with the
// scanner's own timing and long waits for cheques.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "controls.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/sim/scanner.h"
#include "orvo/sim/scenario.h"
#include "orvo/widgets/block_reduce.h"
#include "orvo/widgets/image_loader.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "orvo/widgets/shrink_plain.h"
#include "orvoscan.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvo::sim::TheScanner;

std::string g_systemDir;
std::string g_outDir;
std::string g_g4Page;
std::string g_grayPage;

std::string MakeDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern + "/";
}

double RssMiB() {
    std::ifstream status("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    status >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

void LaySystemDir() {
    g_systemDir = MakeDir("orvo-bench-viewer-sys");
    const std::string build = std::string(ORVO_BUILD_SYSTEM_DIR) + "/";
    for (const char* file : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
        if (symlink((build + file).c_str(), (g_systemDir + file).c_str()) != 0) {
            throw std::runtime_error(std::string("cannot link ") + file);
        }
    }
    std::ofstream(g_systemDir + "OrvoScan.ini")
        << "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
           "ScanLines1=800\n"
           "[Check]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
           "ScanLines1=800\n"
           "[Gray]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=4\nCompressMode=0\n"
           "ScanLines1=800\n"
           "[Misc]\nMicrDetect=1\nImageFileFormat=0\nGrayTifCompress=1\n";
    setenv("TMPDIR", MakeDir("orvo-bench-viewer-tmp").c_str(), 1);
    setenv("ORVOSCAN_ASPI", "sim", 1);
    setenv("ORVOSCAN_SYSTEM_DIR", g_systemDir.c_str(), 1);
    setenv("ORVOSCAN_TRACE_DIR", g_systemDir.c_str(), 1);
    unsetenv("ORVOSCAN_SIM_SCENARIO");
    unsetenv("ORVOSCAN_TIME_SCALE");
}

// One page written by the driver: the front of the first cheque.
std::string DriverPage(const char* profile, const std::string& name) {
    TheScanner().SetScenario(orvo::sim::FastScenario(1));
    OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF);
    if (OrvoScan_StartBatch(profile) != 0) throw std::runtime_error("StartBatch failed");
    const std::string path = g_outDir + name;
    int height = 0;
    const int r = OrvoScan_GetOneImage(path.c_str(), &height);
    while (OrvoScan_GetOneImage((g_outDir + "rest.tif").c_str(), &height) == 0) {
    }
    OrvoScan_EndBatch();
    if (r != 0) throw std::runtime_error("GetOneImage failed");
    return path;
}

const std::string& Page(int which) {
    return which == 0 ? g_g4Page : g_grayPage;
}

void BM_LibtiffDecode(benchmark::State& state) {
    const std::string& path = Page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        if (!tif) {
            state.SkipWithError("cannot open");
            return;
        }
        uint32_t h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        std::vector<uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(tif, line.data(), y, 0);
        TIFFClose(tif);
        benchmark::DoNotOptimize(line.data());
    }
}
BENCHMARK(BM_LibtiffDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// display() of the file and the paint of the whole 600 x 400 view.
void BM_ViewDisplay(benchmark::State& state) {
    const QString path = QString::fromStdString(Page(static_cast<int>(state.range(0))));
    orvo::widgets::ImageView view;
    const QMargins frame = view.contentsMargins();
    view.resize(600 + frame.left() + frame.right(), 400 + frame.top() + frame.bottom());
    view.show();
    QApplication::processEvents();
    view.fit(orvo::widgets::ImageView::BestFit);
    QImage screen(view.viewport()->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view.setImagePath(path);
        view.display();
        QPainter painter(&screen);
        view.viewport()->render(&painter);
        painter.end();
        if (!view.imageDisplayed()) state.SkipWithError("not displayed");
    }
    state.counters["zoom_percent"] = view.zoom();
}
BENCHMARK(BM_ViewDisplay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The shrinking alone: the decoded page (as display() holds it) made into the
// 600 x 277 image the fitted view paints; and the same by the plain passes.
void ViewShrink(benchmark::State& state, bool plain) {
    const QString path = QString::fromStdString(Page(static_cast<int>(state.range(0))));
    const orvo::widgets::LoadedImage loaded = orvo::widgets::LoadImageFile(path);
    if (!loaded.ok()) {
        state.SkipWithError("cannot load");
        return;
    }
    const QSize page = loaded.image.size();
    const double f = std::min(600.0 / page.width(), 400.0 / page.height());
    const QSize size(static_cast<int>(std::lround(page.width() * f)),
                     static_cast<int>(std::lround(page.height() * f)));
    for (auto _ : state) {
        QImage shrunk = plain ? orvo::widgets::ShrinkForDisplayPlain(loaded.image, size)
                              : orvo::widgets::ShrinkForDisplay(loaded.image, size);
        benchmark::DoNotOptimize(shrunk.constBits());
    }
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
}
void BM_ViewShrink(benchmark::State& state) {
    ViewShrink(state, false);
}
void BM_ViewShrinkPlain(benchmark::State& state) {
    ViewShrink(state, true);
}
BENCHMARK(BM_ViewShrink)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewShrinkPlain)->Arg(0)->Unit(benchmark::kMillisecond);

// SCAN of the real window, and its event loop until the batch has ended (the
// driver's calls run on a thread of their own). Returns the longest time the
// event loop was away: the largest gap between two turns of a 1 ms timer,
// which is how late a repaint, a move or a close request could be answered.
double ScanMeasuringAway(orvo::viewer::MainDialog& dialog) {
    QEventLoop loop;
    QObject::connect(&dialog, &orvo::viewer::MainDialog::batchEnded, &loop, &QEventLoop::quit);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    Clock::time_point last = Clock::now();
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    tick.start();
    last = Clock::now();
    dialog.OnScan();
    if (dialog.scanning()) loop.exec();
    const Clock::time_point end = Clock::now();
    return std::max(longest, std::chrono::duration<double, std::milli>(end - last).count());
}

// The real window on the driver, message boxes counted (none is expected).
struct BenchWindow {
    orvo::scanrun::ExportedDriver driver;
    orvo::viewer::MainDialog dialog{driver};
    int messages = 0;

    BenchWindow() {
        orvo::viewer::SetMessageHandler([this](QWidget*, const orvo::viewer::Message&) {
            ++messages;
            return orvo::viewer::Answer::Ok;
        });
        dialog.InitDialog();
        dialog.resize(1100, 780);
        dialog.show();
        QApplication::processEvents();
    }
    ~BenchWindow() {
        orvo::viewer::SetMessageHandler({});
        orvo::viewer::SetSavePathHandler({});
    }
    // SAVE into a new directory (returned), profile Check from number 1.
    std::string SaveInto(const char* name) {
        const std::string out = MakeDir(name);
        orvo::viewer::SetSavePathHandler([out](QWidget*, const orvo::viewer::SaveRequest&) {
            return QString::fromStdString(out + "A.tif");
        });
        dialog.OnSave();
        dialog.values().profileText = QStringLiteral("Check");
        dialog.values().startNumber = 1;
        dialog.RefreshDialog();
        return out;
    }
};

// SAVE and SCAN of the real window: 200 two-sided cheques, every page listed
// and shown in the front or rear view, micr.txt records, statistics.
void BM_GuiScanRun200(benchmark::State& state) {
    BenchWindow window;
    orvo::viewer::MainDialog& dialog = window.dialog;
    double docs = 0;
    double seconds = 0;
    double rssAfterFirst = 0;
    double longestAway = 0;
    int runs = 0;
    for (auto _ : state) {
        const std::string out = window.SaveInto("orvo-bench-viewer-run");
        TheScanner().SetScenario(orvo::sim::FastScenario(200));
        const Clock::time_point t0 = Clock::now();
        longestAway = std::max(longestAway, ScanMeasuringAway(dialog));
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(s);
        seconds += s;
        docs += 200;
        if (++runs == 1) rssAfterFirst = RssMiB();
        if (dialog.pageList()->rows() != 400) state.SkipWithError("not all pages listed");
        std::system(("rm -rf '" + out + "'").c_str());
    }
    if (window.messages != 0) state.SkipWithError("a message box was shown");
    state.counters["docs_per_s"] = docs / seconds;
    state.counters["rss_after_first_MiB"] = rssAfterFirst;
    state.counters["rss_after_last_MiB"] = RssMiB();
    state.counters["longest_away_ms"] = longestAway;
}
BENCHMARK(BM_GuiScanRun200)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// A batch with the virtual scanner's own timing (600 ms per cheque): the
// first cheque after 2 s, a pause of 4 s before the fourth, six cheques in
// all, every page shown. The longest time the event loop was away, over the
// waits for the first and the next cheque and the pages in between.
void BM_GuiBatchWithWaits(benchmark::State& state) {
    BenchWindow window;
    orvo::viewer::MainDialog& dialog = window.dialog;
    double longestAway = 0;
    for (auto _ : state) {
        const std::string out = window.SaveInto("orvo-bench-viewer-waits");
        orvo::sim::Scenario s;
        s.documents = orvo::sim::DefaultStack(6);
        s.documents[0].pauseBeforeMs = 2000;
        s.documents[3].pauseBeforeMs = 4000;
        TheScanner().SetScenario(s);
        const Clock::time_point t0 = Clock::now();
        longestAway = std::max(longestAway, ScanMeasuringAway(dialog));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        if (dialog.pageList()->rows() != 12) state.SkipWithError("not all pages listed");
        std::system(("rm -rf '" + out + "'").c_str());
    }
    if (window.messages != 0) state.SkipWithError("a message box was shown");
    state.counters["longest_away_ms"] = longestAway;
}
BENCHMARK(BM_GuiBatchWithWaits)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    LaySystemDir();
    g_outDir = MakeDir("orvo-bench-viewer-out");
    QApplication app(argc, argv);
    if (OrvoScan_Init() != 0) {
        std::fprintf(stderr, "bench_viewer: the driver did not start\n");
        return 1;
    }
    g_g4Page = DriverPage("Check", "g4.tif");
    g_grayPage = DriverPage("Gray", "gray.tif");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    OrvoScan_End();
    std::system(("rm -rf '" + g_outDir + "' '" + g_systemDir + "' '" + std::getenv("TMPDIR") + "'")
                    .c_str());
    return 0;
}
