#include "orvo/core/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "orvo/platform/profile.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo {
namespace {

using platform::ProfileInt;
using platform::ProfileSectionNames;
using platform::ProfileString;

class SettingsTest : public ::testing::Test {
  protected:
    void Put(const std::string& text) { testing::WriteText(file_, text); }
    std::string Contents() const { return testing::ReadText(file_); }
    Settings Load(const std::string& profile) {
        Settings s;
        s.Side = -99;  // every field is overwritten by a load
        s.GrayTifCompress = -99;
        s.DocumentType = -99;
        s.EndorserFormat = "stale";
        LoadProfile(profile, file_, s);
        return s;
    }

    const testing::TempDir dir_{"settings_test"};
    const std::string file_ = dir_ / "OrvoScan.ini";
};

const char kTwoProfiles[] =
    "[Default]\nSide=0\nLED=1\nResolution=2\nScanWidth=1000\nScanMode1=3\nBWSlice1=128\n"
    "ScanLines1=700\nCompressMode=1\nLeftOffset=4\nTopMargin=6\n"
    "[Check2]\nSide=1\nResolution=0\nScanWidth=1700\nScanMode1=0\nScanLines1=800\n"
    "ScanMode2=1\nBWSlice2=90\nScanLines2=801\nScanMode3=2\nBWSlice3=91\nScanLines3=802\n"
    "[Misc]\nLimitScanCount=1\nScanCount=25\nSerialNo=16777215\nDFDetect=2\nMicrDetect=1\n"
    "Endorser=3\nEndorserFormat=NO.$N6 $Y/$M/$D\nImageFileFormat=1\nGrayTifCompress=2\n"
    "Date=20030514\nPrevDocu=Check2\n";

TEST_F(SettingsTest, MissingFileGivesDefaultsAndWritesNothing) {
    const Settings s = Load("Check2");
    EXPECT_EQ(s.Side, 1);
    EXPECT_EQ(s.LED, 0);
    EXPECT_EQ(s.Resolution, 0);
    EXPECT_EQ(s.ScanWidth, 0);
    EXPECT_EQ(s.ScanMode[0], 0);
    EXPECT_EQ(s.ScanLines[2], 0);
    EXPECT_EQ(s.CompressMode, 0);
    EXPECT_EQ(s.LimitScanCount, 0);
    EXPECT_EQ(s.SerialNo, 0);
    EXPECT_EQ(s.Endorser, 0);
    EXPECT_EQ(s.EndorserFormat, "");
    EXPECT_EQ(s.ImageFileFormat, 0);
    EXPECT_EQ(s.GrayTifCompress, 1);
    EXPECT_EQ(s.DocumentType, 0);
    // Every value reads as it loads: nothing to write back, no file made.
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(SettingsTest, ExistingProfileIsLoadedWithItsDocumentType) {
    Put(kTwoProfiles);
    const Settings s = Load("Check2");
    EXPECT_EQ(s.Side, 1);
    EXPECT_EQ(s.LED, 0);
    EXPECT_EQ(s.ScanWidth, 1704);
    EXPECT_EQ(s.ScanMode[0], 0);
    EXPECT_EQ(s.ScanLines[0], 800);
    EXPECT_EQ(s.ScanMode[1], 1);
    EXPECT_EQ(s.BWSlice[1], 90);
    EXPECT_EQ(s.ScanLines[1], 801);
    EXPECT_EQ(s.ScanMode[2], 2);
    EXPECT_EQ(s.BWSlice[2], 91);
    EXPECT_EQ(s.ScanLines[2], 802);
    EXPECT_EQ(s.DocumentType, 1);
    EXPECT_EQ(s.LimitScanCount, 1);
    EXPECT_EQ(s.ScanCount, 25);
    EXPECT_EQ(s.SerialNo, 16777215);
    EXPECT_EQ(s.DFDetect, 2);
    EXPECT_EQ(s.MicrDetect, 1);
    EXPECT_EQ(s.Endorser, 3);
    EXPECT_EQ(s.EndorserFormat, "NO.$N6 $Y/$M/$D");
    EXPECT_EQ(s.ImageFileFormat, 1);
    EXPECT_EQ(s.GrayTifCompress, 2);
}

TEST_F(SettingsTest, MissingProfileFallsBackToDefaultAndItsName) {
    Put(kTwoProfiles);
    const Settings s = Load("Check7");
    EXPECT_EQ(s.Side, 0);
    EXPECT_EQ(s.LED, 1);
    EXPECT_EQ(s.Resolution, 2);
    EXPECT_EQ(s.ScanWidth, 1000);
    EXPECT_EQ(s.ScanMode[0], 3);
    EXPECT_EQ(s.BWSlice[0], 128);
    EXPECT_EQ(s.ScanLines[0], 700);
    EXPECT_EQ(s.CompressMode, 1);
    EXPECT_EQ(s.LeftOffset, 4);
    EXPECT_EQ(s.TopMargin, 6);
    EXPECT_EQ(s.DocumentType, 0);  // "Default" is matched, not "Check7"
    EXPECT_EQ(ProfileSectionNames(file_), (std::vector<std::string>{"Default", "Check2", "Misc"}));
}

TEST_F(SettingsTest, ProfileNameMustMatchByteForByte) {
    Put(kTwoProfiles);
    const Settings s = Load("check2");
    EXPECT_EQ(s.Side, 0);  // the Default section's
    EXPECT_EQ(s.ScanWidth, 1000);
    EXPECT_EQ(s.DocumentType, 0);
    // Check2 itself was not touched by the write-backs.
    EXPECT_EQ(ProfileInt("Check2", "ScanWidth", 0, file_), 1700);
}

TEST_F(SettingsTest, ScanWidthRoundedAtResolutionsZeroAndOne) {
    struct Case {
        int resolution, width, expected;
    };
    const Case cases[] = {
        {0, 1700, 1704},
        {0, 1704, 1704},
        {0, 1, 8},
        {0, 0, 0},
        {1, 1700, 1704},
        {1, 1697, 1704},
        {2, 1700, 1700},
        {3, 1701, 1701},
        {5, 13, 13},
        // Negative widths: to a multiple of 4, then of 8, truncating toward zero.
        {0, -1, 0},
        {0, -9, 0},
        {0, -20, -8},
        {0, -24, -8},
        {1, -17, 0},
        // Wraps like a 32-bit value instead of overflowing.
        {0, 2147483647, -2147483632},
    };
    for (const Case& c : cases) {
        Put("[Default]\nResolution=" + std::to_string(c.resolution) +
            "\nScanWidth=" + std::to_string(c.width) + "\n");
        const Settings s = Load("Default");
        EXPECT_EQ(s.ScanWidth, c.expected) << c.resolution << " " << c.width;
        EXPECT_EQ(ProfileInt("Default", "ScanWidth", 12345, file_), c.expected);
    }
}

TEST_F(SettingsTest, ScanWidthThatReadsAsItLoadsIsLeftAsWritten) {
    Put("[Default]\nResolution=2\nScanWidth=0x40 \n");
    EXPECT_EQ(Load("Default").ScanWidth, 0);
    EXPECT_EQ(ProfileString("Default", "ScanWidth", "", 64, file_), "0x40");
}

TEST_F(SettingsTest, ScanLinesRoundedToMultipleOfThreeAtResolutionOne) {
    Put("[Default]\nResolution=1\nScanLines1=100\nScanLines2=99\nScanLines3=-1\n");
    const Settings s = Load("Default");
    EXPECT_EQ(s.ScanLines[0], 102);
    EXPECT_EQ(s.ScanLines[1], 99);
    EXPECT_EQ(s.ScanLines[2], 3);
    EXPECT_EQ(ProfileInt("Default", "ScanLines1", 0, file_), 102);
    EXPECT_EQ(ProfileInt("Default", "ScanLines2", 0, file_), 99);
    EXPECT_EQ(ProfileInt("Default", "ScanLines3", 0, file_), 3);

    Put("[Default]\nResolution=0\nScanLines1=100\n");
    EXPECT_EQ(Load("Default").ScanLines[0], 100);
    EXPECT_EQ(ProfileInt("Default", "ScanLines1", 0, file_), 100);
}

TEST_F(SettingsTest, EndorserFormatCutTo35Characters) {
    const std::string longFormat(50, 'x');
    Put("[Misc]\nEndorserFormat=" + longFormat + "\n");
    EXPECT_EQ(Load("Default").EndorserFormat, std::string(35, 'x'));
}

TEST_F(SettingsTest, StoreWritesKeysInOrderAndCreatesTheProfile) {
    Put("[Default]\nSide=0\nLED=1\nResolution=1\nScanWidth=1700\nScanMode1=4\nScanLines1=100\n");
    Settings s = Load("Check9");
    s.EndorserFormat = "$Y$M$D";
    s.SerialNo = 77;
    StoreProfile("Check9", file_, s);
    EXPECT_EQ(ProfileSectionNames(file_), (std::vector<std::string>{"Default", "Check9", "Misc"}));
    const std::string text = Contents();
    const std::string check9 =
        "[Check9]\nSide=0\nLED=1\nScanWidth=1704\nResolution=1\nScanMode1=4\nCompressMode=0\n"
        "BWSlice1=0\nScanLines1=102\nLeftOffset=0\nTopMargin=0\n";
    const std::string misc =
        "[Misc]\nEndorser=0\nDFDetect=0\nMicrDetect=0\nSerialNo=77\nImageFileFormat=0\n"
        "GrayTifCompress=1\nLimitScanCount=0\nScanCount=0\nEndorserFormat=$Y$M$D\n";
    EXPECT_NE(text.find(check9), std::string::npos) << text;
    EXPECT_NE(text.find(misc), std::string::npos) << text;

    // The stored profile loads back as it was.
    const Settings again = Load("Check9");
    EXPECT_EQ(again.ScanWidth, 1704);
    EXPECT_EQ(again.ScanLines[0], 102);
    EXPECT_EQ(again.ScanMode[0], 4);
    EXPECT_EQ(again.SerialNo, 77);
    EXPECT_EQ(again.EndorserFormat, "$Y$M$D");
    EXPECT_EQ(again.DocumentType, 1);
}

TEST_F(SettingsTest, StoreIntWritesDecimalText) {
    ASSERT_TRUE(StoreInt("Misc", "ImageFileFormat", 2, file_));
    ASSERT_TRUE(StoreInt("Misc", "SerialNo", -5, file_));
    EXPECT_EQ(Contents(), "[Misc]\nImageFileFormat=2\nSerialNo=-5\n");
    EXPECT_FALSE(StoreInt("Misc", "SerialNo", 1, dir_ / "no/such/dir/OrvoScan.ini"));
}

TEST_F(SettingsTest, DocumentTypeOfEachNameInBothEncodings) {
    const char* cp949[] = {
        "Check",
        "\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE",
        "\xC7\xA5\xC1\xD8\xC1\xF6\xB7\xCE",
        "MICR\xC0\xE5\xC7\xA5",
        "A\xC0\xE5\xC7\xA5",
        "\xC0\xFC\xB1\xE2\xBF\xE4\xB1\xDD",
        "\xC0\xFC\xC8\xAD\xBF\xE4\xB1\xDD",
        "\xC0\xC7\xB7\xE1\xBA\xB8\xC7\xE8",
    };
    const char* utf8[] = {
        "Check",
        "\xEC\x9D\xBC\xEB\xB0\x98\xEC\xA7\x80\xEB\xA1\x9C",
        "\xED\x91\x9C\xEC\xA4\x80\xEC\xA7\x80\xEB\xA1\x9C",
        "MICR\xEC\x9E\xA5\xED\x91\x9C",
        "A\xEC\x9E\xA5\xED\x91\x9C",
        "\xEC\xA0\x84\xEA\xB8\xB0\xEC\x9A\x94\xEA\xB8\x88",
        "\xEC\xA0\x84\xED\x99\x94\xEC\x9A\x94\xEA\xB8\x88",
        "\xEC\x9D\x98\xEB\xA3\x8C\xEB\xB3\xB4\xED\x97\x98",
    };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(DocumentTypeIndex(cp949[i]), i + 1) << i;
        EXPECT_EQ(DocumentTypeIndex(utf8[i]), i + 1) << i;
        EXPECT_EQ(DocumentTypeIndex(std::string(cp949[i]) + " 2"), i + 1) << i;
        EXPECT_EQ(DocumentTypeIndex(std::string(utf8[i]) + "-B"), i + 1) << i;
    }
    EXPECT_EQ(DocumentTypeIndex(""), 0);
    EXPECT_EQ(DocumentTypeIndex("Default"), 0);
    EXPECT_EQ(DocumentTypeIndex("check"), 0);
    EXPECT_EQ(DocumentTypeIndex("Chec"), 0);
    EXPECT_EQ(DocumentTypeIndex("MyCheck"), 0);
    EXPECT_EQ(DocumentTypeIndex("A"), 0);
    EXPECT_EQ(DocumentTypeIndex("MICR"), 0);
    // Half a Hangul syllable is no match.
    EXPECT_EQ(DocumentTypeIndex("\xC0\xCF\xB9\xDD\xC1\xF6\xB7"), 0);
}

TEST_F(SettingsTest, LoadedProfileInUtf8GetsItsDocumentType) {
    const std::string bill = "\xEC\xA0\x84\xEA\xB8\xB0\xEC\x9A\x94\xEA\xB8\x88 2024";
    Put("[" + bill + "]\nSide=0\n");
    const Settings s = Load(bill);
    EXPECT_EQ(s.Side, 0);
    EXPECT_EQ(s.DocumentType, 6);
}

}  // namespace
}  // namespace orvo
