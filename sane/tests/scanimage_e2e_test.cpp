// scanimage (Debian's sane-utils) end to end on the virtual scanner, the
// backend loaded through SANE's dll backend as a user's would be: the device
// list, the option list, whole batches compared pixel for pixel with what the
// virtual scanner scanned, a jam mid-batch, an empty feeder, and Ctrl-C while
// a cheque is awaited.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>

#include "orvo/testing/child.h"
#include "sane_fixture.h"

namespace sane_e2e {
namespace {

using namespace std::chrono_literals;

// A page of `height` lines, `width` pixels wide (whole bytes), with a pattern.
std::string Pbm(int height, int width = 256) {
    std::string text = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width / 8; ++x)
            text.push_back(static_cast<char>((x * 7 + y) % 5 ? 0x3C : 0xA5));
    }
    return text;
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class ScanimageTest : public ::testing::Test {
  protected:
    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {ORVO_SCANIMAGE};
        argv.insert(argv.end(), args.begin(), args.end());
        return orvo::testing::StartProgram(argv, world_.dir / "stdout", world_.dir / "stderr", [&] {
            for (const auto& [name, value] : world_.Env()) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            // The instrumented backend in a program that is not (sanitizer builds).
            if (*ORVO_SANE_PRELOAD != '\0') {
                setenv("LD_PRELOAD", ORVO_SANE_PRELOAD, 1);
                setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            }
            if (chdir(world_.out.c_str()) != 0) _exit(126);
        });
    }
    Result Wait(pid_t pid, std::chrono::seconds limit = 120s) {
        Result r;
        const orvo::testing::ChildEnd end = orvo::testing::WaitChild(pid, limit);
        if (end.timedOut) ADD_FAILURE() << "scanimage did not finish in time";
        r.code = end.code;
        r.out = ReadText(world_.dir / "stdout");
        r.err = ReadText(world_.dir / "stderr");
        return r;
    }
    Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

    // The pages of a batch in the output directory, "cheque0001.pnm", ...
    int Pages() const {
        int n = 0;
        while (fs::exists(world_.out / PageName(n + 1))) ++n;
        return n;
    }
    static std::string PageName(int n) {
        char name[32];
        std::snprintf(name, sizeof name, "cheque%04d.pnm", n);
        return name;
    }
    Image Page(int n) const {
        Image image;
        EXPECT_TRUE(ReadPnm(world_.out / PageName(n), &image)) << PageName(n);
        return image;
    }

    World world_;
};

TEST_F(ScanimageTest, ListsTheVirtualScanner) {
    const Result r = Run({"-L"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("device `orvoscan:virtual' is a OrvoData QXS-7100 (QV710) cheque scanner"),
              std::string::npos)
        << r.out;
}

TEST_F(ScanimageTest, ShowsItsOptions) {
    const Result r = Run({"-d", "orvoscan", "-A"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (const char* line :
         {"--profile Check|Gray|Gray16|Wide [Check]", "--source ADF Front|ADF Duplex [ADF Duplex]",
          "--mode Lineart|Gray [Lineart]", "--resolution 100|200|300dpi [200]",
          // 25.4 mm to the inch, steps of one pixel at 200 dpi (eight across).
          "-l 0..211.328mm (in steps of 0.126999) [0]",
          "-t 0..327.152mm (in steps of 0.126999) [0]",
          "-x 8.12799..219.456mm (in steps of 1.01599) [219.456]",
          "-y 8.12799..335.153mm (in steps of 0.126999) [25.273]",
          "--page-width 8.12799..219.456mm (in steps of 0.126999) [219.456]",
          "--page-height 8.12799..335.28mm (in steps of 0.126999) [335.28]",
          "--auto-length[=(yes|no)] [yes]", "--threshold 0..255 (in steps of 1) [128]",
          "--micr <string> [] [read-only]", "--side[=(yes|no)] [no] [read-only]",
          "--df-detect Off|Mode 1|Mode 2 [Mode 1]", "--endorser Off|Mode 1|Mode 2|Mode 3 [Off]",
          "--endorser-val 0..16777215 (in steps of 1) [inactive]",
          "--endorser-string <string> [inactive]"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

TEST_F(ScanimageTest, PassesScanimagesOwnTest) {
    world_.Scenario(FastScenario("[{}, {}, {}, {}]"));
    for (const char* mode : {"Lineart", "Gray"}) {
        const Result r = Run({"-d", "orvoscan", "-T", "--mode", mode, "-y", "20"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.find("FAIL"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("stepped read, 3 bytes... \tPASS"), std::string::npos) << r.err;
    }
}

TEST_F(ScanimageTest, DuplexLineartBatchAsScanned) {
    const std::string settings = ReadText(world_.sys / "OrvoScan.ini");
    const Result r = Run(
        {"-d", "orvoscan", "--batch=cheque%04d.pnm", "--source", "Duplex", "--mode", "Lineart"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Batch terminated, 6 pages scanned"), std::string::npos) << r.err;
    ASSERT_EQ(Pages(), 6);
    for (int n = 1; n <= 6; ++n) {
        ExpectSameAsScanned(Page(n), world_.Record((n - 1) / 2, n % 2 == 1));
    }
    // The options never reach the operator's settings file.
    EXPECT_EQ(ReadText(world_.sys / "OrvoScan.ini"), settings);
}

TEST_F(ScanimageTest, GrayBatchAsScanned) {
    world_.Scenario(FastScenario(R"([{"front": "gray.pgm"}, {}])"));
    // A page of every gray value.
    std::string pgm = "P5\n256 100\n255\n";
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 256; ++x) pgm.push_back(static_cast<char>((x + y) % 256));
    }
    WriteText(world_.dir / "gray.pgm", pgm);
    const Result r = Run({"-d", "orvoscan", "--batch=cheque%04d.pnm", "--source", "Front", "--mode",
                          "Gray", "-x", "130.048", "-y", "12.573", "--auto-length=no"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(Pages(), 2) << r.err;
    for (int n = 1; n <= 2; ++n) {
        const Image page = Page(n);
        EXPECT_EQ(page.width, 1024);
        EXPECT_EQ(page.height, 99);
        ExpectSameAsScanned(page, world_.Record(n - 1, true));
    }
    EXPECT_FALSE(fs::exists(world_.Record(0, false)));
}

TEST_F(ScanimageTest, WholeChequesOfTheirOwnLength) {
    // A profile without a scan length: pages of 150 and 90 lines.
    world_.Settings(TestIni() + "[Whole]\nSide=0\nScanWidth=256\nScanMode1=0\n");
    world_.Scenario(FastScenario(R"([{"front": "long.pbm"}, {"front": "short.pbm"}])"));
    WriteText(world_.dir / "long.pbm", Pbm(150));
    WriteText(world_.dir / "short.pbm", Pbm(90));
    const Result r = Run({"-d", "orvoscan", "--profile", "Whole", "--batch=cheque%04d.pnm"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(Pages(), 2) << r.err;
    EXPECT_EQ(Page(1).height, 149);
    EXPECT_EQ(Page(2).height, 89);
    ExpectSameAsScanned(Page(1), world_.Record(0, true));
    ExpectSameAsScanned(Page(2), world_.Record(1, true));
}

TEST_F(ScanimageTest, EveryChequeToItsOwnLengthWithinTheScanArea) {
    // Cheques of 150 and 90 lines on a profile with a fixed length (Check,
    // 25 mm): the area a frontend sets does not make them longer.
    world_.Scenario(FastScenario(R"([{"front": "long.pbm"}, {"front": "short.pbm"}])"));
    WriteText(world_.dir / "long.pbm", Pbm(150));
    WriteText(world_.dir / "short.pbm", Pbm(90));
    const struct {
        std::vector<std::string> area;
        int left, top;  // pixels and rows left out, at 200 per inch
    } cases[] = {
        {{"-x", "219.456", "-y", "330"}, 0, 0},  // the largest, as simple-scan
        {{"-l", "10", "-t", "5", "-x", "20.5", "-y", "330"}, 79, 39},  // a corner of its own
        {{"-l", "1.125", "-x", "100"}, 9, 0},                          // a corner within a byte
    };
    for (const auto& c : cases) {
        fs::remove_all(world_.out);
        fs::create_directories(world_.out);
        std::vector<std::string> args = {"-d", "orvoscan", "--batch=cheque%04d.pnm", "--source",
                                         "ADF Front"};
        args.insert(args.end(), c.area.begin(), c.area.end());
        const Result r = Run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(Pages(), 2) << r.err;
        EXPECT_EQ(Page(1).height, 149 - c.top);
        EXPECT_EQ(Page(2).height, 89 - c.top);
        ExpectSameAsScanned(Page(1), world_.Record(0, true), false, c.left, c.top);
        ExpectSameAsScanned(Page(2), world_.Record(1, true), false, c.left, c.top);
    }
}

// An inch from the corner of the track, an inch square: as many pixels as
// the resolution says, as frontends and the page files count them.
TEST_F(ScanimageTest, AnInchSquareIsTheResolutionInPixels) {
    world_.Scenario(FastScenario(R"([{"front": "square.pbm"}])"));
    WriteText(world_.dir / "square.pbm", Pbm(700, 704));
    for (const int dpi : {100, 200, 300}) {
        SCOPED_TRACE(dpi);
        fs::remove_all(world_.out);
        fs::create_directories(world_.out);
        const Result r = Run({"-d", "orvoscan", "--batch=cheque%04d.pnm", "--source", "ADF Front",
                              "--resolution", std::to_string(dpi), "--auto-length=no", "-l", "25.4",
                              "-t", "25.4", "-x", "25.4", "-y", "25.4"});
        EXPECT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(Pages(), 1) << r.err;
        EXPECT_EQ(Page(1).width, dpi);
        EXPECT_EQ(Page(1).height, dpi);
        ExpectSameAsScanned(Page(1), world_.Record(0, true), false, dpi, dpi);
    }
}

// Every cheque to its own length, but none longer than the page height:
// longer ones end there, and the log says so.
TEST_F(ScanimageTest, ThePageHeightEndsLongerCheques) {
    world_.Scenario(FastScenario(R"([{"front": "long.pbm"}, {"front": "short.pbm"}])"));
    WriteText(world_.dir / "long.pbm", Pbm(150));
    WriteText(world_.dir / "short.pbm", Pbm(90));
    setenv("SANE_DEBUG_ORVOSCAN", "3", 1);
    const struct {
        std::string pageHeight;
        int longRows, shortRows;
        bool logged;
    } cases[] = {
        {"12.7", 100, 89, true},  // half an inch at 200 dpi
        {"10", 79, 79, true},
        {"335.28", 149, 89, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pageHeight);
        fs::remove_all(world_.out);
        fs::create_directories(world_.out);
        const Result r = Run({"-d", "orvoscan", "--batch=cheque%04d.pnm", "--source", "ADF Front",
                              "--page-height", c.pageHeight});
        EXPECT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(Pages(), 2) << r.err;
        EXPECT_EQ(Page(1).height, c.longRows);
        EXPECT_EQ(Page(2).height, c.shortRows);
        EXPECT_EQ(r.err.find("longer than the page height") != std::string::npos, c.logged)
            << r.err;
    }
    unsetenv("SANE_DEBUG_ORVOSCAN");
}

TEST_F(ScanimageTest, AScannerInUseByAnotherProgramIsBusy) {
    // Both programs' virtual scanners stand for one device node.
    world_.timeScale = "1";
    world_.Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
        "deviceNode": "node", "documents": [{}, {"pauseBeforeMs": 600000}]})");
    WriteText(world_.dir / "node", "");
    const pid_t first = Start({"-d", "orvoscan", "--batch=cheque%04d.pnm"});
    ASSERT_TRUE(world_.AwaitPageCall(3));
    const fs::path firstOut = world_.dir / "first-stderr";
    const Result second = Run({"-d", "orvoscan", "-o", "other.pnm"});
    EXPECT_EQ(second.code, 3) << "SANE_STATUS_DEVICE_BUSY\n" << second.err;
    EXPECT_NE(second.err.find("sane_start: Device busy"), std::string::npos) << second.err;
    // The first program's stack goes on until it is stopped.
    kill(first, SIGINT);
    const Result r = Wait(first, 20s);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(Pages(), 2);
}

TEST_F(ScanimageTest, JamMidBatchKeepsThePagesBeforeIt) {
    world_.Scenario(FastScenario(R"([{}, {}, {"jam": "jam1"}, {}])"));
    const Result r = Run({"-d", "orvoscan", "--batch=cheque%04d.pnm"});
    EXPECT_EQ(r.code, 6) << "SANE_STATUS_JAMMED";
    EXPECT_NE(r.err.find("sane_start: Document feeder jammed"), std::string::npos) << r.err;
    ASSERT_EQ(Pages(), 4) << r.err;
    for (int n = 1; n <= 4; ++n) {
        ExpectSameAsScanned(Page(n), world_.Record((n - 1) / 2, n % 2 == 1));
    }
}

// A profile value orvoscan refuses is refused here too, and settings files
// that are no settings files end scanimage at once with the reason (before,
// a FIFO hung it and a link to /dev/zero aborted it); nothing is fed.
TEST_F(ScanimageTest, SettingsTheScannerCannotTakeEndTheScanAtOnce) {
    setenv("SANE_DEBUG_ORVOSCAN", "1", 1);
    const fs::path ini = world_.sys / "OrvoScan.ini";
    std::string refused = TestIni();
    refused.replace(refused.find("ScanMode1=0", refused.find("[Check]")), 11, "ScanMode1=9");
    const struct {
        std::function<void()> lay;
        std::string says;
    } cases[] = {
        {[&] { world_.Settings(refused); }, "profile \"Check\": ScanMode1=9 is out of range"},
        {[&] { ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0); }, "OrvoScan.ini is not a regular file"},
        {[&] { fs::create_symlink("/dev/zero", ini); }, "OrvoScan.ini is not a regular file"},
        {[&] { world_.Settings(std::string("[Check]\nSide=1\n\0\x01\x02", 18)); },
         "OrvoScan.ini holds a zero byte: a binary file, not settings"},
    };
    for (const auto& c : cases) {
        fs::remove(ini);
        c.lay();
        const Result r = Wait(Start({"-d", "orvoscan", "-o", "one.pnm"}), 30s);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.code, 128 + SIGABRT);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_empty(world_.record)) << c.says;
    }
    // A FIFO as orvoscan.conf is passed over at once: the device is listed.
    ASSERT_TRUE(fs::remove(world_.conf / "orvoscan.conf"));
    ASSERT_EQ(mkfifo((world_.conf / "orvoscan.conf").c_str(), 0600), 0);
    const Result list = Wait(Start({"-L"}), 30s);
    EXPECT_NE(list.out.find("orvoscan:virtual"), std::string::npos) << list.err;
    EXPECT_NE(list.err.find("orvoscan.conf not read: not a regular file"), std::string::npos);
    unsetenv("SANE_DEBUG_ORVOSCAN");
}

TEST_F(ScanimageTest, EmptyFeeder) {
    world_.Scenario(R"({"terminateAtFirstPoll": true})");
    const Result r = Run({"-d", "orvoscan", "--batch=cheque%04d.pnm"});
    EXPECT_NE(r.err.find("sane_start: Document feeder out of documents"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Batch terminated, 0 pages scanned"), std::string::npos) << r.err;
    EXPECT_EQ(Pages(), 0);
    EXPECT_EQ(r.code, 7) << "SANE_STATUS_NO_DOCS: not one page";
    // A single scan says the same, and fails.
    const Result single = Run({"-d", "orvoscan", "-o", "one.pnm"});
    EXPECT_EQ(single.code, 7);
    EXPECT_NE(single.err.find("Document feeder out of documents"), std::string::npos) << single.err;
}

TEST_F(ScanimageTest, CtrlCEndsTheWaitForTheNextCheque) {
    // At the driver's real speed the second cheque would come after ten
    // minutes (the driver's idle end after 25 s): only the stop ends the
    // wait sooner.
    world_.timeScale = "1";
    world_.Scenario(FastScenario(R"([{}, {"pauseBeforeMs": 600000}])"));
    const pid_t pid = Start({"-d", "orvoscan", "--batch=cheque%04d.pnm"});
    // The third page call: front and rear of the first cheque are taken.
    ASSERT_TRUE(world_.AwaitPageCall(3));
    kill(pid, SIGINT);
    const Result r = Wait(pid, 20s);
    // scanimage spells it "canceled".
    EXPECT_NE(r.err.find("sane_start: Operation was cancel"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Batch terminated, 2 pages scanned"), std::string::npos) << r.err;
    // scanimage exits with the status of the call that failed.
    EXPECT_EQ(r.code, 2) << "SANE_STATUS_CANCELLED";
    ASSERT_EQ(Pages(), 2) << r.err;
    ExpectSameAsScanned(Page(1), world_.Record(0, true));
    ExpectSameAsScanned(Page(2), world_.Record(0, false));
}

}  // namespace
}  // namespace sane_e2e
