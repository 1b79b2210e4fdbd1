// Profile values, their units and the frame they give.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "orvo/testing/temp_dir.h"
#include "scan_settings.h"

namespace orvo::sane {
namespace {

namespace fs = std::filesystem;

TEST(ScanSettings, ResolutionCodesAndTheirUnits) {
    EXPECT_EQ(UnitsOf(0).dpi, 200);
    EXPECT_EQ(UnitsOf(1).dpi, 300);
    EXPECT_EQ(UnitsOf(1).pixelsPerMm, 8);  // widened by 1.5 to 12 per mm
    EXPECT_EQ(UnitsOf(1).linesPerMm, 12);
    EXPECT_EQ(UnitsOf(2).dpi, 100);
    EXPECT_EQ(UnitsOf(3).dpi, 200);
    EXPECT_EQ(UnitsOf(4).pixelsPerMm, 12);
    EXPECT_EQ(UnitsOf(5).linesPerMm, 4);
    EXPECT_EQ(UnitsOf(9).dpi, 200);
    EXPECT_EQ(CodeForDpi(100), 2);
    EXPECT_EQ(CodeForDpi(200), 0);
    EXPECT_EQ(CodeForDpi(300), 4);
}

TEST(ScanSettings, WidthsAreWholeBytesWithinTheTrack) {
    EXPECT_EQ(WidthForMm(216, 0), 1728);
    EXPECT_EQ(WidthForMm(216, 4), 2592);
    EXPECT_EQ(WidthForMm(216, 2), 864);
    EXPECT_EQ(WidthForMm(212.5, 0), 1704);  // 1700 rounded up to whole bytes
    EXPECT_EQ(WidthForMm(1000, 0), 1728);
    EXPECT_EQ(WidthForMm(-3, 0), 64);
    EXPECT_EQ(WidthForMm(100.3, 0) % 8, 0);
}

TEST(ScanSettings, LengthsAtCode1AreMultiplesOf3) {
    EXPECT_EQ(LinesForMm(25, 0), 200);
    EXPECT_EQ(LinesForMm(25, 4), 300);
    EXPECT_EQ(LinesForMm(10.1, 1), 123);  // 121.2 -> 121 -> 123
    EXPECT_EQ(LinesForMm(5000, 4), 3960);
    EXPECT_EQ(LinesForMm(0, 2), 32);
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
                           "[Check]\nscanmode1=4\nResolution=2\nBWSlice1=77\n";
    ScanSettings c = LoadProfile(file, "Check");
    EXPECT_EQ(c.side, 1);  // missing key: the driver's default
    EXPECT_EQ(c.scanMode, 4);
    EXPECT_EQ(c.resolution, 2);
    EXPECT_EQ(c.bwSlice, 77);
    EXPECT_EQ(c.scanWidth, 0);
    // Section names must match byte for byte, otherwise "Default" is used.
    ScanSettings d = LoadProfile(file, "check");
    EXPECT_EQ(d.side, 0);
    EXPECT_EQ(d.scanWidth, 800);
}

}  // namespace
}  // namespace orvo::sane
