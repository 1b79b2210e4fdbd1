// orvoscan end to end on the virtual scanner: the program is run with its own
// system directory (links to the build's driver library and code tables, its
// own OrvoScan.ini) and a scenario file per test.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvoscan_e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using orvo::testing::ReadText;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The build's system directory, where the tool itself is built.
        const char* build = std::getenv("ORVOSCAN_SYSTEM_DIR");
        buildSys_ = build && *build ? fs::path(build) : fs::path(ORVOSCAN_TOOL).parent_path();
        // Another orvoscan can be put under test (e.g. an older build).
        const char* tool = std::getenv("ORVOSCAN_TOOL_UNDER_TEST");
        tool_ = tool && *tool ? tool : ORVOSCAN_TOOL;
        fs::create_directories(sys_);
        fs::create_directories(out_);
        for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
            fs::create_symlink(buildSys_ / f, sys_ / f);
        }
        WriteSettings("");
        Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                     "defaultStack": 3})");
    }
    void WriteSettings(const std::string& endorser, int side = 1, int scanMode = 0) {
        std::ofstream(sys_ / "OrvoScan.ini")
            << "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
               "BWSlice1=128\nScanLines1=800\n[Check]\nSide="
            << side << "\nScanWidth=1728\nResolution=0\nScanMode1=" << scanMode
            << "\nCompressMode=0\nBWSlice1=128\n"
               "ScanLines1=800\n[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=1\n"
               "ImageFileFormat=0\nEndorserFormat="
            << endorser << "\n";
    }
    void Scenario(const std::string& json) { std::ofstream(dir_ / "scenario.json") << json; }

    // Starts the tool; stdout and stderr go to files in the test directory.
    // `child` runs in the new process before the tool (limits, masks).
    pid_t Start(const std::vector<std::string>& args, const std::function<void()>& child = {}) {
        std::vector<std::string> argv = wrapper_;
        argv.push_back(tool_);
        argv.insert(argv.end(), args.begin(), args.end());
        return orvo::testing::StartProgram(argv, dir_ / "stdout", dir_ / "stderr", [&] {
            setenv("ORVOSCAN_ASPI", "sim", 1);
            setenv("ORVOSCAN_SYSTEM_DIR", sys_.c_str(), 1);
            setenv("ORVOSCAN_SIM_SCENARIO", (dir_ / "scenario.json").c_str(), 1);
            setenv("ORVOSCAN_TRACE_DIR", dir_.c_str(), 1);
            setenv("ORVOSCAN_TIME_SCALE", timeScale_.c_str(), 1);
            setenv("TMPDIR", dir_.c_str(), 1);
            if (child) child();
        });
    }
    // Waits for the tool at most `limit`, then kills it.
    Result Wait(pid_t pid, std::chrono::seconds limit = 120s) {
        Result r;
        const orvo::testing::ChildEnd end = orvo::testing::WaitChild(pid, limit);
        if (end.timedOut) ADD_FAILURE() << "orvoscan did not finish in time";
        r.code = end.code;
        r.out = ReadText(dir_ / "stdout");
        r.err = ReadText(dir_ / "stderr");
        return r;
    }
    Result Run(const std::vector<std::string>& args, const std::function<void()>& child = {}) {
        return Wait(Start(args, child));
    }
    // Polls the tool's stdout until it holds `text` (bounded); false when the
    // bound passed first.
    bool AwaitOutput(const std::string& text, std::chrono::seconds limit = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (ReadText(dir_ / "stdout").find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    std::vector<std::string> ScanArgs(int start = 1) {
        return {"scan",    "--profile",          "Check", "--output", (out_ / "A.tif").string(),
                "--start", std::to_string(start)};
    }
    int Count(const std::string& suffix) {
        int n = 0;
        for (const auto& e : fs::directory_iterator(out_)) {
            const std::string name = e.path().filename().string();
            if (name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                ++n;
        }
        return n;
    }

    fs::path buildSys_;
    const orvo::testing::TempDir temp_{"orvoscan-e2e"};
    const fs::path dir_ = temp_.path(), sys_ = dir_ / "sys", out_ = dir_ / "out";
    std::string tool_;
    std::vector<std::string> wrapper_;  // runs the tool, e.g. scripts/sg-emulated.sh
    std::string timeScale_ = "10";
};

// What an output holds: the records of micr.txt by number and the page files.
struct Output {
    std::map<int, std::string> records;  // number -> record line without CR LF
    std::vector<std::string> badLines;   // lines that are no whole record
    std::set<int> fronts, rears;
    std::vector<std::string> others;  // files that are neither pages nor micr.txt
    std::string micr;
};

inline Output ReadOutput(const fs::path& dir, const std::string& extension = "tif") {
    Output o;
    const std::regex page("A(\\d{6,7})([FR])\\." + extension);
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        std::smatch m;
        if (std::regex_match(name, m, page)) {
            (m[2] == "F" ? o.fronts : o.rears).insert(std::stoi(m[1]));
        } else if (name != "micr.txt" && name != "quality.txt" && name != "lost+found") {
            o.others.push_back(name);
        }
    }
    o.micr = ReadText(dir / "micr.txt");
    std::size_t at = 0;
    while (at < o.micr.size()) {
        const std::size_t end = o.micr.find("\r\n", at);
        const std::string line =
            o.micr.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? o.micr.size() : end + 2;
        if (end == std::string::npos || !std::regex_match(line, std::regex("\\d{7}[01].*"))) {
            o.badLines.push_back(line);
            continue;
        }
        const int number = std::stoi(line.substr(0, 7));
        if (!o.records.emplace(number, line).second) o.badLines.push_back("twice: " + line);
    }
    return o;
}

// The number printed after "Next start number: ", -1 when there is none.
inline int NextStart(const std::string& out) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("Next start number: (\\d+)"))) return -1;
    return std::stoi(m[1]);
}

// A ToolTest that reads and compares outputs.
class RunOutputTest : public ToolTest {
  protected:
    void TearDown() override {
        if (mounted_) umount2(out_.c_str(), MNT_DETACH);
        ToolTest::TearDown();
    }

    // A run of the same scenario without trouble, into dir_/ref.
    Output Reference(int start = 1, int expectedCode = 0) {
        const fs::path ref = dir_ / "ref";
        fs::create_directories(ref);
        std::vector<std::string> args = ScanArgs(start);
        args[4] = (ref / "A.tif").string();
        const Result r = Run(args);
        EXPECT_EQ(r.code, expectedCode) << r.err;
        return ReadOutput(ref);
    }

    // Every record belongs to a front page on disk and every front page has
    // its record (except those named in `withoutRecord`), the records are
    // whole and the pages and records are those of the reference run.
    void ExpectConsistent(const Output& o, const Output& ref, std::set<int> withoutRecord = {}) {
        EXPECT_TRUE(o.badLines.empty()) << o.badLines.front();
        EXPECT_TRUE(o.others.empty()) << o.others.front();
        for (const auto& [number, line] : o.records) {
            EXPECT_TRUE(o.fronts.count(number)) << "record without front page: " << line;
            ASSERT_TRUE(ref.records.count(number)) << line;
            EXPECT_EQ(line, ref.records.at(number));
        }
        for (int front : o.fronts) {
            if (!withoutRecord.count(front)) {
                EXPECT_TRUE(o.records.count(front)) << "front page without record: " << front;
            }
        }
        for (const auto& e : fs::directory_iterator(out_)) {
            const std::string name = e.path().filename().string();
            if (name == "micr.txt" || name == "lost+found") continue;
            if (name == "quality.txt") {
                // Whole lines, those of the reference's cheques on disk.
                const std::string lines = ReadText(e.path());
                EXPECT_EQ(lines, ReadText(dir_ / "ref" / name).substr(0, lines.size()));
                EXPECT_TRUE(lines.empty() || lines.ends_with("\r\n")) << lines;
                continue;
            }
            EXPECT_EQ(ReadText(e.path()), ReadText(dir_ / "ref" / name)) << name;
        }
    }

    bool mounted_ = false;
};

}  // namespace orvoscan_e2e
