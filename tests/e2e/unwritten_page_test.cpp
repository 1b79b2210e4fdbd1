// Pages whose image file is not written are reported as such (-12), never
// passed off as done: an output path that cannot be written, a full disk, a
// full temporary directory, a side without its end of page.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        // A write past the file size limit fails instead of ending the test.
        std::signal(SIGXFSZ, SIG_IGN);
        const std::string tmp = e2e::MakeTempDir("orvo-unwritten-tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// Files shorter than `bytes` only, for this process, while it lives: the
// disk is full for everything larger.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

  private:
    rlimit old_{};
};

struct Taken {
    int result = 0;
    int height = 0;
};

Taken Take(const std::string& path) {
    Taken t;
    t.height = 12345;
    t.result = OrvoScan_GetOneImage(path.c_str(), &t.height);
    return t;
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

TEST(UnwrittenPage, OutputThatCannotBeWrittenIsReportedAndTheBatchGoesOn) {
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
    TheScanner().SetScenario(e2e::FastScenario(2));
    ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF), 1);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string dir = e2e::MakeTempDir("orvo-unwritten-out");
    // A directory that does not exist, and a path that is a directory.
    Taken t = Take(dir + "missing/front.tif");
    EXPECT_EQ(t.result, ORVOSCAN_ERR_PAGE_FILE);
    EXPECT_EQ(t.height, 0);
    t = Take(dir);
    EXPECT_EQ(t.result, ORVOSCAN_ERR_PAGE_FILE);
    EXPECT_EQ(t.height, 0);
    // Each call took its page: the next one is the front of the second cheque.
    t = Take(dir + "front2.tif");
    EXPECT_EQ(t.result, 0);
    EXPECT_GT(t.height, 0);
    EXPECT_TRUE(e2e::Exists(dir + "front2.tif"));
    EXPECT_EQ(Take(dir + "rear2.tif").result, 0);
    EXPECT_EQ(Take(dir + "none.tif").result, ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(UnwrittenPage, FullDiskWhileTheImageIsWrittenLeavesNothingBehind) {
    e2e::WriteSettings(e2e::ChequeIni("Check", 0, 0, 0));
    const std::string dir = e2e::MakeTempDir("orvo-unwritten-full");
    for (int format : {ORVOSCAN_FORMAT_TIFF, ORVOSCAN_FORMAT_DIB, ORVOSCAN_FORMAT_RAW}) {
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_ImageFormat(format), 1);
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        // The page file is there before the disk fills up.
        ASSERT_EQ(OrvoScan_IsPageLoaded(), 0);
        Taken t;
        {
            FileSizeLimit full(600);
            t = Take(dir + "page");
        }
        EXPECT_EQ(t.result, ORVOSCAN_ERR_PAGE_FILE) << format;
        EXPECT_EQ(t.height, 0) << format;
        // Neither the image nor a part of it is left in the output directory.
        EXPECT_TRUE(Listing(dir).empty()) << format;
        EXPECT_EQ(Take(dir + "none").result, ORVOSCAN_NO_PAGE) << format;
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
    }
}

TEST(UnwrittenPage, FullTemporaryDirectoryIsNotAScannerFault) {
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
    TheScanner().SetScenario(e2e::FastScenario(3));
    ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF), 1);
    const std::string dir = e2e::MakeTempDir("orvo-unwritten-tmpfull");
    Taken t;
    uint32_t deviceError = 1;
    {
        // No page file of a cheque fits.
        FileSizeLimit full(1000);
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        t = Take(dir + "front.tif");
        deviceError = OrvoScan_GetDeviceError();
    }
    EXPECT_EQ(t.result, ORVOSCAN_ERR_PAGE_FILE);
    EXPECT_EQ(t.height, 0);
    EXPECT_EQ(deviceError, 0u);
    EXPECT_FALSE(e2e::Exists(dir + "front.tif"));
    // The batch is over; asking again says so the same way.
    EXPECT_EQ(OrvoScan_IsPageLoaded(), ORVOSCAN_ERR_PAGE_FILE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(UnwrittenPage, SideWithoutItsEndOfPage) {
    // 8-bit gray, coded: the rear of the first cheque comes without its RTC.
    e2e::WriteSettings(e2e::ChequeIni("Check", 1, 4, 0, 1728, 300));
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.documents[0].rearFaults.noRtc = orvo::sim::Repeat::Always;
    const std::string dir = e2e::MakeTempDir("orvo-unwritten-rtc");
    for (bool inMemory : {false, true}) {
        TheScanner().SetScenario(s);
        ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF), 1);
        ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
        std::vector<Taken> pages;
        for (int i = 0; i < 5; ++i) {
            Taken t;
            const std::string path = dir + "p" + std::to_string(i) + ".tif";
            t.result = inMemory ? OrvoScan_GetOneImageBufPtr(path.c_str(), &t.height)
                                : OrvoScan_GetOneImage(path.c_str(), &t.height);
            pages.push_back(t);
            if (t.result == ORVOSCAN_NO_PAGE) break;
        }
        ASSERT_EQ(pages.size(), 5u) << inMemory;
        EXPECT_EQ(pages[0].result, 0) << inMemory;
        EXPECT_EQ(pages[1].result, ORVOSCAN_ERR_PAGE_FILE) << inMemory;
        EXPECT_EQ(pages[1].height, 0) << inMemory;
        EXPECT_EQ(pages[2].result, 0) << inMemory;
        EXPECT_EQ(pages[3].result, 0) << inMemory;
        EXPECT_EQ(pages[4].result, ORVOSCAN_NO_PAGE) << inMemory;
        if (!inMemory) {
            EXPECT_FALSE(e2e::Exists(dir + "p1.tif"));
        }
        EXPECT_EQ(OrvoScan_EndBatch(), 0);
    }
}

}  // namespace
