// Profile values, their units and the frame they give.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "orvo/sane/scan_settings.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::sane {
namespace {

namespace fs = std::filesystem;

TEST(ScanSettings, ResolutionCodesAndTheirUnits) {
    const struct {
        int code, dpi, pixelsPerInch, linesPerInch, framePixelsPerInch;
    } cases[] = {
        {0, 200, 200, 200, 200}, {1, 300, 200, 300, 300},  // widened by 1.5 across
        {2, 100, 100, 100, 100}, {3, 200, 200, 200, 200}, {4, 300, 300, 300, 300},
        {5, 300, 300, 100, 300}, {9, 200, 200, 200, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(UnitsOf(c.code).dpi, c.dpi);
        EXPECT_EQ(UnitsOf(c.code).pixelsPerInch, c.pixelsPerInch);
        EXPECT_EQ(UnitsOf(c.code).linesPerInch, c.linesPerInch);
        EXPECT_EQ(FramePixelsPerInch(c.code), c.framePixelsPerInch);
    }
    EXPECT_EQ(CodeForDpi(100), 2);
    EXPECT_EQ(CodeForDpi(200), 0);
    EXPECT_EQ(CodeForDpi(300), 4);
}

// 25.4 mm to the inch at every resolution: an inch is 200 pixels at 200 dpi.
TEST(ScanSettings, MillimetresAreTwentyFivePointFourToTheInch) {
    const struct {
        double mm;
        int code, width, lines;  // ScanWidth (whole bytes), ScanLines1 (rows + the first line)
    } cases[] = {
        {25.4, 0, 200, 201},      {25.4, 2, 104, 101},   {25.4, 4, 304, 301}, {50.8, 4, 600, 601},
        {25.4, 1, 200, 303},                             // code 1: lines in threes
        {219.456, 0, 1728, 1729}, {216, 0, 1704, 1702},  // the track: 8.64 inches
        {219.456, 4, 2592, 2593}, {1000, 0, 1728, 2640}, {-3, 0, 64, 65},     {1000, 2, 864, 1320},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mm << " mm at code " << c.code);
        EXPECT_EQ(WidthForMm(c.mm, c.code), c.width);
        EXPECT_EQ(LinesForMm(c.mm, c.code), c.lines);
    }
    EXPECT_DOUBLE_EQ(MmOfLines(201, 0), 25.4);
    EXPECT_DOUBLE_EQ(MmOfDots(1728, 200), 219.456);
    EXPECT_EQ(DotsOfMm(25.4, 300), 300);
}

TEST(ScanSettings, ProfilesOutsideWhatIsOfferedAreNormalised) {
    ScanSettings s;
    s.scanMode = 9;
    s.resolution = -1;
    s.scanWidth = 0;
    s.scanLines = 100000;
    s.bwSlice = 700;
    const ScanSettings n = Normalised(s);
    EXPECT_EQ(n.scanMode, 0);
    EXPECT_EQ(n.resolution, 0);
    EXPECT_EQ(n.scanWidth, 64);
    EXPECT_EQ(n.scanLines, 2640);
    EXPECT_EQ(n.bwSlice, 255);
    // No length, or a negative one: every cheque's own length.
    s.scanLines = 0;
    EXPECT_EQ(Normalised(s).scanLines, 0);
    s.scanLines = -5;
    EXPECT_EQ(Normalised(s).scanLines, 0);
    EXPECT_EQ(PredictFrame(Normalised(s)).lines, -1);
    // What is offered stays as it is.
    ScanSettings fine;
    fine.resolution = 1;
    fine.scanLines = 300;
    EXPECT_EQ(Normalised(fine), fine);
}

TEST(ScanSettings, FrameOfLineartGrayAndWidenedPages) {
    ScanSettings s;  // 1728 x 800 lineart at 200 dpi
    FrameShape f = PredictFrame(s);
    EXPECT_EQ(f.depth, 1);
    EXPECT_EQ(f.pixelsPerLine, 1728);
    EXPECT_EQ(f.bytesPerLine, 216);
    EXPECT_EQ(f.lines, 799);
    s.scanMode = 3;
    s.scanWidth = 1000;
    f = PredictFrame(s);
    EXPECT_EQ(f.depth, 8);
    EXPECT_EQ(f.bytesPerLine, 1000);
    s.resolution = 1;
    s.scanWidth = 1728;
    s.scanMode = 0;
    f = PredictFrame(s);
    EXPECT_EQ(f.pixelsPerLine, 2592);
    EXPECT_EQ(f.bytesPerLine, 324);
    s.scanLines = 1;
    EXPECT_EQ(PredictFrame(s).lines, -1);
}

TEST(ScanSettings, ProfilesLoadByTheDriversRules) {
    const testing::TempDir temp("orvo-sane-settings");
    const fs::path file = temp / "OrvoScan.ini";
    std::ofstream(file) << "[Default]\nSide=0\nScanWidth=800\n"
                           "[Check]\nscanmode1=4\nResolution=2\nBWSlice1=77\n"
                           "[Misc]\nDFDetect=2\nEndorser=1\nSerialNo=99\n"
                           "EndorserFormat=$Y-$M-$D #$N and more than 35 characters\n";
    ScanSettings c = LoadProfile(file, "Check");
    EXPECT_EQ(c.side, 1);  // missing key: the driver's default
    EXPECT_EQ(c.scanMode, 4);
    EXPECT_EQ(c.resolution, 2);
    EXPECT_EQ(c.bwSlice, 77);
    EXPECT_EQ(c.scanWidth, 0);
    // Section Misc, for every profile; the pattern as the driver reads it.
    EXPECT_EQ(c.dfDetect, 2);
    EXPECT_EQ(c.endorser, 1);
    EXPECT_EQ(c.serialNo, 99);
    EXPECT_EQ(c.endorserFormat, "$Y-$M-$D #$N and more than 35 chara");
    // Section names must match byte for byte, otherwise "Default" is used.
    ScanSettings d = LoadProfile(file, "check");
    EXPECT_EQ(d.side, 0);
    EXPECT_EQ(d.scanWidth, 800);
}

}  // namespace
}  // namespace orvo::sane
