// A profile without a scan length (ScanLines1 missing or 0): the scanner
// sends every page at its own length, and every page still comes out whole,
// as a file and in memory.
#include <gtest/gtest.h>

#include <cstdlib>
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
        setenv("TMPDIR", e2e::MakeTempDir("orvo-nolength-tmp").c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// A two-sided profile as a user may leave it: no ScanLines1 at all, or 0.
std::string ProfileWithoutLength(int mode, int compress, bool zero) {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"Side", "1"},
        {"ScanWidth", "1600"},
        {"ScanMode1", std::to_string(mode)},
        {"CompressMode", std::to_string(compress)},
        {"BWSlice1", "128"}};
    if (zero) keys.push_back({"ScanLines1", "0"});
    return e2e::Ini({{"Default", keys}, {"Check", keys}, {"Misc", {{"MicrDetect", "1"}}}});
}

struct Case {
    int mode, compress;
    bool zero;
    bool inMemory;
};

class NoLength : public ::testing::TestWithParam<Case> {};

TEST_P(NoLength, EveryPageComesOutWhole) {
    const Case c = GetParam();
    e2e::WriteSettings(ProfileWithoutLength(c.mode, c.compress, c.zero));
    TheScanner().SetScenario(e2e::FastScenario(2));
    ASSERT_EQ(OrvoScan_ImageFormat(ORVOSCAN_FORMAT_TIFF), 1);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    const std::string dir = e2e::MakeTempDir("orvo-nolength-out");
    // Each side is the scanner's synthetic cheque at its own size; the image
    // holds its rows but the first.
    const int rows = orvo::sim::SyntheticCheque(0, true).height - 1;
    for (int p = 0; p < 4; ++p) {
        const std::string path = dir + "page" + std::to_string(p) + ".tif";
        int height = 0;
        const int r = c.inMemory ? OrvoScan_GetOneImageBufPtr(path.c_str(), &height)
                                 : OrvoScan_GetOneImage(path.c_str(), &height);
        ASSERT_EQ(r, 0) << p;
        EXPECT_EQ(height, rows) << p;
        if (!c.inMemory) {
            EXPECT_TRUE(e2e::Exists(path)) << p;
        }
    }
    int height = 0;
    EXPECT_EQ(OrvoScan_GetOneImage((dir + "none.tif").c_str(), &height), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

INSTANTIATE_TEST_SUITE_P(ProfilesWithoutScanLines, NoLength,
                         ::testing::Values(Case{0, 0, false, false}, Case{0, 0, true, true},
                                           Case{0, 1, false, false}, Case{0, 1, true, true},
                                           Case{4, 0, false, false}, Case{4, 1, true, true},
                                           Case{3, 0, true, false}),
                         [](const auto& info) {
                             const Case& c = info.param;
                             return "mode" + std::to_string(c.mode) + "_compress" +
                                    std::to_string(c.compress) + (c.zero ? "_zero" : "_missing") +
                                    (c.inMemory ? "_memory" : "_file");
                         });

}  // namespace
