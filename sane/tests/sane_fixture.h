// The backend end to end on the virtual scanner: every test lays out its own
// world in a temporary directory - a SANE configuration with the backend's
// dll.d entry and orvoscan.conf from the source tree, a system directory with
// the build's driver library and code tables and the test's OrvoScan.ini, a
// scenario file and the directory where the virtual scanner records what it
// scanned - and loads the backend through SANE's dll backend, as a user's
// frontend would.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"
#include "orvo/testing/time_scale.h"

namespace sane_e2e {

namespace fs = std::filesystem;
using orvo::testing::ReadText;
using orvo::testing::WriteText;

// Settings with the profiles the tests scan with: "Check" (two-sided
// lineart, coded, 1728 pixels wide, 200 lines), "Gray" (one-sided 256-level
// gray), "Gray16" (one-sided 16-level gray, plain rows) and "Wide" (code 1:
// widened to 300 dpi). MICR reading on.
inline std::string TestIni(int micrDetect = 1) {
    return "; the operator's settings\n"
           "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
           "BWSlice1=128\nScanLines1=200\n"
           "[Check]\nSide=1\nLED=0\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
           "BWSlice1=128\nScanLines1=200\nLeftOffset=3\nTopMargin=4\n"
           "[Gray]\nSide=0\nScanWidth=1024\nResolution=0\nScanMode1=4\nCompressMode=0\n"
           "BWSlice1=100\nScanLines1=160\n"
           "[Gray16]\nSide=0\nScanWidth=512\nResolution=0\nScanMode1=3\nCompressMode=1\n"
           "BWSlice1=100\nScanLines1=96\n"
           "[Wide]\nSide=0\nScanWidth=800\nResolution=1\nScanMode1=4\nCompressMode=0\n"
           "BWSlice1=128\nScanLines1=120\n"
           "[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=" +
           std::to_string(micrDetect) +
           "\nSerialNo=1\nImageFileFormat=1\nGrayTifCompress=1\nLimitScanCount=0\n"
           "ScanCount=0\nEndorserFormat=\n";
}

// A scenario without waiting: `documents` is the JSON array of documents.
inline std::string FastScenario(const std::string& documents) {
    return R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
               "documents": )" +
           documents + "}";
}

class World {
  public:
    World() {
        for (const fs::path& p : {conf, conf / "dll.d", sys, record, out, trace}) {
            fs::create_directories(p);
        }
        const fs::path source = ORVO_SANE_SOURCE_DIR;
        fs::copy_file(source / "dll.d" / "orvoscan", conf / "dll.d" / "orvoscan");
        fs::copy_file(source / "orvoscan.conf", conf / "orvoscan.conf");
        WriteText(conf / "dll.conf", "# only the backends of dll.d\n");
        // The build's system directory (where libK4TR.so and the tables are).
        const char* build = std::getenv("ORVOSCAN_SYSTEM_DIR");
        const fs::path buildSys = build != nullptr ? build : "";
        for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
            fs::create_symlink(buildSys / f, sys / f);
        }
        Settings(TestIni());
        Scenario(FastScenario("[{}, {}, {}]"));
    }
    void Settings(const std::string& ini) { WriteText(sys / "OrvoScan.ini", ini); }
    void Scenario(const std::string& json) { WriteText(dir / "scenario.json", json); }

    std::map<std::string, std::string> Env() const {
        return {
            {"SANE_CONFIG_DIR", conf.string()},
            {"LD_LIBRARY_PATH", ORVO_SANE_BACKEND_DIR},
            {"ORVOSCAN_ASPI", "sim"},
            {"ORVOSCAN_SYSTEM_DIR", sys.string()},
            {"ORVOSCAN_SIM_SCENARIO", (dir / "scenario.json").string()},
            {"ORVOSCAN_SIM_RECORD_DIR", record.string()},
            {"ORVOSCAN_TRACE_DIR", trace.string()},
            {"ORVOSCAN_TIME_SCALE", orvo::testing::GentleTimeScale(timeScale)},
            {"TMPDIR", dir.string()},
        };
    }
    // For a backend loaded into this process.
    void Apply() const {
        for (const auto& [name, value] : Env()) setenv(name.c_str(), value.c_str(), 1);
    }

    // The driver's page calls so far (its trace "OrvoScan_GetOneImage START").
    int PageCalls() const {
        const std::string text = ReadText(trace / "getone.txt");
        int n = 0;
        for (std::size_t at = 0; (at = text.find("GetOneImage START", at)) != std::string::npos;
             ++at) {
            ++n;
        }
        return n;
    }
    // Polls until the driver has entered its `n`-th page call (bounded).
    bool AwaitPageCall(int n, std::chrono::seconds limit = std::chrono::seconds(60)) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (PageCalls() < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // What the virtual scanner scanned of a document's side.
    fs::path Record(int document, bool front) const {
        return record / ("doc" + std::string(4 - std::to_string(document).size(), '0') +
                         std::to_string(document) + (front ? "_front.pgm" : "_rear.pgm"));
    }

    const orvo::testing::TempDir temp{"orvoscan-sane-e2e"};  // removed with the world
    const fs::path dir = temp.path();
    const fs::path conf = dir / "sane.d", sys = dir / "sys", record = dir / "record",
                   out = dir / "out", trace = dir / "trace";
    std::string timeScale = "20";
};

// A page as the virtual scanner scanned it (its record, P5) or as a frontend
// got it (P4 lineart with 1 = black, or P5 gray), one value per pixel.
struct Image {
    int width = 0;
    int height = 0;
    int maxval = 0;
    std::vector<uint8_t> values;
};

inline bool ReadPnm(const fs::path& path, Image* image) {
    const std::string d = ReadText(path);
    std::size_t at = 0;
    auto token = [&]() {
        for (;;) {
            while (at < d.size() && std::isspace(static_cast<unsigned char>(d[at]))) ++at;
            if (at < d.size() && d[at] == '#') {
                while (at < d.size() && d[at] != '\n') ++at;
                continue;
            }
            break;
        }
        const std::size_t begin = at;
        while (at < d.size() && !std::isspace(static_cast<unsigned char>(d[at]))) ++at;
        return d.substr(begin, at - begin);
    };
    const std::string magic = token();
    if (magic != "P4" && magic != "P5") return false;
    image->width = std::stoi(token());
    image->height = std::stoi(token());
    image->maxval = magic == "P4" ? 1 : std::stoi(token());
    ++at;  // the one white-space character before the data
    const std::size_t w = static_cast<std::size_t>(image->width);
    const std::size_t h = static_cast<std::size_t>(image->height);
    image->values.assign(w * h, 0);
    if (magic == "P4") {
        const std::size_t bpl = (w + 7) / 8;
        if (d.size() < at + bpl * h) return false;
        for (std::size_t y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < w; ++x) {
                const auto byte = static_cast<uint8_t>(d[at + y * bpl + x / 8]);
                image->values[y * w + x] = (byte >> (7 - x % 8)) & 1;
            }
        }
        return true;
    }
    if (d.size() < at + w * h) return false;
    for (std::size_t i = 0; i < w * h; ++i) image->values[i] = static_cast<uint8_t>(d[at + i]);
    return true;
}

// A frame as SANE delivered it (bytes per line as the parameters say).
inline Image FromFrame(const std::vector<uint8_t>& bytes, int depth, int width, int bytesPerLine,
                       int lines) {
    Image image;
    image.width = width;
    image.height = lines;
    image.maxval = depth == 1 ? 1 : 255;
    image.values.assign(static_cast<std::size_t>(width) * lines, 0);
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * bytesPerLine;
            image.values[static_cast<std::size_t>(y) * width + x] =
                depth == 1 ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x];
        }
    }
    return image;
}

// What a frontend must get of a side the virtual scanner recorded: every
// line the scanner sent but the last (the driver's first row is never part of
// an image, so N coded lines give the first N - 1), each row's first pixel
// taken from the second on lineart pages, gray values scaled to 0-255.
// `plainRows`: uncompressed sides, where the rows are the data themselves and
// the image starts with the second row sent. `left` and `top`: the columns
// and rows of the page the scan area leaves out.
inline void ExpectSameAsScanned(const Image& got, const fs::path& recordPgm, bool plainRows = false,
                                int left = 0, int top = 0) {
    Image scanned;
    ASSERT_TRUE(ReadPnm(recordPgm, &scanned)) << recordPgm;
    ASSERT_EQ(got.width, scanned.width - left) << recordPgm;
    ASSERT_EQ(got.height, scanned.height - 1 - top) << recordPgm;
    const bool bilevel = scanned.maxval == 1;
    ASSERT_EQ(got.maxval, bilevel ? 1 : 255);
    const int scale = bilevel ? 1 : 255 / scanned.maxval;
    const int first = plainRows ? 1 : 0;
    int wrong = 0;
    for (int y = 0; y < got.height && wrong < 5; ++y) {
        const uint8_t* want = scanned.values.data() +
                              static_cast<std::size_t>(y + top + first) * scanned.width + left;
        const uint8_t* have = got.values.data() + static_cast<std::size_t>(y) * got.width;
        for (int x = 0; x < got.width; ++x) {
            const int expected = (bilevel && x + left == 0 ? want[1] : want[x]) * scale;
            if (have[x] != expected) {
                ADD_FAILURE() << recordPgm << ": pixel " << x << "," << y << " is " << int{have[x]}
                              << ", scanned " << expected;
                ++wrong;
                break;
            }
        }
    }
}

}  // namespace sane_e2e
