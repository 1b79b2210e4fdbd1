// K4TR.dll end to end: a Windows client under Wine, through the scanning
// service, against the same client on the native driver, both on the
// virtual scanner. One Wine prefix for the whole program.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"

namespace {

using Env = std::map<std::string, std::string>;
using orvo::testing::DirEntries;
using orvo::testing::ReadBytes;
using orvo::testing::ReadText;

const std::string kScenarios = ORVO_SCENARIO_DIR "/";

// How Wine runs here: the 32-bit build, or where a 32-bit Wine cannot start
// (a kernel without 32-bit support) the same source built for 64 bits.
struct WineSetup {
    std::string why;  // empty when Wine runs
    std::string wine;
    Env env;
    std::string stdcallClient, cdeclClient;
    std::string stdcallDll, cdeclDll;
};
WineSetup g_wine;

struct Ran {
    int code = -1;
    std::string out;
};

// Runs argv with `env` added, in `cwd`, its output collected.
Ran RunProgram(const std::vector<std::string>& argv, const Env& env, const std::string& cwd = {},
               std::chrono::milliseconds bound = std::chrono::seconds(90)) {
    const std::string dir = e2e::MakeTempDir("k4tr-run");
    const pid_t pid = orvo::testing::StartProgram(argv, dir + "out", dir + "err", [&env, &cwd] {
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    });
    Ran ran;
    ran.code = orvo::testing::WaitChild(pid, bound).code;
    // Windows programs end their lines with CR LF.
    for (char c : ReadText(dir + "out"))
        if (c != '\r') ran.out += c;
    if (ran.code != 0) ran.out += "\nstderr: " + ReadText(dir + "err");
    return ran;
}

// The Windows path of a Unix path (drive Z: of every Wine prefix).
std::string WinPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

void SetUpWine() {
    const std::string build = ORVO_WINDOWS_BUILD_DIR "/";
    Env env = {{"WINEPREFIX", e2e::MakeTempDir("k4tr-wine")},
               {"WINEDEBUG", "-all"},
               {"WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe="}};
    struct Candidate {
        std::string wine, loader, client, cdecl, dll, cdeclDll;
    };
    const std::vector<Candidate> candidates = {
        {"/usr/lib/wine/wine", "", build + "win32/k4tr_client.exe",
         build + "win32/cdecl/k4tr_client.exe", ORVO_BUILD_SYSTEM_DIR "/windows/K4TR.dll",
         ORVO_BUILD_SYSTEM_DIR "/windows/cdecl/K4TR.dll"},
        {"/usr/lib/wine/wine64", "/usr/lib/wine/wine64", build + "win64/k4tr_client.exe",
         build + "win64/k4tr_client.exe", build + "win64/K4TR.dll", build + "win64/K4TR.dll"},
    };
    std::string tried;
    for (const Candidate& c : candidates) {
        if (access(c.wine.c_str(), X_OK) != 0 || !e2e::Exists(c.client)) {
            tried += " " + c.wine + " (not installed or no client built);";
            continue;
        }
        Env e = env;
        if (!c.loader.empty()) e["WINELOADER"] = c.loader;
        // The first start makes the prefix; the server then stays for the
        // whole program (and 30 s after its last client, should the program end
        // without stopping it).
        const Ran usage = RunProgram({c.wine, c.client}, e, {}, std::chrono::seconds(120));
        if (usage.code == 2) {
            RunProgram({c.wine == "/usr/lib/wine/wine" ? "/usr/bin/wineserver"
                                                       : "/usr/lib/wine/wineserver64",
                        "-p30"},
                       e);
            g_wine = {"", c.wine, e, c.client, c.cdecl, c.dll, c.cdeclDll};
            return;
        }
        tried += " " + c.wine + " exited with " + std::to_string(usage.code) + ";";
    }
    g_wine.why = "Wine cannot start here:" + tried;
}

// The scanning service of one test: a private runtime directory (token),
// system directory and scenario of the virtual scanner.
class Service {
  public:
    Service(const std::string& sysDir, const std::string& scenario) {
        root_ = e2e::MakeTempDir("k4tr-svc");
        runtime_ = root_ + "run";
        mkdir(runtime_.c_str(), 0700);
        mkdir((root_ + "home").c_str(), 0700);
        mkdir((root_ + "tmp").c_str(), 0700);
        env_ = {{"XDG_RUNTIME_DIR", runtime_},
                {"HOME", root_ + "home"},
                {"TMPDIR", root_ + "tmp"},
                {"ORVOSCAN_SYSTEM_DIR", sysDir},
                {"ORVOSCAN_TRACE_DIR", root_ + "tmp"},
                {"ORVOSCAN_ASPI", "sim"},
                {"ORVOSCAN_SIM_SCENARIO", kScenarios + scenario}};
        out_ = root_ + "service.out";
        pid_ = orvo::testing::StartProgram({ORVO_SERVICE, "--listen", "127.0.0.1:0",
                                            "--no-system-config", "--config", root_ + "none.conf"},
                                           out_, root_ + "service.err", [this] {
                                               for (const auto& [k, v] : env_)
                                                   setenv(k.c_str(), v.c_str(), 1);
                                           });
        const std::regex listening(R"(listening on (http://127\.0\.0\.1:[0-9]+)/)");
        for (int i = 0; i < 200 && url_.empty(); ++i) {
            std::smatch m;
            const std::string text = ReadText(out_);
            if (std::regex_search(text, m, listening))
                url_ = m[1];
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~Service() { Kill(); }
    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            orvo::testing::WaitChild(pid_, std::chrono::seconds(10));
        }
        pid_ = -1;
    }
    const std::string& url() const { return url_; }
    // The environment of a program of the same user: the native client
    // shares it, the Windows client adds Wine's and the service's address.
    Env env() const { return env_; }
    Env WineEnv() const {
        Env e = env_;
        for (const auto& [k, v] : g_wine.env) e[k] = v;
        e["ORVOSCAN_SERVICE"] = url_;
        return e;
    }
    std::string traceDir() const { return root_ + "tmp/"; }

  private:
    std::string root_, runtime_, out_, url_;
    Env env_;
    pid_t pid_ = -1;
};

std::string SettingsIni() {
    auto keys = [](int mode) {
        return std::vector<std::pair<std::string, std::string>>{
            {"Side", "1"},         {"ScanWidth", "1728"},
            {"Resolution", "0"},   {"ScanMode1", std::to_string(mode)},
            {"CompressMode", "0"}, {"BWSlice1", "128"},
            {"ScanLines1", "800"}};
    };
    return e2e::Ini(
        {{"Default", keys(0)},
         {"Check", keys(0)},
         {"Gray", keys(4)},
         {"Misc", {{"MicrDetect", "1"}, {"ImageFileFormat", "0"}, {"GrayTifCompress", "1"}}}});
}

class WineDll : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { SetUpWine(); }
    static void TearDownTestSuite() {
        if (g_wine.why.empty())
            RunProgram({g_wine.wine == "/usr/lib/wine/wine" ? "/usr/bin/wineserver"
                                                            : "/usr/lib/wine/wineserver64",
                        "-k"},
                       g_wine.env);
    }
    void SetUp() override {
        if (!g_wine.why.empty()) GTEST_SKIP() << g_wine.why;
        sysDir_ = e2e::LaySystemDir(SettingsIni());
    }

    // The native client's run of `mode` with `profile` and `format`, its
    // pages in a directory of their own.
    Ran Native(const Service& service, const std::string& mode, const std::string& profile,
               const std::string& format, std::string* outDir) {
        *outDir = e2e::MakeTempDir("k4tr-native");
        return RunProgram({ORVO_NATIVE_CLIENT, ORVO_BUILD_SYSTEM_DIR "/libK4TR.so", mode, *outDir,
                           profile, format},
                          service.env());
    }
    // The Windows client's, in either convention; `relative`: the pages go
    // to ".", the client's working directory.
    Ran Windows(const Service& service, bool cdecl, const std::string& mode,
                const std::string& profile, const std::string& format, const std::string& outDir,
                bool relative = false) {
        return RunProgram({g_wine.wine, cdecl ? g_wine.cdeclClient : g_wine.stdcallClient,
                           WinPath(cdecl ? g_wine.cdeclDll : g_wine.stdcallDll), mode,
                           relative ? "." : WinPath(outDir), profile, format},
                          service.WineEnv(), outDir);
    }

    static void ExpectSameFiles(const std::string& a, const std::string& b) {
        const auto names = DirEntries(a);
        EXPECT_EQ(names, DirEntries(b));
        for (const std::string& name : names)
            EXPECT_EQ(ReadBytes(a + name), ReadBytes(b + name)) << name;
    }

    std::string sysDir_;
};

// A two-sided bilevel batch into TIFF files and a gray one into bitmaps,
// each followed by the same batch through the in-memory page: the same
// pages, MICR texts, row counts, results and device error words.
TEST_F(WineDll, BatchesAsTheNativeDriver) {
    Service service(sysDir_, "fast.json");
    ASSERT_FALSE(service.url().empty()) << "the service did not start";
    struct Case {
        std::string profile, format;
        bool cdecl, relative;
        int pages;
    };
    for (const Case& c :
         {Case{"Check", "0", false, false, 20}, Case{"Gray", "1", true, true, 20}}) {
        std::string nativeDir, wineDir = e2e::MakeTempDir("k4tr-wine-out");
        const Ran native = Native(service, "batch", c.profile, c.format, &nativeDir);
        const Ran windows =
            Windows(service, c.cdecl, "batch", c.profile, c.format, wineDir, c.relative);
        SCOPED_TRACE(c.profile + (c.cdecl ? " __cdecl" : " __stdcall"));
        ASSERT_EQ(native.code, 0) << native.out;
        ASSERT_EQ(windows.code, 0) << windows.out;
        EXPECT_EQ(windows.out, native.out);
        EXPECT_NE(native.out.find("init=0\nversion=QXS.1.00.00.71QS.03.04.28\n"),
                  std::string::npos);
        EXPECT_NE(native.out.find("pages=" + std::to_string(c.pages) + "\nlast=-3\n"),
                  std::string::npos)
            << native.out;
        EXPECT_EQ(DirEntries(nativeDir).size(), 2u * c.pages);  // page files and memory pages
        ExpectSameFiles(nativeDir, wineDir);
    }
}

// A jam ends the batch with the driver's device error; a service that goes
// away mid-batch ends it with an unknown device error, and a program that
// finds no service cannot start the driver, the reason in log.txt.
TEST_F(WineDll, JamAndLostService) {
    {
        Service service(sysDir_, "jam_at_document_3.json");
        ASSERT_FALSE(service.url().empty());
        std::string nativeDir, wineDir = e2e::MakeTempDir("k4tr-wine-out");
        const Ran native = Native(service, "file", "Check", "0", &nativeDir);
        const Ran windows = Windows(service, false, "file", "Check", "0", wineDir);
        EXPECT_EQ(windows.out, native.out);
        EXPECT_NE(native.out.find("pages=4\nlast=-100\ndevice_error=0x00000001\n"),
                  std::string::npos)
            << native.out;
        ExpectSameFiles(nativeDir, wineDir);
    }
    Service service(sysDir_, "default.json");  // a cheque every 600 ms
    ASSERT_FALSE(service.url().empty());
    const std::string wineDir = e2e::MakeTempDir("k4tr-wine-out");
    Ran windows;
    std::thread client([&] { windows = Windows(service, true, "file", "Check", "0", wineDir); });
    for (int i = 0; i < 600 && !e2e::Exists(wineDir + "page0000.img"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    service.Kill();
    client.join();
    EXPECT_EQ(windows.code, 0) << windows.out;
    EXPECT_NE(windows.out.find("last=-100\ndevice_error=0x80000000\nend_batch=0\n"),
              std::string::npos)
        << windows.out;

    const Ran gone =
        Windows(service, false, "init", "Check", "0", e2e::MakeTempDir("k4tr-wine-out"));
    EXPECT_NE(gone.out.find("init=-2\n"), std::string::npos) << gone.out;
    const std::string log = ReadText(service.traceDir() + "log.txt");
    EXPECT_NE(log.find("K4TR.dll OrvoScan_Init: the scanning service at 127.0.0.1:"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("does not answer"), std::string::npos) << log;
}

}  // namespace
