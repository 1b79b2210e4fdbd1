// orvoscan end to end on the virtual scanner: the program is run with its own
// system directory (links to the build's driver library and code tables, its
// own OrvoScan.ini) and a scenario file per test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        char tmpl[] = "/tmp/orvoscan-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        sys_ = dir_ / "sys";
        out_ = dir_ / "out";
        fs::create_directories(sys_);
        fs::create_directories(out_);
        for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
            fs::create_symlink(buildSys_ / f, sys_ / f);
        }
        WriteSettings("");
        Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                     "defaultStack": 3})");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteSettings(const std::string& endorser, int side = 1) {
        std::ofstream(sys_ / "OrvoScan.ini")
            << "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
               "BWSlice1=128\nScanLines1=800\n[Check]\nSide="
            << side
            << "\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\nBWSlice1=128\n"
               "ScanLines1=800\n[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=1\n"
               "ImageFileFormat=0\nEndorserFormat="
            << endorser << "\n";
    }
    void Scenario(const std::string& json) { std::ofstream(dir_ / "scenario.json") << json; }

    // Starts the tool; stdout and stderr go to files in the test directory.
    pid_t Start(const std::vector<std::string>& args) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("ORVOSCAN_ASPI", "sim", 1);
            setenv("ORVOSCAN_SYSTEM_DIR", sys_.c_str(), 1);
            setenv("ORVOSCAN_SIM_SCENARIO", (dir_ / "scenario.json").c_str(), 1);
            setenv("ORVOSCAN_TRACE_DIR", dir_.c_str(), 1);
            setenv("ORVOSCAN_TIME_SCALE", "10", 1);
            setenv("TMPDIR", dir_.c_str(), 1);
            const int out = open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            std::string tool = ORVOSCAN_TOOL;
            argv.push_back(tool.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(tool.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }
    // Waits for the tool at most `limit`, then kills it.
    Result Wait(pid_t pid, std::chrono::seconds limit = 120s) {
        Result r;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "orvoscan did not finish in time";
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = ReadAll(dir_ / "stdout");
        r.err = ReadAll(dir_ / "stderr");
        return r;
    }
    Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }
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

    fs::path buildSys_, dir_, sys_, out_;
};

TEST_F(ToolTest, HelpVersionAndUsageErrors) {
    Result r = Run({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Exit status:"), std::string::npos);
    r = Run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("QXS.1.00.00.71QS.03.04.28"), std::string::npos);
    EXPECT_EQ(Run({}).code, 2);
    EXPECT_EQ(Run({"frobnicate"}).code, 2);
    EXPECT_EQ(Run({"scan", "--profile", "Check"}).code, 2);
    EXPECT_EQ(Run({"scan", "--profile", "Check", "--output", (out_ / "A").string()}).code, 2);
    EXPECT_EQ(Run({"scan", "-p", "Check", "-o", "/x/A.tif", "--start", "-4"}).code, 2);
    EXPECT_EQ(Run({"qa", "write", "1", "2"}).code, 2);
}

TEST_F(ToolTest, InfoFindsTheVirtualScanner) {
    const Result r = Run({"info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("adapter 0, target 3: OrvoData QXS-7100 (QV710)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Profiles:         Check"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(sys_.string()), std::string::npos);
}

TEST_F(ToolTest, ScanWritesPagesAndMicrRecords) {
    const Result r = Run(ScanArgs(3));
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    for (const char* page : {"A000003F.tif", "A000003R.tif", "A000005F.tif", "A000005R.tif"}) {
        EXPECT_TRUE(fs::exists(out_ / page)) << page;
    }
    EXPECT_EQ(Count(".tif"), 6);
    const std::string micr = ReadAll(out_ / "micr.txt");
    std::istringstream lines(micr);
    std::string line;
    int records = 0;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r');
        EXPECT_EQ(line.substr(0, 7), "000000" + std::to_string(3 + records));
        ++records;
    }
    EXPECT_EQ(records, 3);
    EXPECT_NE(r.out.find("Next start number: 6"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MICR OK :\t"), std::string::npos);
}

TEST_F(ToolTest, JsonLinesForScripts) {
    std::vector<std::string> args = ScanArgs();
    args.insert(args.begin(), "--json");
    const Result r = Run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int pages = 0;
    while (std::getline(lines, line)) {
        ASSERT_TRUE(nlohmann::json::accept(line)) << line;
        const auto event = nlohmann::json::parse(line);
        if (event["event"] == "page") {
            ++pages;
            EXPECT_TRUE(fs::exists(event["path"].get<std::string>()));
        }
    }
    EXPECT_EQ(pages, 6);
}

TEST_F(ToolTest, JamEndsWithTheDeviceErrorCode) {
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "documents": [{}, {"jam": "jam1"}, {}]})");
    const Result r = Run(ScanArgs());
    EXPECT_EQ(r.code, 5) << r.out << r.err;
    EXPECT_NE(r.err.find("Scanner device error..\n  -JAM1 error.."), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(out_ / "A000001F.tif"));
    EXPECT_TRUE(fs::exists(out_ / "A000001R.tif"));
    EXPECT_FALSE(fs::exists(out_ / "A000002F.tif"));
    EXPECT_EQ(ReadAll(out_ / "micr.txt").substr(0, 7), "0000001");
}

TEST_F(ToolTest, MissingScannerIsADriverStartFailure) {
    Scenario(R"({"present": false})");
    const Result r = Run(ScanArgs());
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("Scanner not found.."), std::string::npos) << r.err;
    EXPECT_EQ(Count(".tif"), 0);
    EXPECT_EQ(Run({"info"}).code, 3);
}

TEST_F(ToolTest, SettingsErrors) {
    Result r = Run({"scan", "--profile", "Nope", "--output", (out_ / "A.tif").string()});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("no profile \"Nope\""), std::string::npos);
    WriteSettings("$X");
    r = Run(ScanArgs());
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_NE(r.err.find("Illegal endorser format error.."), std::string::npos) << r.err;
}

TEST_F(ToolTest, OutputDirectoryMustExist) {
    const Result r =
        Run({"scan", "--profile", "Check", "--output", (dir_ / "none" / "A.tif").string()});
    EXPECT_EQ(r.code, 6);
}

TEST_F(ToolTest, InterruptionKeepsWhatWasTaken) {
    // Slow feed: a signal arrives while the batch is still running.
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 2000},
                 "defaultStack": 50})");
    const pid_t pid = Start(ScanArgs());
    // Wait for the first page to be reported.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (ReadAll(dir_ / "stdout").find("A000001F") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGINT);
    const Result r = Wait(pid);
    EXPECT_EQ(r.code, 130) << r.out << r.err;
    const int fronts = Count("F.tif");
    EXPECT_GE(fronts, 1);
    EXPECT_LT(fronts, 50);
    EXPECT_EQ(Count("R.tif"), fronts);
    // One record per cheque taken.
    const std::string micr = ReadAll(out_ / "micr.txt");
    int records = 0;
    for (char c : micr) records += c == '\n';
    EXPECT_EQ(records, fronts);
}

}  // namespace

namespace {

TEST_F(ToolTest, QaBlockReadAndWrite) {
    Result r = Run({"qa", "read"});
    if (r.err.find("cannot read the QA block") != std::string::npos) {
        GTEST_SKIP() << "this driver library has no QA block exports yet";
    }
    ASSERT_EQ(r.code, 0) << r.err;
    // The virtual scanner's QA block.
    EXPECT_EQ(r.out, "7 7 32 7 7 32 5 8 4 5 0 0\n");
    r = Run({"qa", "write", "7", "7", "32", "7", "7", "32", "5", "8", "4", "0x05"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"qa", "write", "1", "2", "3", "4", "5", "6", "7", "8", "9", "256"}).code, 2);
}

}  // namespace
