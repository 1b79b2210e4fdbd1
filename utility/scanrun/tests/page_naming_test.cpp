#include "orvo/scanrun/page_naming.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvo::scanrun {
namespace {

TEST(OutputLocation, SplitsAChosenPath) {
    const OutputLocation loc = SplitOutputPath("/data/scan/A.tif");
    EXPECT_EQ(loc.directory, "/data/scan");
    EXPECT_EQ(loc.prefixPath, "/data/scan/A");
    EXPECT_EQ(loc.fileTitle, "A");
    EXPECT_EQ(loc.extension, "tif");
    EXPECT_EQ(MicrFilePath(loc), "/data/scan/micr.txt");

    // Only the last '.' counts; the extension keeps its case.
    const OutputLocation two = SplitOutputPath("/d/cheque.v2.TIF");
    EXPECT_EQ(two.prefixPath, "/d/cheque.v2");
    EXPECT_EQ(two.fileTitle, "cheque.v2");
    EXPECT_EQ(two.extension, "TIF");

    const OutputLocation root = SplitOutputPath("/A.bmp");
    EXPECT_EQ(root.directory, "");
    EXPECT_EQ(MicrFilePath(root), "/micr.txt");
}

TEST(OutputLocation, FileNameWithoutDot) {
    // The prefix path is cut at a '.' of the directory part; title and
    // extension stay empty, and page names end in a bare '.'.
    const OutputLocation loc = SplitOutputPath("/data/scan.d/A");
    EXPECT_EQ(loc.directory, "/data/scan.d");
    EXPECT_EQ(loc.prefixPath, "/data/scan");
    EXPECT_EQ(loc.fileTitle, "");
    EXPECT_EQ(loc.extension, "");
    const PageName page = NamePage(loc, false, 1);
    EXPECT_EQ(page.path, "/data/scan000001F.");
    EXPECT_EQ(page.displayName, "000001F");

    // No '.' anywhere: the prefix path is empty.
    const OutputLocation none = SplitOutputPath("/data/scan/A");
    EXPECT_EQ(none.prefixPath, "");
    EXPECT_EQ(NamePage(none, true, 2).path, "000001R.");
}

TEST(ImageFormat, ChosenOnlyByExactLowerCaseExtensions) {
    EXPECT_EQ(ImageFormatForExtension("tif"), 0);
    EXPECT_EQ(ImageFormatForExtension("bmp"), 1);
    EXPECT_EQ(ImageFormatForExtension("raw"), 2);
    EXPECT_EQ(ImageFormatForExtension("TIF"), -1);
    EXPECT_EQ(ImageFormatForExtension("tiff"), -1);
    EXPECT_EQ(ImageFormatForExtension(""), -1);
}

struct Expected {
    const char* path;
    const char* display;
    int number;
    bool micr;
};

void ExpectRun(bool twoSided, int start, const std::vector<Expected>& pages) {
    const OutputLocation loc = SplitOutputPath("/scan/A.tif");
    int p = FirstPage(start, twoSided);
    for (const Expected& e : pages) {
        SCOPED_TRACE(e.path);
        const PageName name = NamePage(loc, twoSided, p);
        EXPECT_EQ(name.path, e.path);
        EXPECT_EQ(name.displayName, e.display);
        EXPECT_EQ(name.number, e.number);
        EXPECT_EQ(PageCarriesMicr(twoSided, p), e.micr);
        ++p;
    }
}

TEST(PageNaming, TwoSidedStartOne) {
    ExpectRun(true, 1,
              {{"/scan/A000001F.tif", "A000001F", 1, true},
               {"/scan/A000001R.tif", "A000001R", 1, false},
               {"/scan/A000002F.tif", "A000002F", 2, true},
               {"/scan/A000002R.tif", "A000002R", 2, false}});
}

TEST(PageNaming, TwoSidedStartThree) {
    EXPECT_EQ(FirstPage(3, true), 5);
    ExpectRun(true, 3,
              {{"/scan/A000003F.tif", "A000003F", 3, true},
               {"/scan/A000003R.tif", "A000003R", 3, false},
               {"/scan/A000004F.tif", "A000004F", 4, true}});
}

TEST(PageNaming, OneSided) {
    ExpectRun(
        false, 1,
        {{"/scan/A000001F.tif", "A000001F", 1, true}, {"/scan/A000002F.tif", "A000002F", 2, true}});
    EXPECT_EQ(FirstPage(5, false), 5);
    ExpectRun(
        false, 5,
        {{"/scan/A000005F.tif", "A000005F", 5, true}, {"/scan/A000006F.tif", "A000006F", 6, true}});
}

TEST(StartNumber, ContinuesAfterTheLastRequestedPage) {
    // Two-sided from 1: fronts and rears of documents 1 and 2 delivered, the
    // request for page 5 (front of 3) ended the batch.
    EXPECT_EQ(StartNumberAfter(true, 5), 3);
    // The batch ended after the front page of document 2 (the request for its
    // rear, page 4, ended it): the next batch writes that front again.
    EXPECT_EQ(StartNumberAfter(true, 4), 2);
    EXPECT_EQ(NamePage(SplitOutputPath("/s/A.tif"), true, FirstPage(2, true)).path,
              "/s/A000002F.tif");
    // One-sided: the number of the page not delivered.
    EXPECT_EQ(StartNumberAfter(false, 7), 7);
}

}  // namespace
}  // namespace orvo::scanrun
