// The scan run over a stand-in driver: naming, micr.txt, exit codes,
// interruption and output failures, without a scanner.
#include "scan_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exit_codes.h"

namespace orvoscan {
namespace {

namespace fs = std::filesystem;

// What the stand-in driver delivers: one entry per page, then `endResult`.
struct FakePage {
    std::string micr;  // the driver's text with CR LF
    int micrSize = 0;
    bool writeFile = true;
};

struct Fake {
    std::vector<FakePage> pages;
    int startResult = 0;
    int endResult = -3;
    uint32_t deviceError = 0;
    int stopAfterCall = -1;  // sets the stop flag when this call returns
    // Observed.
    std::vector<std::string> requested;
    int imageFormat = -1;
    int endBatchCalls = 0;
    std::size_t next = 0;
    char micrArea[50] = {};
    int micrSize = 0;
};

Fake* g_fake = nullptr;
volatile std::sig_atomic_t g_stop = 0;

int FakeInit() {
    return 0;
}
int FakeEnd() {
    return 0;
}
const char* FakeVersion() {
    return "fake";
}
int FakeImageFormat(int f) {
    g_fake->imageFormat = f;
    return 1;
}
uint32_t FakeDeviceError() {
    return g_fake->deviceError;
}
int FakeStartBatch(const char*) {
    return g_fake->startResult;
}
int FakeEndBatch() {
    ++g_fake->endBatchCalls;
    return 0;
}
int FakeGetOneImage(const char* path, int* height) {
    *height = 0;
    g_fake->requested.push_back(path);
    if (g_fake->next >= g_fake->pages.size()) return g_fake->endResult;
    const FakePage& page = g_fake->pages[g_fake->next++];
    if (page.writeFile) std::ofstream(path) << "image";
    std::snprintf(g_fake->micrArea, sizeof g_fake->micrArea, "%s", page.micr.c_str());
    g_fake->micrSize = page.micrSize;
    if (static_cast<int>(g_fake->requested.size()) == g_fake->stopAfterCall) g_stop = 1;
    *height = 99;
    return 0;
}
char* FakeMicrBuf() {
    return g_fake->micrArea;
}
int FakeMicrSize() {
    return g_fake->micrSize;
}

DriverApi FakeApi() {
    DriverApi api;
    api.init = FakeInit;
    api.end = FakeEnd;
    api.version = FakeVersion;
    api.imageFormat = FakeImageFormat;
    api.getDeviceError = FakeDeviceError;
    api.startBatch = FakeStartBatch;
    api.endBatch = FakeEndBatch;
    api.getOneImage = FakeGetOneImage;
    api.micrDataBufPtr = FakeMicrBuf;
    api.micrDataSize = FakeMicrSize;
    return api;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ScanRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/orvoscan-run-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        g_fake = &fake_;
        g_stop = 0;
        WriteSettings(1, 1);
        options_.profile = "Check";
        options_.output = (dir_ / "A.tif").string();
        options_.settingsFile = (dir_ / "OrvoScan.ini").string();
    }
    void TearDown() override {
        g_fake = nullptr;
        fs::remove_all(dir_);
    }
    void WriteSettings(int side, int micr) {
        std::ofstream(dir_ / "OrvoScan.ini")
            << "[Check]\nSide=" << side << "\n[Misc]\nMicrDetect=" << micr << "\n";
    }
    // Two-sided cheques: front with MICR, rear without.
    void AddCheques(const std::vector<std::string>& micrs) {
        for (const std::string& m : micrs) {
            fake_.pages.push_back({m + "\r\n", static_cast<int>(m.size()), true});
            fake_.pages.push_back({"", 0, true});
        }
    }
    int Run(bool json = false) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        Console console(out, err, json, false);
        const int code = RunScan(FakeApi(), options_, console, &g_stop);
        out_ = Slurp(out);
        err_ = Slurp(err);
        return code;
    }
    static std::string Slurp(std::FILE* f) {
        std::string text;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
        std::fclose(f);
        return text;
    }

    fs::path dir_;
    Fake fake_;
    ScanOptions options_;
    std::string out_;
    std::string err_;
};

TEST_F(ScanRunTest, TwoSidedBatchNamesPagesAndRecordsMicr) {
    options_.start = 3;
    AddCheques({"T021000021T 12", "T0210?0021T 13"});
    EXPECT_EQ(Run(), kExitDone) << err_;
    EXPECT_EQ(fake_.imageFormat, 0);
    const std::string d = dir_.string();
    EXPECT_EQ(fake_.requested, (std::vector<std::string>{d + "/A000003F.tif", d + "/A000003R.tif",
                                                         d + "/A000004F.tif", d + "/A000004R.tif",
                                                         d + "/A000005F.tif"}));
    EXPECT_EQ(ReadAll(dir_ / "micr.txt"), "00000030T021000021T 12\r\n00000041T0210?0021T 13\r\n");
    EXPECT_NE(out_.find("MICR OK :\t1\nMICR ERR :\t1\nOK rate : \t50.00%"), std::string::npos);
    EXPECT_NE(out_.find("Next start number: 5"), std::string::npos);
    EXPECT_EQ(fake_.endBatchCalls, 1);
    EXPECT_TRUE(err_.empty()) << err_;
}

TEST_F(ScanRunTest, OneSidedWithoutMicrAndJsonLines) {
    WriteSettings(0, 0);
    options_.output = (dir_ / "B.bmp").string();
    fake_.pages = {{"X\r\n", 1, true}, {"Y\r\n", 1, true}};
    EXPECT_EQ(Run(true), kExitDone);
    EXPECT_EQ(fake_.imageFormat, 1);
    EXPECT_EQ(fake_.requested.size(), 3u);
    EXPECT_EQ(fake_.requested[1], dir_.string() + "/B000002F.bmp");
    EXPECT_FALSE(fs::exists(dir_ / "micr.txt"));
    // Every stdout line is a JSON object; the last one ends the run.
    std::istringstream lines(out_);
    std::string line, last;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_TRUE(nlohmann::json::accept(line)) << line;
        last = line;
        ++count;
    }
    EXPECT_EQ(count, 4);  // start, two pages, end
    const auto end = nlohmann::json::parse(last);
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(end["nextStart"], 3);
    EXPECT_EQ(end["exitCode"], 0);
}

TEST_F(ScanRunTest, OtherExtensionsKeepTheDriversFormatUnlessAsked) {
    options_.output = (dir_ / "C.TIF").string();
    EXPECT_EQ(Run(), kExitDone);
    EXPECT_EQ(fake_.imageFormat, -1);
    options_.format = 2;
    EXPECT_EQ(Run(), kExitDone);
    EXPECT_EQ(fake_.imageFormat, 2);
}

TEST_F(ScanRunTest, DeviceErrorEndsWithTheDriversMessage) {
    AddCheques({"T1"});
    fake_.endResult = -100;
    fake_.deviceError = 0x81;
    EXPECT_EQ(Run(), kExitDevice);
    EXPECT_NE(err_.find("Error occurred!! Check the scanner..\n\n  Scanner device error..\n  "
                        "-JAM1 error.."),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("No document"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir_ / "A000001R.tif"));
    EXPECT_EQ(ReadAll(dir_ / "micr.txt"), "00000010T1\r\n");
    EXPECT_EQ(fake_.endBatchCalls, 1);
}

TEST_F(ScanRunTest, BatchEndingAfterAFrontPageContinuesWithThatDocument) {
    fake_.pages = {{"T1\r\n", 2, true}, {"", 0, true}, {"T2\r\n", 2, true}};
    EXPECT_EQ(Run(), kExitDone);
    EXPECT_NE(out_.find("Next start number: 2"), std::string::npos) << out_;
}

TEST_F(ScanRunTest, StartBatchFailuresMapToExitCodes) {
    fake_.startResult = -10;
    EXPECT_EQ(Run(), kExitSettings);
    EXPECT_NE(err_.find("Illegal endorser format error.."), std::string::npos);
    EXPECT_TRUE(fake_.requested.empty());
    EXPECT_EQ(fake_.endBatchCalls, 0);
    fake_.startResult = -2;
    EXPECT_EQ(Run(), kExitNoScanner);
}

TEST_F(ScanRunTest, InterruptionEndsAfterTheChequeInProgress) {
    AddCheques({"T1", "T2", "T3"});
    fake_.stopAfterCall = 1;  // the signal arrives while the first front is taken
    EXPECT_EQ(Run(), kExitInterrupted);
    // The rear of that cheque is still taken, then the batch is ended.
    EXPECT_EQ(fake_.requested.size(), 2u);
    EXPECT_EQ(fake_.endBatchCalls, 1);
    EXPECT_EQ(ReadAll(dir_ / "micr.txt"), "00000010T1\r\n");
    EXPECT_NE(out_.find("Next start number: 2"), std::string::npos);
}

TEST_F(ScanRunTest, UnwritableMicrFileStopsTheBatchAndKeepsThePages) {
    fs::create_directory(dir_ / "micr.txt");  // cannot be opened for appending
    AddCheques({"T1", "T2"});
    EXPECT_EQ(Run(), kExitOutput);
    EXPECT_EQ(fake_.requested.size(), 1u);
    EXPECT_TRUE(fs::exists(dir_ / "A000001F.tif"));
    EXPECT_NE(err_.find("micr.txt"), std::string::npos);
    EXPECT_EQ(fake_.endBatchCalls, 1);
}

TEST_F(ScanRunTest, PageWithoutImageFileIsReported) {
    AddCheques({"T1"});
    fake_.pages[1].writeFile = false;
    EXPECT_EQ(Run(), kExitOutput);
    EXPECT_NE(err_.find("A000001R: no image file was written"), std::string::npos);
    EXPECT_EQ(fake_.requested.size(), 3u);  // the batch went on
}

TEST(ExitCodes, DriverResults) {
    EXPECT_EQ(ExitForInit(0), kExitDone);
    EXPECT_EQ(ExitForInit(-1), kExitNoScanner);
    EXPECT_EQ(ExitForInit(-7), kExitNoScanner);
    EXPECT_EQ(ExitForBatchEnd(-3), kExitDone);
    EXPECT_EQ(ExitForBatchEnd(-100), kExitDevice);
    EXPECT_EQ(ExitForBatchEnd(-42), kExitFailure);
}

}  // namespace
}  // namespace orvoscan
