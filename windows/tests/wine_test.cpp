// K4TR.dll end to end: a Windows client under Wine, through the scanning
// service, against the same client on the native driver, both on the
// virtual scanner. One Wine prefix for the whole program.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
    std::string wine, loader, server;
    std::string stdcallClient, cdeclClient;
    std::string stdcallDll, cdeclDll;
    Env env;
    std::string why;  // empty when Wine runs
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
    const std::string build = ORVO_WINDOWS_BUILD_DIR "/", sys = ORVO_BUILD_SYSTEM_DIR "/windows/";
    const Env env = {{"WINEPREFIX", e2e::MakeTempDir("k4tr-wine")},
                     {"WINEDEBUG", "-all"},
                     {"WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe="}};
    const std::string win64 = build + "win64/";
    const std::vector<WineSetup> candidates = {
        {"/usr/lib/wine/wine", "", "/usr/bin/wineserver", build + "win32/k4tr_client.exe",
         build + "win32/cdecl/k4tr_client.exe", sys + "K4TR.dll", sys + "cdecl/K4TR.dll", env, ""},
        {"/usr/lib/wine/wine64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64",
         win64 + "k4tr_client.exe", win64 + "k4tr_client.exe", win64 + "K4TR.dll",
         win64 + "K4TR.dll", env, ""},
    };
    std::string tried;
    for (WineSetup c : candidates) {
        if (access(c.wine.c_str(), X_OK) != 0 || !e2e::Exists(c.stdcallClient)) {
            tried += " " + c.wine + " (not installed or no client built);";
            continue;
        }
        if (!c.loader.empty()) c.env["WINELOADER"] = c.loader;
        // The first start makes the prefix; the server then stays for the
        // whole program (and 30 s after its last client, should the program end
        // without stopping it).
        const Ran usage =
            RunProgram({c.wine, c.stdcallClient}, c.env, {}, std::chrono::seconds(120));
        if (usage.code == 2) {
            RunProgram({c.server, "-p30"}, c.env);
            g_wine = c;
            return;
        }
        tried += " " + c.wine + " exited with " + std::to_string(usage.code) + ";";
    }
    g_wine.why = "Wine cannot start here:" + tried;
}

// The scanning service of one test: a private runtime directory (token),
// system directory and scenario of the virtual scanner.
struct Service {
    Service(const std::string& sysDir, const std::string& scenario) {
        for (const char* d : {"run", "home", "tmp"}) mkdir((root + d).c_str(), 0700);
        env = {{"XDG_RUNTIME_DIR", root + "run"},
               {"HOME", root + "home"},
               {"TMPDIR", root + "tmp"},
               {"ORVOSCAN_SYSTEM_DIR", sysDir},
               {"ORVOSCAN_TRACE_DIR", root + "tmp"},
               {"ORVOSCAN_ASPI", "sim"},
               {"ORVOSCAN_SIM_SCENARIO", kScenarios + scenario},
               // No display: a dialog fails to open rather than wait for an
               // operator.
               {"QT_QPA_PLATFORM", "xcb"},
               {"DISPLAY", ""}};
        pid = orvo::testing::StartProgram({ORVO_SERVICE, "--listen", "127.0.0.1:0",
                                           "--no-system-config", "--config", root + "none.conf"},
                                          root + "service.out", root + "service.err", [this] {
                                              for (const auto& [k, v] : env)
                                                  setenv(k.c_str(), v.c_str(), 1);
                                          });
        const std::regex listening(R"(listening on (http://127\.0\.0\.1:[0-9]+)/)");
        for (int i = 0; i < 200 && url.empty(); ++i) {
            std::smatch m;
            const std::string text = ReadText(root + "service.out");
            if (std::regex_search(text, m, listening)) url = m[1];
            std::this_thread::sleep_for(std::chrono::milliseconds(url.empty() ? 50 : 0));
        }
    }
    ~Service() { Kill(); }
    void Kill() {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            orvo::testing::WaitChild(pid, std::chrono::seconds(10));
        pid = -1;
    }
    // The environment of a program of the same user: the native client
    // shares it, the Windows client adds Wine's and the service's address.
    Env WineEnv() const {
        Env e = env;
        for (const auto& [k, v] : g_wine.env) e[k] = v;
        // Wine's processes keep the environment their server started with:
        // Wine 10 aborts a program whose TMPDIR differs from its server's.
        e.erase("TMPDIR");
        e["ORVOSCAN_SERVICE"] = url;
        return e;
    }

    const std::string root = e2e::MakeTempDir("k4tr-svc");
    std::string url;
    Env env;
    pid_t pid = -1;
};

std::string SettingsIni() {
    const auto keys = [](int mode) {
        return "Side=1\nScanWidth=1728\nResolution=0\nScanMode1=" + std::to_string(mode) +
               "\nCompressMode=0\nBWSlice1=128\nScanLines1=800\n";
    };
    return "[Default]\n" + keys(0) + "[Check]\n" + keys(0) + "[Gray]\n" + keys(4) +
           "[Misc]\nMicrDetect=1\nImageFileFormat=0\nGrayTifCompress=1\n";
}

class WineDll : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { SetUpWine(); }
    static void TearDownTestSuite() {
        if (g_wine.why.empty()) RunProgram({g_wine.server, "-k"}, g_wine.env);
    }
    void SetUp() override {
        if (!g_wine.why.empty()) GTEST_SKIP() << g_wine.why;
        sysDir_ = e2e::LaySystemDir(SettingsIni());
        // The dialogs' libraries, where the build has them (Qt).
        for (const char* dialogs : {"libK4TRRsrc.so", "libK4TRQa.so"}) {
            const std::string built = ORVO_BUILD_SYSTEM_DIR "/" + std::string(dialogs);
            if (e2e::Exists(built)) {
                ASSERT_EQ(symlink(built.c_str(), (sysDir_ + dialogs).c_str()), 0);
            }
        }
    }

    // A client's run of `mode` with `profile` and `format`, its pages in
    // `outDir`, which the Windows client names `where`.
    enum class Kind { kNative, kStdcall, kCdecl };
    enum class Where {
        kDrive,     // Z:\...
        kRelative,  // ".", its working directory
        kUnc,       // \\localhost\SHARE, the share a link in the prefix
        kNowhere,   // a directory that does not exist (for both clients)
    };
    static Ran Client(const Service& service, Kind kind, const std::string& mode,
                      const std::string& outDir, const std::string& profile = "Check",
                      const std::string& format = "0", Where where = Where::kDrive) {
        const std::string dir = where == Where::kNowhere ? outDir + "missing" : outDir;
        if (kind == Kind::kNative)
            return RunProgram({ORVO_NATIVE_CLIENT, ORVO_BUILD_SYSTEM_DIR "/libK4TR.so", mode, dir,
                               profile, format},
                              service.env);
        std::string named = where == Where::kRelative ? "." : WinPath(dir);
        if (where == Where::kUnc) {
            // Wine finds \\SERVER\SHARE under dosdevices/unc/SERVER/SHARE.
            const std::string share = "share" + std::to_string(++shares_);
            const std::string hosts = g_wine.env.at("WINEPREFIX") + "dosdevices/unc/localhost/";
            std::filesystem::create_directories(hosts);
            EXPECT_EQ(symlink(outDir.c_str(), (hosts + share).c_str()), 0) << hosts + share;
            named = "\\\\localhost\\" + share;
        }
        const bool cdecl = kind == Kind::kCdecl;
        return RunProgram(
            {g_wine.wine, cdecl ? g_wine.cdeclClient : g_wine.stdcallClient,
             WinPath(cdecl ? g_wine.cdeclDll : g_wine.stdcallDll), mode, named, profile, format},
            service.WineEnv(), outDir);
    }

    static inline int shares_ = 0;
    std::string sysDir_;
};

// A two-sided bilevel batch into TIFF files and a gray one into bitmaps,
// each followed by the same batch through the in-memory page, a batch that a
// jam ends with the driver's device error, and the two dialogs where there is
// no display: the same pages, MICR texts, row counts, results and device
// error words.
TEST_F(WineDll, BatchesAsTheNativeDriver) {
    struct Case {
        const char* scenario;
        const char* mode;
        std::string profile, format;
        Kind kind;
        Where where;
        std::vector<std::string> expected;  // parts of the clients' output
        std::size_t files;                  // page files and memory pages (0: unchecked)
    };
    const std::string batch = "init=0\nversion=QXS.1.00.00.71QS.03.04.28\n";
    const std::string all = "pages=20\nlast=-3\n",
                      jam = "pages=4\nlast=-100\ndevice_error=0x00000001\n";
    using enum Kind;
    using enum Where;
    const Case cases[] = {
        {"fast.json", "batch", "Check", "0", kStdcall, kDrive, {batch, all}, 40},
        {"fast.json", "batch", "Gray", "1", kCdecl, kRelative, {batch, all}, 40},
        {"fast.json", "file", "Check", "0", kStdcall, kUnc, {all}, 20},
        // A page file that cannot be written: reported, no rows, the batch goes on.
        {"fast.json", "file", "Check", "0", kCdecl, kNowhere, {"page0019=-12 rows 0\n"}, 0},
        {"jam_at_document_3.json", "file", "Check", "0", kStdcall, kDrive, {jam}, 0},
        {"fast.json", "setup", "Check", "0", kStdcall, kDrive, {"setup=-9\nsetup_qa=-11\n"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile + " " + c.scenario + (c.kind == kCdecl ? " __cdecl" : ""));
        Service service(sysDir_, c.scenario);
        ASSERT_FALSE(service.url.empty()) << "the service did not start";
        const std::string nativeDir = e2e::MakeTempDir("k4tr-native");
        const std::string wineDir = e2e::MakeTempDir("k4tr-wine-out");
        const Ran native =
            Client(service, kNative, c.mode, nativeDir, c.profile, c.format, c.where);
        const Ran windows = Client(service, c.kind, c.mode, wineDir, c.profile, c.format, c.where);
        ASSERT_EQ(native.code, 0) << native.out;
        ASSERT_EQ(windows.code, 0) << windows.out;
        EXPECT_EQ(windows.out, native.out);
        for (const std::string& part : c.expected)
            EXPECT_NE(native.out.find(part), std::string::npos) << native.out;
        const auto names = DirEntries(nativeDir);
        EXPECT_TRUE(c.files == 0 || names.size() == c.files) << names.size();
        EXPECT_EQ(names, DirEntries(wineDir));
        for (const std::string& name : names)
            EXPECT_EQ(ReadBytes(nativeDir + name), ReadBytes(wineDir + name)) << name;
        if (std::string(c.mode) == "setup") {
            // Both programs' dialogs were tried by the driver (the Windows
            // one's in the service), which says why they could not open.
            const std::string log = ReadText(service.root + "tmp/log.txt");
            for (const std::string dialog : {"Setup: ", "Setup_Qa: "}) {
                const auto first = log.find(dialog);
                EXPECT_TRUE(first != std::string::npos && first != log.rfind(dialog)) << log;
            }
        }
    }
}

// A service that goes away mid-batch ends it with an unknown device error,
// and a program that finds no service cannot start the driver, the reason
// in log.txt.
TEST_F(WineDll, LostService) {
    Service service(sysDir_, "default.json");  // a cheque every 600 ms
    ASSERT_FALSE(service.url.empty());
    const std::string wineDir = e2e::MakeTempDir("k4tr-wine-out");
    Ran windows;
    std::thread client([&] { windows = Client(service, Kind::kCdecl, "file", wineDir); });
    for (int i = 0; i < 600 && !e2e::Exists(wineDir + "page0000.img"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    service.Kill();
    client.join();
    EXPECT_EQ(windows.code, 0) << windows.out;
    EXPECT_NE(windows.out.find("last=-100\ndevice_error=0x80000000\nend_batch=0\n"),
              std::string::npos)
        << windows.out;

    const Ran gone = Client(service, Kind::kStdcall, "init", e2e::MakeTempDir("k4tr-wine-out"));
    EXPECT_NE(gone.out.find("init=-2\n"), std::string::npos) << gone.out;
    const std::string log = ReadText(service.root + "tmp/log.txt");
    EXPECT_NE(log.find("K4TR.dll OrvoScan_Init: the scanning service at 127.0.0.1:"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("does not answer"), std::string::npos) << log;
}

}  // namespace
