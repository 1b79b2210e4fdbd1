// The scan run over a stand-in driver: the checks before a batch, the page
// rule, micr.txt records, the number limit, the next start number, stops.
#include "orvo/scanrun/scan_run.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvo/scanrun/fake_driver.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::scanrun {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ScanRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_.location = SplitOutputPath((dir_ / "A.tif").string());
        setup_.profile = "Check";
    }

    void AddCheques(const std::vector<std::string>& micrs) {
        for (const std::string& m : micrs) {
            driver_.pages.push_back({m, true});
            driver_.pages.push_back({"", true});
        }
    }
    // Runs to the end; the steps taken.
    std::vector<PageStep> RunAll(ScanRun& run) {
        std::vector<PageStep> steps;
        if (!run.Start()) return steps;
        for (int guard = 0; guard < 1000; ++guard) {
            steps.push_back(run.Next());
            if (steps.back().ended) break;
        }
        return steps;
    }
    std::string Micr() { return testing::ReadText(dir_ / "micr.txt"); }
    void Touch(const std::string& name) { std::ofstream(dir_ / name) << "old"; }

    const testing::TempDir temp_{"scanrun-run"};
    const fs::path dir_ = temp_.path();
    FakeDriver driver_;
    RunSetup setup_;
};

TEST_F(ScanRunTest, TwoSidedRunRecordsEachChequeOnce) {
    setup_.startNumber = 3;
    AddCheques({"T021T 12", "T0?1T 13"});
    ScanRun run(driver_, setup_);
    const std::vector<PageStep> steps = RunAll(run);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].page, 5);
    EXPECT_EQ(steps[0].name.displayName, "A000003F");
    EXPECT_TRUE(steps[0].hasRecord);
    EXPECT_FALSE(steps[1].hasRecord);
    EXPECT_EQ(steps[2].record, "00000041T0?1T 13\r\n");
    EXPECT_FALSE(steps[4].taken);
    EXPECT_TRUE(steps[4].ended);
    EXPECT_EQ(Micr(), "00000030T021T 12\r\n00000041T0?1T 13\r\n");
    EXPECT_EQ(run.outcome().end, RunEnd::Finished);
    EXPECT_TRUE(run.outcome().driverMessage.empty());
    EXPECT_EQ(run.outcome().nextStartNumber, 5);
    EXPECT_EQ(run.outcome().pagesTaken, 4);
    EXPECT_EQ(run.statistics().good(), 1);
    EXPECT_EQ(run.statistics().bad(), 1);
    EXPECT_EQ(driver_.endCalls, 1);
    // Further steps change nothing.
    EXPECT_TRUE(run.Next().ended);
    EXPECT_EQ(driver_.requested.size(), 5u);
}

TEST_F(ScanRunTest, OneSidedWithoutMicrWritesNoRecord) {
    setup_.twoSided = false;
    setup_.micr = false;
    driver_.pages = {{"X"}, {"Y"}};
    ScanRun run(driver_, setup_);
    RunAll(run);
    EXPECT_EQ(driver_.requested[1], (dir_ / "A000002F.tif").string());
    EXPECT_FALSE(fs::exists(dir_ / "micr.txt"));
    EXPECT_EQ(run.outcome().nextStartNumber, 3);
}

TEST_F(ScanRunTest, UnwrittenPageEndsTheRunWithoutARecord) {
    // The driver says -12 for the front of cheque 3; more cheques are waiting.
    AddCheques({"T1", "T2", "T3", "T4"});
    driver_.pages[4].result = -12;
    ScanRun run(driver_, setup_);
    const std::vector<PageStep> steps = RunAll(run);
    EXPECT_EQ(driver_.requested.size(), 5u);  // nothing after the failed page
    EXPECT_EQ(Micr(), "00000010T1\r\n00000020T2\r\n");
    EXPECT_EQ(run.outcome().end, RunEnd::PageNotWritten);
    EXPECT_EQ(run.outcome().driverResult, -12);
    EXPECT_NE(run.outcome().driverMessage.find("Page file writing error.."), std::string::npos);
    EXPECT_NE(run.outcome().problem.find("A000003F.tif was not written"), std::string::npos);
    EXPECT_EQ(run.outcome().nextStartNumber, 3);
    EXPECT_EQ(driver_.endCalls, 1);
}

TEST_F(ScanRunTest, SuccessWithoutAFileIsAnUnwrittenPage) {
    // The driver reports success but no page file appears (a driver that
    // does not know the result code for it).
    AddCheques({"T1", "T2", "T3"});
    driver_.pages[2].writeFile = false;
    ScanRun run(driver_, setup_);
    RunAll(run);
    EXPECT_EQ(driver_.requested.size(), 3u);
    EXPECT_EQ(Micr(), "00000010T1\r\n");
    EXPECT_EQ(run.outcome().end, RunEnd::PageNotWritten);
    EXPECT_EQ(run.outcome().driverResult, -12);
    EXPECT_EQ(run.outcome().nextStartNumber, 2);
}

TEST_F(ScanRunTest, AFileLeftFromBeforeIsNotTakenForTheNewPage) {
    Touch("A000002F.tif");
    setup_.overwrite = true;
    AddCheques({"T1", "T2"});
    driver_.pages[2].writeFile = false;  // the old file stays as it was
    ScanRun run(driver_, setup_);
    RunAll(run);
    EXPECT_EQ(run.outcome().end, RunEnd::PageNotWritten);
    EXPECT_EQ(run.outcome().nextStartNumber, 2);
    EXPECT_EQ(Micr(), "00000010T1\r\n");
}

TEST_F(ScanRunTest, UnwrittenRearPageNamesTheIncompleteCheque) {
    AddCheques({"T1", "T2"});
    driver_.pages[3].result = -12;
    ScanRun run(driver_, setup_);
    RunAll(run);
    // The front of cheque 2 and its record are on disk: the next run starts
    // with cheque 3, and the message says cheque 2 lacks its rear page.
    EXPECT_EQ(run.outcome().nextStartNumber, 3);
    EXPECT_NE(run.outcome().problem.find("A000002R.tif was not written"), std::string::npos);
    EXPECT_NE(run.outcome().problem.find("Cheque 2 has its front page"), std::string::npos)
        << run.outcome().problem;
}

TEST_F(ScanRunTest, DeviceErrorCarriesTheDriversMessage) {
    AddCheques({"T1"});
    driver_.endResult = -100;
    driver_.deviceError = 0x81;
    ScanRun run(driver_, setup_);
    RunAll(run);
    EXPECT_EQ(run.outcome().end, RunEnd::DriverError);
    EXPECT_EQ(run.outcome().deviceError, 0x81u);
    EXPECT_EQ(run.outcome().driverMessage,
              "Error occurred!! Check the scanner..\n\n  Scanner device error..\n  -JAM1 error..");
    EXPECT_EQ(run.outcome().nextStartNumber, 2);
}

TEST_F(ScanRunTest, StartBatchFailureStartsNothing) {
    driver_.startResult = -10;
    ScanRun run(driver_, setup_);
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(run.outcome().end, RunEnd::NotStarted);
    EXPECT_EQ(run.outcome().driverResult, -10);
    EXPECT_NE(run.outcome().driverMessage.find("Illegal endorser format"), std::string::npos);
    EXPECT_EQ(driver_.endCalls, 0);
    EXPECT_TRUE(run.Next().ended);
    EXPECT_TRUE(driver_.requested.empty());
}

TEST_F(ScanRunTest, SecondRunIntoTheSameOutputIsRefused) {
    AddCheques({"T1", "T2"});
    {
        ScanRun first(driver_, setup_);
        RunAll(first);
    }
    const std::string before = Micr();
    FakeDriver again;
    again.pages = driver_.pages;
    ScanRun second(again, setup_);
    const StartCheck check = second.Check();
    EXPECT_EQ(check.problem, StartProblem::PageExists);
    EXPECT_EQ(check.existingPage, (dir_ / "A000001F.tif").string());
    EXPECT_NE(check.message.find("A000001F.tif already exists"), std::string::npos);
    EXPECT_EQ(check.continueNumber, 3);
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.outcome().refusal, StartProblem::PageExists);
    EXPECT_EQ(again.startCalls, 0);
    EXPECT_EQ(Micr(), before);

    // Allowed explicitly, the pages are replaced.
    ScanRun third(again, setup_);
    third.AllowOverwrite();
    EXPECT_EQ(third.Check().problem, StartProblem::None);
    RunAll(third);
    EXPECT_EQ(third.outcome().end, RunEnd::Finished);
}

TEST_F(ScanRunTest, AnyLaterPageOfTheRunCountsAsExisting) {
    Touch("A000007R.tif");
    Touch("A000002F.bmp");  // another extension: not written by this run
    setup_.startNumber = 1;
    EXPECT_EQ(CheckStart(setup_).existingPage, (dir_ / "A000007R.tif").string());
    // A one-sided run writes no rear pages.
    setup_.twoSided = false;
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::None);
    setup_.twoSided = true;
    setup_.startNumber = 8;
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::None);
}

TEST_F(ScanRunTest, StartNumbersPastTheSevenDigitsAreRefused) {
    setup_.startNumber = 10000000;
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::StartNumber);
    setup_.startNumber = -1;
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::StartNumber);
    ScanRun run(driver_, setup_);
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(driver_.startCalls, 0);
}

TEST_F(ScanRunTest, RunEndsBeforeTheNumberWouldPassSevenDigits) {
    setup_.startNumber = 9999998;
    AddCheques({"T1", "T2", "T3"});
    ScanRun run(driver_, setup_);
    RunAll(run);
    EXPECT_EQ(run.outcome().end, RunEnd::NumberLimit);
    EXPECT_EQ(driver_.requested.size(), 4u);
    EXPECT_EQ(Micr(), "99999980T1\r\n99999990T2\r\n");
    EXPECT_NE(run.outcome().problem.find("9999999"), std::string::npos);
    EXPECT_EQ(run.outcome().nextStartNumber, 10000000);
    EXPECT_EQ(driver_.endCalls, 1);
}

TEST_F(ScanRunTest, MicrFileThatCannotTakeRecordsIsFoundBeforeTheBatch) {
    ASSERT_EQ(mkfifo((dir_ / "micr.txt").c_str(), 0644), 0);
    ScanRun run(driver_, setup_);
    const StartCheck check = run.Check();
    EXPECT_EQ(check.problem, StartProblem::MicrFile);
    EXPECT_NE(check.message.find("is a FIFO"), std::string::npos) << check.message;
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(driver_.startCalls, 0);

    fs::remove(dir_ / "micr.txt");
    fs::create_directory(dir_ / "micr.txt");
    EXPECT_NE(CheckStart(setup_).message.find("is a directory"), std::string::npos);
    // Without MICR the file is not needed.
    setup_.micr = false;
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::None);
}

TEST_F(ScanRunTest, MissingOutputDirectoryIsRefused) {
    setup_.location = SplitOutputPath((dir_ / "none" / "A.tif").string());
    const StartCheck check = CheckStart(setup_);
    EXPECT_EQ(check.problem, StartProblem::OutputDirectory);
    EXPECT_NE(check.message.find("none"), std::string::npos);
}

TEST_F(ScanRunTest, FrontPagesWithoutRecordAreNamed) {
    for (const char* name : {"A000001F.tif", "A000001R.tif", "A000002F.tif", "A000003F.tif"}) {
        Touch(name);
    }
    std::ofstream(dir_ / "micr.txt", std::ios::binary) << "00000010T1\r\n00000030T3\r\n";
    setup_.startNumber = 4;
    const StartCheck check = CheckStart(setup_);
    EXPECT_EQ(check.problem, StartProblem::None);
    EXPECT_EQ(check.frontsWithoutRecord,
              std::vector<std::string>{(dir_ / "A000002F.tif").string()});
    EXPECT_EQ(check.continueNumber, 4);
    setup_.micr = false;
    EXPECT_TRUE(CheckStart(setup_).frontsWithoutRecord.empty());
}

// Values the scanner or the page writers cannot take are named (key, value,
// profile) before anything is fed, as the driver's batch start judges them.
TEST_F(ScanRunTest, RefusedProfileValuesStopTheRunBeforeTheBatch) {
    setup_.settingsFile = (dir_ / "OrvoScan.ini").string();
    const std::string good =
        "[Check]\nScanWidth=1728\nScanLines1=800\nScanMode1=0\n[Misc]\nGrayTifCompress=1\n";
    testing::WriteText(setup_.settingsFile, good);
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::None);
    const struct {
        std::string key, value, why;
    } refused[] = {{"ScanWidth", "abc", "is not a number; it takes 1-2592"},
                   {"ScanWidth", "-8", "is out of range; it takes 1-2592"},
                   {"ScanWidth", "12345678901234567890", "is out of range"},
                   {"ScanLines1", "4294967297", "is out of range; it takes 0 or 2-65535"},
                   {"ScanLines1", "1", "is out of range"},
                   {"ScanMode1", "9", "is out of range; it takes 0-4"},
                   {"GrayTifCompress", "9", "is out of range; it takes 0-2"}};
    for (const auto& r : refused) {
        std::string text = good;
        const std::size_t at = text.find(r.key + "=");
        text.replace(at, text.find('\n', at) - at, r.key + "=" + r.value);
        testing::WriteText(setup_.settingsFile, text);
        ScanRun run(driver_, setup_);
        EXPECT_FALSE(run.Start());
        EXPECT_EQ(run.outcome().refusal, StartProblem::Settings);
        const std::string where = r.key == "GrayTifCompress"
                                      ? "section \"Misc\" (used by profile \"Check\"): "
                                      : "profile \"Check\": ";
        EXPECT_NE(run.outcome().problem.find(where + r.key + "=" + r.value + " " + r.why),
                  std::string::npos)
            << run.outcome().problem;
    }
    // A profile without its own section is judged by "Default", which a batch loads.
    setup_.profile = "Other";
    testing::WriteText(setup_.settingsFile, good + "[Default]\nScanWidth=0\n");
    EXPECT_NE(CheckStart(setup_).message.find("section \"Default\" (used for profile \"Other\"): "
                                              "ScanWidth=0 is out of range"),
              std::string::npos);
    EXPECT_EQ(driver_.startCalls, 0);
}

// A prefix whose longest page name (document 9999999) the file system does
// not take is refused before the batch; one byte shorter fits.
TEST_F(ScanRunTest, PageNamesTooLongAreRefusedBeforeTheBatch) {
    setup_.location = SplitOutputPath((dir_ / (std::string(244, 'A') + ".tif")).string());
    ScanRun run(driver_, setup_);
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(run.outcome().refusal, StartProblem::PageName);
    EXPECT_NE(run.outcome().problem.find("are 256 bytes long; the file system of"),
              std::string::npos)
        << run.outcome().problem;
    EXPECT_EQ(driver_.startCalls, 0);
    setup_.location = SplitOutputPath((dir_ / (std::string(243, 'A') + ".tif")).string());
    EXPECT_EQ(CheckStart(setup_).problem, StartProblem::None);
}

// Cheques an earlier run left with a front page and no rear page are named
// (two-sided outputs only).
TEST_F(ScanRunTest, FrontPagesWithoutRearAreNamed) {
    for (const char* name : {"A000001F.tif", "A000001R.tif", "A000002F.tif", "A000003R.tif"}) {
        Touch(name);
    }
    setup_.startNumber = 4;
    EXPECT_EQ(CheckStart(setup_).frontsWithoutRear,
              std::vector<std::string>{(dir_ / "A000002F.tif").string()});
    setup_.twoSided = false;
    EXPECT_TRUE(CheckStart(setup_).frontsWithoutRear.empty());
}

TEST_F(ScanRunTest, DeviceAsMicrFileIsRefused) {
    ASSERT_EQ(symlink("/dev/full", (dir_ / "micr.txt").c_str()), 0);
    ScanRun run(driver_, setup_);
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(run.outcome().refusal, StartProblem::MicrFile);
    EXPECT_NE(run.outcome().problem.find("a character device"), std::string::npos);
}

// A file size limit for this process, with SIGXFSZ ignored as the programs
// do, restored afterwards.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_);
    }

  private:
    rlimit saved_{};
    sighandler_t old_;
};

TEST_F(ScanRunTest, RecordCutShortIsRemovedAndEndsTheRun) {
    const std::string earlier(4090, 'x');
    std::ofstream(dir_ / "micr.txt", std::ios::binary) << earlier << "\r\n";
    AddCheques({"T1", "T2"});
    setup_.startNumber = 9;
    {
        ScanRun run(driver_, setup_);
        const FileSizeLimit limit(4100);  // room for 8 bytes of the record
        RunAll(run);
        EXPECT_EQ(run.outcome().end, RunEnd::MicrFileError);
        EXPECT_NE(run.outcome().problem.find("A000009F.tif has no record"), std::string::npos)
            << run.outcome().problem;
        EXPECT_NE(run.outcome().problem.find("00000090T1"), std::string::npos);
        EXPECT_EQ(driver_.requested.size(), 1u);
        EXPECT_EQ(run.outcome().pagesTaken, 1);
        EXPECT_EQ(run.statistics().good(), 0);
        EXPECT_EQ(driver_.endCalls, 1);
    }
    // Nothing of the record stays, so the next record starts on its own line.
    EXPECT_EQ(Micr(), earlier + "\r\n");
    MicrFile again((dir_ / "micr.txt").string());
    ASSERT_TRUE(again.Append("00000100T2\r\n"));
    EXPECT_EQ(Micr(), earlier + "\r\n00000100T2\r\n");
}

TEST_F(ScanRunTest, RequestStopEndsBeforeTheNextCheque) {
    AddCheques({"T1", "T2", "T3"});
    ScanRun run(driver_, setup_);
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.Next().taken);
    run.RequestStop();
    const PageStep rear = run.Next();  // the cheque in progress is completed
    EXPECT_TRUE(rear.taken);
    EXPECT_FALSE(rear.ended);
    const PageStep last = run.Next();
    EXPECT_TRUE(last.ended);
    EXPECT_FALSE(last.taken);
    EXPECT_EQ(run.outcome().end, RunEnd::Stopped);
    EXPECT_EQ(driver_.requested.size(), 2u);
    EXPECT_EQ(run.outcome().nextStartNumber, 2);
    EXPECT_EQ(driver_.endCalls, 1);
}

TEST_F(ScanRunTest, InterruptBeforeTheStartFeedsNothing) {
    ScanRun run(driver_, setup_);
    run.Interrupt();
    EXPECT_FALSE(run.Start());
    EXPECT_EQ(run.outcome().end, RunEnd::Stopped);
    EXPECT_EQ(driver_.startCalls, 0);
    EXPECT_EQ(driver_.EndCalls(), 0);
}

TEST_F(ScanRunTest, AnInterruptedRunTakesWhatTheDriverStillHandsOver) {
    // Interrupted while the front of cheque 2 is waited for (`early`: between
    // the pages of cheque 1, no driver call in progress): the driver is told
    // at once and the run goes on until it says the end. What it answers for
    // cheque 2's front, the cheques kept, and the start of the run's note.
    struct Case {
        bool early, comes;
        int result, cheques;
        std::string problem;
    };
    const Case cases[] = {
        {false, true, 0, 2, ""},
        {false, false, 0, 1, ""},
        {true, false, 0, 1, ""},
        {false, true, -100, 1, "Cheque 2 was being read when the run was interrupted"},
    };
    for (const Case& c : cases) {
        fs::remove(dir_ / "micr.txt");
        FakeDriver driver;
        driver.pages = {
            {"T1", true}, {"", true}, {"T2", true, c.result, true, c.comes}, {"", true}};
        setup_.overwrite = true;
        ScanRun run(driver, setup_);
        ASSERT_TRUE(run.Start());
        EXPECT_TRUE(run.Next().taken);
        if (c.early) run.Interrupt();
        std::thread stopper([&] {
            if (!c.early && driver.AwaitWaiting()) run.Interrupt();
        });
        for (int guard = 0; guard < 10 && !run.Next().ended; ++guard) {
        }
        stopper.join();
        EXPECT_EQ(run.outcome().end, RunEnd::Stopped);
        EXPECT_EQ(Micr(), c.cheques == 2 ? "00000010T1\r\n00000020T2\r\n" : "00000010T1\r\n");
        EXPECT_EQ(run.outcome().nextStartNumber, c.cheques + 1);
        EXPECT_EQ(run.outcome().problem.substr(0, c.problem.size()), c.problem);
        EXPECT_EQ(run.outcome().problem.empty(), c.problem.empty());
    }
}

}  // namespace
}  // namespace orvo::scanrun
