// Page retrieval through the exported interface on the virtual scanner: a
// two-sided batch taken as image files, then as in-memory pages.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

struct Taken {
    int result = 0;
    int height = 0;
    std::string micr;
};

TEST(Retrieval, TwoSidedBatchAlternatesFrontAndRearFiles) {
    e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
    orvo::sim::Scenario scenario = e2e::FastScenario(2);
    orvo::sim::TheScanner().SetScenario(scenario);
    ASSERT_EQ(OrvoScan_Init(), 0);
    EXPECT_EQ(OrvoScan_ImageFormat(1), 1);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);

    const std::string dir = e2e::MakeTempDir("orvo-retrieval");
    std::vector<Taken> pages;
    for (int i = 0; i < 10; ++i) {
        Taken t;
        const std::string path = dir + "page" + std::to_string(i) + ".bmp";
        t.result = OrvoScan_GetOneImage(path.c_str(), &t.height);
        if (t.result != 0) {
            EXPECT_EQ(t.height, 0);
            pages.push_back(t);
            break;
        }
        ASSERT_NE(OrvoScan_MicrDataBufPtr(), nullptr);
        t.micr.assign(OrvoScan_MicrDataBufPtr(), OrvoScan_MicrDataSize());
        EXPECT_TRUE(e2e::Exists(path)) << path;
        pages.push_back(t);
    }
    // Front and rear of two cheques, then the end of the batch.
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages.back().result, -3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages[i].result, 0);
        EXPECT_GT(pages[i].height, 0);
    }
    EXPECT_EQ(pages[0].micr, scenario.documents[0].micr.substr(0, pages[0].micr.size()));
    EXPECT_FALSE(pages[0].micr.empty());
    EXPECT_EQ(OrvoScan_EndBatch(), 0);

    // The same stack as in-memory pages.
    orvo::sim::TheScanner().SetScenario(scenario);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int taken = 0;
    int height = -1;
    while (OrvoScan_GetOneImageBufPtr("", &height) == 0) {
        ++taken;
        EXPECT_GT(height, 0);
        EXPECT_EQ(OrvoScan_ImageHeitgt(), height);
        EXPECT_EQ(OrvoScan_ImagePitchSrc(), 324);
        EXPECT_EQ(OrvoScan_ImagePitchDst(), 216);
        EXPECT_EQ(OrvoScan_ImageBitPerPixel(), 1);
        EXPECT_EQ(OrvoScan_ImageSize(), 324 * height);
        EXPECT_NE(OrvoScan_ImageBufPtr(), nullptr);
        EXPECT_EQ(OrvoScan_ClearOneImageBuf(), 1);
        EXPECT_EQ(OrvoScan_ImageBufPtr(), nullptr);
    }
    EXPECT_EQ(taken, 4);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
    EXPECT_EQ(OrvoScan_End(), 0);
}

}  // namespace
