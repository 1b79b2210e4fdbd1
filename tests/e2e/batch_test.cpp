// Batches on the virtual scanner through the exported C interface: page files
// against the device's side data, faults, bounds and the end of a batch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

std::string TempDir() {
    return e2e::PageDir();
}

// The driver removes a batch's files when the batch ends: RunBatchOnce keeps
// a copy of what the page directory held just before, here.
std::string SeenDir() {
    static const std::string dir = e2e::MakeTempDir("orvo-batch-seen");
    return dir;
}

void KeepBatchFiles() {
    namespace fs = std::filesystem;
    for (const auto& e : fs::directory_iterator(SeenDir())) fs::remove(e.path());
    for (const auto& e : fs::directory_iterator(TempDir())) {
        if (e.is_regular_file() && !e.is_symlink()) {
            fs::copy_file(e.path(), SeenDir() + e.path().filename().string());
        }
    }
}

std::string PageFile(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "_tmp%04d.dat", n);
    return SeenDir() + name;
}

std::string DumpFile(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "_err%04d.dat", n);
    return SeenDir() + name;
}

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string tmp = e2e::MakeTempDir("orvo-batch-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(3));
        ASSERT_EQ(OrvoScan_Init(), 0);
        // Raw output: the tests look at the page files themselves.
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

struct BatchRun {
    int start = 0;
    int pages = 0;  // pages taken
    int last = 0;   // the result that ended the batch
    uint32_t deviceError = 0;
};

// Runs a whole batch, taking every page, with a bound on the pages.
BatchRun RunBatchOnce(const char* profile, int maxPages) {
    BatchRun run;
    run.start = OrvoScan_StartBatch(profile);
    if (run.start != 0) return run;
    const std::string out = e2e::SystemDir() + "page.raw";
    for (int i = 0; i < maxPages; ++i) {
        int height = 0;
        const int r = OrvoScan_GetOneImage(out.c_str(), &height);
        if (r != 0) {
            run.last = r;
            break;
        }
        ++run.pages;
    }
    run.deviceError = OrvoScan_GetDeviceError();
    KeepBatchFiles();
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    return run;
}

// What the batch left in the page directory: page files and dumps.
std::map<std::string, std::vector<uint8_t>> BatchFiles() {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string& name : orvo::testing::DirEntries(SeenDir())) {
        files[name] = e2e::ReadBytes(SeenDir() + name);
    }
    return files;
}

// RunBatchOnce over the backend of this run. Over the sg backend the batch
// runs over the virtual scanner's own backend first: the device must receive
// the very same requests through SG_IO, and the driver must make the same
// page files and end with the same result and device error.
BatchRun RunBatch(const char* profile = "Check", int maxPages = 200) {
    if (!e2e::OverSg()) return RunBatchOnce(profile, maxPages);
    const orvo::sim::Scenario scenario = TheScanner().scenario();
    e2e::SwitchAspi("sim");
    const BatchRun sim = RunBatchOnce(profile, maxPages);
    const std::vector<std::string> requests = e2e::Requests(TheScanner().CommandLog());
    const auto files = BatchFiles();
    e2e::SwitchAspi("sg");
    TheScanner().SetScenario(scenario);
    const BatchRun run = RunBatchOnce(profile, maxPages);
    EXPECT_EQ(e2e::Requests(TheScanner().CommandLog()), requests);
    EXPECT_TRUE(BatchFiles() == files);
    EXPECT_EQ(run.start, sim.start);
    EXPECT_EQ(run.pages, sim.pages);
    EXPECT_EQ(run.last, sim.last);
    EXPECT_EQ(run.deviceError, sim.deviceError);
    return run;
}

// What the device sent for document `index` of the current scenario, under
// the window it received last.
orvo::sim::DocumentData DeviceDocument(int index) {
    const orvo::sim::Scenario scenario = TheScanner().scenario();
    const orvo::sim::WindowSettings window = TheScanner().Windows().back();
    const orvo::sim::Document& doc = scenario.documents.at(index);
    auto page = [](const orvo::sim::PageSource& src, bool front) {
        return src.image ? *src.image : orvo::sim::SyntheticCheque(src.syntheticSeed, front);
    };
    orvo::sim::SideOptions front, rear;
    front.micr = rear.micr = doc.micr;
    const orvo::sim::Image frontImage = page(doc.front, true);
    const orvo::sim::Image rearImage = page(doc.rear, false);
    return orvo::sim::BuildDocument(frontImage, front, &rearImage, rear, window);
}

// The bytes of one side as a page file holds them: through the RTC for
// coded bilevel data, whole blocks otherwise.
std::vector<uint8_t> ExpectedSide(const orvo::sim::DocumentData& doc, bool front, bool mh) {
    const std::size_t start = front ? 0 : doc.frontBlocks * orvo::sim::kBlockSize;
    const std::size_t blocks = front ? doc.frontBlocks : doc.rearBlocks;
    std::vector<uint8_t> side(
        doc.bytes.begin() + static_cast<long>(start),
        doc.bytes.begin() + static_cast<long>(start + blocks * orvo::sim::kBlockSize));
    if (mh) {
        // The side ends at the byte holding the RTC's last bit.
        std::size_t end = side.size();
        while (end > 0 && side[end - 1] == 0) --end;
        side.resize(end);
    }
    return side;
}

void UseProfile(int side, int mode, int compress, int lines = 400) {
    e2e::WriteSettings(e2e::ChequeIni("Check", side, mode, compress, 1728, lines));
}

struct ModeCase {
    int side, mode, compress;
};

class BatchModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(BatchModes, PageFilesHoldWhatTheScannerSent) {
    const ModeCase c = GetParam();
    UseProfile(c.side, c.mode, c.compress);
    TheScanner().SetScenario(e2e::FastScenario(3));
    const BatchRun run = RunBatch();
    ASSERT_EQ(run.start, 0);
    const int perDoc = c.side == 0 ? 1 : 2;
    EXPECT_EQ(run.pages, 3 * perDoc);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    EXPECT_EQ(run.deviceError, 0u);
    const bool mh = c.mode <= 2 && c.compress == 0;
    for (int d = 0; d < 3; ++d) {
        const orvo::sim::DocumentData doc = DeviceDocument(d);
        const std::vector<uint8_t> front = e2e::ReadBytes(PageFile(d * perDoc));
        EXPECT_EQ(front, ExpectedSide(doc, true, mh)) << "front of document " << d;
        ASSERT_GE(front.size(), 64u);
        EXPECT_EQ(front[0], 0x55);
        if (perDoc == 2) {
            const std::vector<uint8_t> rear = e2e::ReadBytes(PageFile(d * 2 + 1));
            EXPECT_EQ(rear, ExpectedSide(doc, false, mh)) << "rear of document " << d;
            ASSERT_GE(rear.size(), 64u);
            EXPECT_EQ(rear[0], 0xAA);
        }
        if (!mh) {
            EXPECT_EQ(front.size() % 32768, 0u);
        }
    }
    EXPECT_FALSE(e2e::Exists(PageFile(3 * perDoc)));
}

INSTANTIATE_TEST_SUITE_P(AllModes, BatchModes,
                         ::testing::Values(ModeCase{0, 0, 0}, ModeCase{1, 0, 0}, ModeCase{1, 1, 0},
                                           ModeCase{1, 2, 0}, ModeCase{1, 3, 0}, ModeCase{1, 4, 0},
                                           ModeCase{0, 0, 1}, ModeCase{1, 0, 1}, ModeCase{1, 3, 1},
                                           ModeCase{1, 4, 1}, ModeCase{0, 4, 0}),
                         [](const auto& info) {
                             return "side" + std::to_string(info.param.side) + "_mode" +
                                    std::to_string(info.param.mode) + "_compress" +
                                    std::to_string(info.param.compress);
                         });

orvo::sim::Scenario WithJam(int documents, int at, const char* error) {
    orvo::sim::Scenario s = e2e::FastScenario(documents);
    s.documents[at].jam = true;
    EXPECT_TRUE(orvo::sim::SenseByName(error, &s.documents[at].jamSense));
    return s;
}

TEST(BatchFaults, DeviceErrorsAfterTheCompletedPages) {
    UseProfile(1, 0, 0);
    struct Case {
        const char* error;
        uint32_t word;
    };
    for (const Case c : {Case{"jam1", 0x1u}, Case{"doubleFeed", 0x40u}, Case{"coverOpen", 0x100u},
                         Case{"micrError", 0x200u}, Case{"none", 0x80000000u}}) {
        TheScanner().SetScenario(WithJam(4, 2, c.error));
        const BatchRun run = RunBatch();
        EXPECT_EQ(run.pages, 4) << c.error;  // both sides of the two cheques before the jam
        EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE) << c.error;
        EXPECT_EQ(run.deviceError, c.word) << c.error;
    }
}

orvo::sim::Scenario WithFault(int documents, uint8_t opcode, orvo::sim::FaultAction action,
                              int occurrence = 1, int count = 1) {
    orvo::sim::Scenario s = e2e::FastScenario(documents);
    orvo::sim::CommandFault f;
    f.opcode = opcode;
    f.action = action;
    f.occurrence = occurrence;
    f.count = count;
    s.commandFaults.push_back(f);
    return s;
}

TEST(BatchFaults, RequestsThatFailOrNeverFinish) {
    using orvo::sim::FaultAction;
    namespace op = orvo::sim::op;
    UseProfile(1, 0, 0);
    // Selection time-out of SCAN counts as an unknown device error.
    TheScanner().SetScenario(WithFault(2, op::kScan, FaultAction::SelectionTimeout));
    BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 0);
    EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(run.deviceError, 0x80000000u);

    // A READ BUFFER that never finishes, in the second document.
    TheScanner().SetScenario(WithFault(3, op::kReadBuffer, FaultAction::NoCompletion, 3));
    const auto t0 = std::chrono::steady_clock::now();
    run = RunBatch();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
    EXPECT_EQ(run.pages, 2);
    EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(run.deviceError, 0x80000000u);

    // Requests answered without completing cleanly are repeated.
    TheScanner().SetScenario(WithFault(2, op::kTestUnitReady, FaultAction::NotClean, 1, 5));
    run = RunBatch();
    EXPECT_EQ(run.pages, 4);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    TheScanner().SetScenario(WithFault(2, op::kReadBuffer, FaultAction::NotClean, 2, 3));
    run = RunBatch();
    EXPECT_EQ(run.pages, 4);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    TheScanner().SetScenario(WithFault(2, op::kGetDataBufferStatus, FaultAction::NotClean, 1, 4));
    run = RunBatch();
    EXPECT_EQ(run.pages, 4);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);

    // A scanner that never stops answering TEST UNIT READY uncleanly is
    // reported instead of waited for forever.
    TheScanner().SetScenario(
        WithFault(2, op::kTestUnitReady, FaultAction::NotClean, 1, 1000000000));
    run = RunBatch();
    EXPECT_EQ(run.pages, 0);
    EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(run.deviceError, 0x80000000u);
}

TEST(BatchSides, WrongMarkersAreReadAgain) {
    UseProfile(1, 0, 0);
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[0].frontFaults.wrongMarkers = orvo::sim::Repeat::Once;
    s.documents[1].rearFaults.wrongMarkers = orvo::sim::Repeat::Once;
    TheScanner().SetScenario(s);
    BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 4);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    const std::vector<uint8_t> dump0 = e2e::ReadBytes(DumpFile(0));
    ASSERT_GT(dump0.size(), 2u);
    EXPECT_EQ(dump0[0], 0x55);
    EXPECT_EQ(dump0[1], 0xAA);
    const std::vector<uint8_t> dump2 = e2e::ReadBytes(DumpFile(2));  // rear uses the front's number
    ASSERT_GT(dump2.size(), 2u);
    EXPECT_EQ(dump2[0], 0xAA);
    EXPECT_EQ(dump2[1], 0x55);
    EXPECT_EQ(e2e::ReadBytes(PageFile(0)), ExpectedSide(DeviceDocument(0), true, true));
    EXPECT_EQ(e2e::ReadBytes(PageFile(3)), ExpectedSide(DeviceDocument(1), false, true));

    // A side that never passes ends the batch after a few tries.
    s.documents[1].frontFaults.wrongMarkers = orvo::sim::Repeat::Always;
    TheScanner().SetScenario(s);
    run = RunBatch();
    EXPECT_EQ(run.pages, 2);
    EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(run.deviceError, 0x80000000u);
}

TEST(BatchSides, CodedSideWithoutRtcLeavesAnEmptyDump) {
    UseProfile(0, 0, 0);
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].frontFaults.noRtc = orvo::sim::Repeat::Once;
    TheScanner().SetScenario(s);
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 1);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    ASSERT_TRUE(e2e::Exists(DumpFile(0)));
    EXPECT_EQ(e2e::ReadBytes(DumpFile(0)).size(), 0u);
}

TEST(BatchSides, BlockCountsZeroAndOne) {
    UseProfile(1, 0, 0);
    for (int claim : {0, 1}) {
        orvo::sim::Scenario s = e2e::FastScenario(1);
        s.documents[0].frontFaults.claimBlocks = claim;
        TheScanner().SetScenario(s);
        const BatchRun run = RunBatch();
        EXPECT_EQ(run.pages, 2) << claim;
        EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE) << claim;
    }
}

TEST(BatchSides, MoreBlocksThanTheBufferHoldsEndTheBatch) {
    UseProfile(0, 0, 1, 100);  // uncompressed bilevel, 100 lines: a small buffer
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[1].frontFaults.claimBlocks = 500;
    TheScanner().SetScenario(s);
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 1);
    EXPECT_EQ(run.last, ORVOSCAN_ERR_DEVICE);
    EXPECT_EQ(run.deviceError, 0x80000000u);
}

TEST(BatchSides, BlockCapCompletesTheSide) {
    // 8-bit gray, uncompressed, 1700 lines two-sided: ScanBuf holds 1024 blocks.
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 4, 1, 1728, 1700));
    orvo::sim::Scenario s = e2e::FastScenario(1);
    s.documents[0].frontFaults.claimBlocks = 2000;
    TheScanner().SetScenario(s);
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 2);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    struct stat st;
    ASSERT_EQ(stat(PageFile(0).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1024L * 32768);
    ASSERT_EQ(stat(PageFile(1).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 32768);
}

TEST(BatchEnd, IdleTimeAfterTheLastDocument) {
    UseProfile(1, 0, 0);
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[1].pauseBeforeMs = 40000;  // longer than the idle time
    TheScanner().SetScenario(s);
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 2);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    EXPECT_EQ(run.deviceError, 0u);
    const auto log = TheScanner().CommandLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().opcode, orvo::sim::op::kTerminate);
}

TEST(BatchEnd, TerminateAtTheFirstPoll) {
    UseProfile(1, 0, 0);
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.terminateAtFirstPoll = true;
    TheScanner().SetScenario(s);
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 0);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
    EXPECT_FALSE(e2e::Exists(PageFile(0)));
    EXPECT_EQ(TheScanner().CommandLog().back().opcode, orvo::sim::op::kTerminate);
}

TEST(BatchEnd, EndBatchWhileTheWorkerRuns) {
    UseProfile(1, 0, 0);
    // A scanner that stops answering in the middle of a document.
    TheScanner().SetScenario(
        WithFault(3, orvo::sim::op::kReadBuffer, orvo::sim::FaultAction::NoCompletion, 2));
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    usleep(20000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    // Nothing is left to wait for.
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);

    // A slow scanner feeding documents: end after the first page.
    orvo::sim::Scenario slow = e2e::FastScenario(5);
    slow.latency.documentIntervalMs = 200;
    slow.latency.blockMs = 5;
    TheScanner().SetScenario(slow);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    EXPECT_EQ(OrvoScan_GetOneImage((e2e::SystemDir() + "p.raw").c_str(), &height), 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(BatchEnd, DriverStartDuringABatchEndsTheBatchFirst) {
    UseProfile(1, 0, 0);
    orvo::sim::Scenario slow = e2e::FastScenario(5);
    slow.latency.documentIntervalMs = 500;
    TheScanner().SetScenario(slow);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    usleep(20000);
    EXPECT_EQ(OrvoScan_Init(), 0);
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    TheScanner().SetScenario(e2e::FastScenario(1));
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 2);
    EXPECT_EQ(run.last, ORVOSCAN_NO_PAGE);
}

TEST(BatchStart, WindowBlockAsSent) {
    e2e::WriteSettings(
        e2e::Ini({{"Check", {{"Side", "0"}, {"ScanWidth", "1728"}, {"ScanLines1", "300"}}},
                  {"Misc",
                   {{"SerialNo", "1193046"},
                    {"ScanCount", "300"},
                    {"LimitScanCount", "1"},
                    {"EndorserFormat", "ABCDEFGHIJKLMNOPQRSTUVWXY"},
                    {"ImageFileFormat", "2"}}}}));
    TheScanner().SetScenario(e2e::FastScenario(1));
    const BatchRun run = RunBatch();
    EXPECT_EQ(run.pages, 1);
    const auto windows = TheScanner().Windows();
    ASSERT_FALSE(windows.empty());
    const auto raw = windows.back().raw;
    EXPECT_EQ(raw[50], 0x34);
    EXPECT_EQ(raw[51], 0x56);
    EXPECT_EQ(raw[52], 0x12);
    EXPECT_EQ(raw[48], 0x81);
    EXPECT_EQ(raw[49], 0x2C);
    EXPECT_EQ(raw[31], 1);
    EXPECT_EQ(raw[36], 1);  // document type "Check"
    EXPECT_EQ(0, std::memcmp(&raw[10], "ABCDEFGHIJKLMNOPQRST", 20));
    EXPECT_EQ(0, std::memcmp(&raw[60], "UVWXY     ", 10));
    EXPECT_EQ(raw[30], 5);
}

TEST(BatchStart, IllegalEndorserFormatStartsNothing) {
    e2e::WriteSettings(
        e2e::Ini({{"Check", {{"Side", "1"}, {"ScanWidth", "1728"}, {"ScanLines1", "300"}}},
                  {"Misc", {{"EndorserFormat", "$X"}}}}));
    TheScanner().SetScenario(e2e::FastScenario(1));
    TheScanner().Reset();
    EXPECT_EQ(OrvoScan_StartBatch("Check"), ORVOSCAN_ERR_ENDORSER);
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    EXPECT_TRUE(TheScanner().CommandLog().empty());
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(BatchStart, DeletesOnlyTheBatchFilesOfEarlierBatches) {
    UseProfile(1, 0, 0);
    TheScanner().SetScenario(e2e::FastScenario(1));
    RunBatch();
    const std::string outside = e2e::SystemDir() + "keep.dat";
    e2e::WriteText(outside, "precious");
    e2e::WriteText(TempDir() + "_tmp0042.dat", "old page");
    e2e::WriteText(TempDir() + "_err0007.dat", "old dump");
    e2e::WriteText(TempDir() + "_old.dat", "not ours");
    ASSERT_EQ(symlink(outside.c_str(), (TempDir() + "_tmp0043.dat").c_str()), 0);
    TheScanner().SetScenario(e2e::FastScenario(1));
    RunBatch();
    EXPECT_FALSE(e2e::Exists(TempDir() + "_tmp0042.dat"));
    EXPECT_FALSE(e2e::Exists(TempDir() + "_err0007.dat"));
    EXPECT_FALSE(e2e::Exists(TempDir() + "_tmp0043.dat"));
    EXPECT_TRUE(e2e::Exists(TempDir() + "_old.dat"));
    EXPECT_EQ(e2e::ReadBytes(outside).size(), 8u);  // the link was removed, not followed
}

TEST(BatchTrace, WorkerStepsInOrder) {
    UseProfile(0, 0, 0);
    TheScanner().SetScenario(e2e::FastScenario(1));
    RunBatch();
    std::ifstream in(e2e::SystemDir() + "thread.txt");
    std::vector<std::string> labels;
    std::string line;
    while (std::getline(in, line)) {
        // "%3d:\t" + right-aligned "<label> HH:MM:SS:mmm" + "\t[%7d]"
        const auto tab = line.find('\t');
        const auto tab2 = line.find('\t', tab + 1);
        std::string field = line.substr(tab + 1, tab2 - tab - 1);
        field = field.substr(field.find_first_not_of(' '));
        labels.push_back(field.substr(0, field.size() - 13));
    }
    const std::vector<std::string> head = {
        "TestUnitReady_Cmd",          "SetWindow_Cmd-Bright",        "SetWindow_Cmd-bPhoto",
        "SetWindow_Cmd-Side",         "SetWindow_Cmd-DFDetect",      "SetWindow_Cmd-Endorser",
        "SetWindow_Cmd-LED",          "SetWindow_Cmd-MicrDetect",    "SetWindow_Cmd-ScanMode",
        "SetWindow_Cmd-CompressMode", "SetWindow_Cmd-Resolution",    "SetWindow_Cmd-BWSlice",
        "SetWindow_Cmd-LeftOffset",   "SetWindow_Cmd-ScanWidth",     "SetWindow_Cmd-TopMargin",
        "SetWindow_Cmd-ScanLines",    "SetWindow_Cmd-bUseScanCount", "ScanStart_Cmd"};
    ASSERT_GE(labels.size(), head.size());
    for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(labels[i], head[i]);
    auto find = [&](const std::string& l) {
        return std::find(labels.begin(), labels.end(), l) - labels.begin();
    };
    EXPECT_LT(find("Read_Buff_Cmd"), find("b1 = "));
    EXPECT_LT(find("b2 = "), find("Got one page--------"));
    EXPECT_LT(find("Got one page--------"), find("Front RTC Found"));
    EXPECT_EQ(labels.back(), "Terminate_Cmd");
}

TEST(BatchControl, IsPageLoadedWithoutABatchAnswersAtOnce) {
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_NO_PAGE);
}

}  // namespace
