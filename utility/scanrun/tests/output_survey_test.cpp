#include "orvo/scanrun/output_survey.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "orvo/testing/temp_dir.h"

namespace orvo::scanrun {
namespace {

namespace fs = std::filesystem;

TEST(PageNumberInName, OnlyNamesTheNamingRuleWrites) {
    bool front = false;
    EXPECT_EQ(PageNumberInName("A000012F.tif", "A", "tif", &front), 12);
    EXPECT_TRUE(front);
    EXPECT_EQ(PageNumberInName("A000012R.tif", "A", "tif", &front), 12);
    EXPECT_FALSE(front);
    EXPECT_EQ(PageNumberInName("A9999999F.tif", "A", "tif", &front), 9999999);
    EXPECT_EQ(PageNumberInName("A1000000R.tif", "A", "tif", &front), 1000000);
    // A title ending in digits is taken off first.
    EXPECT_EQ(PageNumberInName("B7000003F.bmp", "B7", "bmp", &front), 3);
    // Empty title and extension.
    EXPECT_EQ(PageNumberInName("000001F.", "", "", &front), 1);

    for (const char* name :
         {"A00012F.tif", "A0000012F.tif", "A000012X.tif", "A000012F.tiff", "A000012F.TIF",
          "B000012F.tif", "A00001xF.tif", "A000012F.tif.part", "AA000012F.tif", "A000012F"}) {
        EXPECT_EQ(PageNumberInName(name, "A", "tif", &front), -1) << name;
    }
}

class SurveyTest : public ::testing::Test {
  protected:
    void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }

    const testing::TempDir temp_{"scanrun-survey"};
    const fs::path dir_ = temp_.path();
    OutputLocation loc_ = SplitOutputPath((dir_ / "A.tif").string());
};

TEST_F(SurveyTest, EmptyOrMissingOutputHoldsNothing) {
    OutputSurvey s = SurveyOutput(loc_);
    EXPECT_TRUE(s.pages.empty());
    EXPECT_EQ(s.HighestNumber(), -1);
    EXPECT_TRUE(s.error.empty());
    s = SurveyOutput(SplitOutputPath((dir_ / "none" / "A.tif").string()));
    EXPECT_TRUE(s.error.empty());
    EXPECT_EQ(s.HighestNumber(), -1);
}

TEST_F(SurveyTest, PagesAndRecordsGiveTheHighestNumber) {
    for (const char* name : {"A000003R.tif", "A000003F.tif", "A000001F.tif", "B000050F.tif",
                             "A000040F.bmp", "micr.txt.bak"}) {
        Touch(name);
    }
    fs::create_directory(dir_ / "A000005F.tif");  // whatever it is, the name is taken
    // Records: CR LF and LF lines, a record glued onto a cut one, a line
    // without a number.
    std::ofstream(dir_ / "micr.txt", std::ios::binary)
        << "00000020T2\r\n0000004\n000000xBAD\r\nnot a record\r\n00000330T\r\n";
    const OutputSurvey s = SurveyOutput(loc_);
    ASSERT_EQ(s.pages.size(), 4u);
    EXPECT_EQ(s.pages[0].number, 1);
    EXPECT_EQ(s.pages[1].number, 3);
    EXPECT_TRUE(s.pages[1].front);
    EXPECT_FALSE(s.pages[2].front);
    EXPECT_EQ(s.pages[3].path, (dir_ / "A000005F.tif").string());
    EXPECT_EQ(s.recordNumbers, (std::vector<int>{2, 4, 33}));
    EXPECT_EQ(s.HighestNumber(), 33);
    EXPECT_EQ(s.FirstPageFrom(2, true)->number, 3);
    EXPECT_EQ(s.FirstPageFrom(4, true)->number, 5);
    EXPECT_EQ(s.FirstPageFrom(6, true), nullptr);
    const std::vector<PageFile> missing = s.FrontsWithoutRecord();
    ASSERT_EQ(missing.size(), 3u);
    EXPECT_EQ(missing[0].number, 1);
    EXPECT_EQ(missing[1].number, 3);
}

TEST_F(SurveyTest, RecordsAloneCount) {
    std::ofstream(dir_ / "micr.txt", std::ios::binary) << "01234560X\r\n";
    EXPECT_EQ(SurveyOutput(loc_).HighestNumber(), 123456);
}

TEST_F(SurveyTest, FifoAsMicrFileIsNotWaitedFor) {
    ASSERT_EQ(mkfifo((dir_ / "micr.txt").c_str(), 0644), 0);
    Touch("A000002F.tif");
    const OutputSurvey s = SurveyOutput(loc_);  // returns at once
    EXPECT_TRUE(s.recordNumbers.empty());
    EXPECT_TRUE(s.micrUnknown);
    EXPECT_EQ(s.HighestNumber(), 2);
    // Records that cannot be read are not missing.
    EXPECT_TRUE(s.FrontsWithoutRecord().empty());
}

// After a full disk a whole cheque can lack its quality.txt line; a run that
// continues names it. A cheque without its rear page is named otherwise, and
// an output without quality.txt, or of raw pages, has no lines to miss.
TEST_F(SurveyTest, WholeChequesWithoutQualityLineAreFound) {
    const struct {
        const char* what;
        const char* extension;
        bool twoSided;
        const char* quality;  // nullptr: no quality.txt
        std::vector<int> expected;
    } cases[] = {
        {"two-sided", "tif", true, "0000001\r\n0000003 skew\r\n", {2}},
        {"one-sided", "tif", false, "0000001\r\n", {2, 3, 4}},
        {"no quality.txt", "tif", true, nullptr, {}},
        {"raw pages", "raw", true, "0000001\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = dir_ / c.what;
        fs::create_directories(dir);
        // Cheques 1-3 whole, cheque 4 without its rear page.
        for (const char* page :
             {"A000001F", "A000001R", "A000002F", "A000002R", "A000003F", "A000003R", "A000004F"}) {
            std::ofstream(dir / (std::string(page) + "." + c.extension)) << "x";
        }
        if (c.quality != nullptr) std::ofstream(dir / "quality.txt") << c.quality;
        const OutputSurvey s =
            SurveyOutput(SplitOutputPath((dir / (std::string("A.") + c.extension)).string()));
        std::vector<int> found;
        for (const PageFile& p : s.ChequesWithoutQualityLine(c.twoSided)) found.push_back(p.number);
        EXPECT_EQ(found, c.expected);
    }
}

}  // namespace
}  // namespace orvo::scanrun
