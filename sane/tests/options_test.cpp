// The option table: values, constraints, and what a change tells the frontend.
#include <gtest/gtest.h>
#include <sane/saneopts.h>

#include <cstring>
#include <map>
#include <string>

#include "orvo/sane/options.h"

namespace orvo::sane {
namespace {

ScanSettings Profile(int side, int mode, int resolution, int width, int lines) {
    ScanSettings s;
    s.side = side;
    s.scanMode = mode;
    s.resolution = resolution;
    s.scanWidth = width;
    s.scanLines = lines;
    return s;
}

// Millimetres of an option value; SANE_Fixed holds them to 1/65536.
double Mm(SANE_Word w) {
    return SANE_UNFIX(w);
}
constexpr double kFixedSlack = 1e-4;

class OptionsTest : public ::testing::Test {
  protected:
    OptionsTest()
        : options_({"Check", "Gray", "Wide", "Whole"}, "Check", [this](const std::string& p) {
              ++reads_[p];
              return profiles_.at(p);
          }) {}

    std::string GetString(int index) {
        char value[256] = {};
        EXPECT_EQ(options_.Control(index, SANE_ACTION_GET_VALUE, value, nullptr), SANE_STATUS_GOOD);
        return value;
    }
    SANE_Word GetWord(int index) {
        SANE_Word w = -1;
        EXPECT_EQ(options_.Control(index, SANE_ACTION_GET_VALUE, &w, nullptr), SANE_STATUS_GOOD);
        return w;
    }
    SANE_Status SetString(int index, const std::string& text, SANE_Int* info) {
        char value[256] = {};
        std::strcpy(value, text.c_str());
        const SANE_Status s = options_.Control(index, SANE_ACTION_SET_VALUE, value, info);
        lastString_ = value;
        return s;
    }
    SANE_Status SetWord(int index, SANE_Word w, SANE_Int* info) {
        const SANE_Status s = options_.Control(index, SANE_ACTION_SET_VALUE, &w, info);
        lastWord_ = w;
        return s;
    }

    std::map<std::string, ScanSettings> profiles_ = {
        {"Check", Profile(1, 0, 0, 1728, 201)},  // 200 rows: an inch
        {"Gray", Profile(0, 3, 2, 800, 400)},
        {"Wide", Profile(0, 1, 1, 1000, 100)},  // width rounded up to 1000; lines to 102
        {"Whole", Profile(1, 0, 0, 1728, 0)},   // no scan length: every cheque's own
    };
    std::map<std::string, int> reads_;
    Options options_;
    std::string lastString_;
    SANE_Word lastWord_ = 0;
};

TEST_F(OptionsTest, TheInitialProfileIsLoaded) {
    EXPECT_EQ(reads_["Check"], 1);
    EXPECT_EQ(GetString(kOptProfile), "Check");
    EXPECT_EQ(GetString(kOptSource), "ADF Duplex");
    EXPECT_EQ(GetString(kOptMode), "Lineart");
    EXPECT_EQ(GetWord(kOptResolution), 200);
    EXPECT_NEAR(Mm(GetWord(kOptBrX)), 219.456, kFixedSlack);  // 1728 pixels
    EXPECT_NEAR(Mm(GetWord(kOptBrY)), 25.4, kFixedSlack);
    EXPECT_EQ(GetWord(kOptNumOptions), kOptCount);
    EXPECT_EQ(GetString(kOptMicr), "");
}

TEST_F(OptionsTest, AnUnknownInitialProfileGivesTheFirst) {
    Options other({"A", "B"}, "Z", [](const std::string&) { return ScanSettings{}; });
    char value[8] = {};
    ASSERT_EQ(other.Control(kOptProfile, SANE_ACTION_GET_VALUE, value, nullptr), SANE_STATUS_GOOD);
    EXPECT_STREQ(value, "A");
    Options none({}, "", [](const std::string&) { return ScanSettings{}; });
    EXPECT_STREQ(none.Descriptor(kOptProfile)->constraint.string_list[0], "Default");
}

TEST_F(OptionsTest, DescriptorsFollowSaneNames) {
    EXPECT_STREQ(options_.Descriptor(kOptSource)->name, SANE_NAME_SCAN_SOURCE);
    EXPECT_STREQ(options_.Descriptor(kOptMode)->name, SANE_NAME_SCAN_MODE);
    EXPECT_STREQ(options_.Descriptor(kOptResolution)->name, SANE_NAME_SCAN_RESOLUTION);
    EXPECT_EQ(options_.Descriptor(kOptResolution)->unit, SANE_UNIT_DPI);
    EXPECT_STREQ(options_.Descriptor(kOptBrX)->name, SANE_NAME_SCAN_BR_X);
    EXPECT_EQ(options_.Descriptor(kOptBrX)->unit, SANE_UNIT_MM);
    EXPECT_STREQ(options_.Descriptor(kOptBrY)->name, SANE_NAME_SCAN_BR_Y);
    EXPECT_STREQ(options_.Descriptor(kOptThreshold)->name, SANE_NAME_THRESHOLD);
    // The profile list fits its option size.
    EXPECT_EQ(options_.Descriptor(kOptProfile)->size, 6);
    EXPECT_EQ(options_.Descriptor(kOptCount), nullptr);
    EXPECT_EQ(options_.Descriptor(-1), nullptr);
}

TEST_F(OptionsTest, ChoosingAProfileReloadsEverything) {
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptProfile, "Gray", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_EQ(GetString(kOptSource), "ADF Front");
    EXPECT_EQ(GetString(kOptMode), "Gray");
    EXPECT_EQ(GetWord(kOptResolution), 100);
    EXPECT_NEAR(Mm(GetWord(kOptBrX)), 203.2, kFixedSlack);  // 800 pixels at 100 dpi
    EXPECT_EQ(options_.settings().scanMode, 3);             // 16 levels kept
    // Set again: read again (the file may have changed).
    ASSERT_EQ(SetString(kOptProfile, "Gray", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(reads_["Gray"], 2);
    EXPECT_EQ(SetString(kOptProfile, "Nope", &info), SANE_STATUS_INVAL);
    EXPECT_EQ(options_.profile(), "Gray");
}

TEST_F(OptionsTest, StringListsTakeTheListedSpelling) {
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptMode, "gray", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(lastString_, "Gray");
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
    EXPECT_EQ(SetString(kOptMode, "Color", &info), SANE_STATUS_INVAL);
    EXPECT_EQ(SetString(kOptSource, "", &info), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, ModeKeepsTheProfilesOwnBilevelOrGrayMode) {
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptProfile, "Wide", &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetString(kOptMode, "Lineart", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanMode, 1);
    ASSERT_EQ(SetString(kOptMode, "Gray", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanMode, 4);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    ASSERT_EQ(SetString(kOptMode, "Lineart", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanMode, 0);
}

TEST_F(OptionsTest, ThresholdOnlyForLineart) {
    SANE_Int info = 0;
    EXPECT_TRUE(SANE_OPTION_IS_ACTIVE(options_.Descriptor(kOptThreshold)->cap));
    ASSERT_EQ(SetWord(kOptThreshold, 300, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(lastWord_, 255);
    EXPECT_EQ(info, SANE_INFO_INEXACT);
    ASSERT_EQ(SetString(kOptMode, "Gray", &info), SANE_STATUS_GOOD);
    EXPECT_FALSE(SANE_OPTION_IS_ACTIVE(options_.Descriptor(kOptThreshold)->cap));
    SANE_Word w = 0;
    EXPECT_EQ(options_.Control(kOptThreshold, SANE_ACTION_GET_VALUE, &w, nullptr),
              SANE_STATUS_INVAL);
    EXPECT_EQ(SetWord(kOptThreshold, 10, &info), SANE_STATUS_INVAL);
    EXPECT_EQ(options_.settings().bwSlice, 255);
}

TEST_F(OptionsTest, ResolutionKeepsTheScanAreaInMillimetres) {
    SANE_Int info = 0;
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptResolution, 300, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_EQ(options_.settings().resolution, 4);
    EXPECT_EQ(options_.settings().scanWidth, 2592);
    EXPECT_EQ(options_.settings().scanLines, 301);
    SANE_Parameters p = options_.Parameters();
    EXPECT_EQ(p.pixels_per_line, 2592);
    EXPECT_EQ(p.lines, 300);
    // Not in the list: the nearest.
    ASSERT_EQ(SetWord(kOptResolution, 120, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(lastWord_, 100);
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
    EXPECT_EQ(options_.settings().scanWidth, 864);
}

TEST_F(OptionsTest, AProfilesCodeForTheSameResolutionIsKept) {
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptProfile, "Wide", &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(GetWord(kOptResolution), 300);
    ASSERT_EQ(SetWord(kOptResolution, 300, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().resolution, 1);
    EXPECT_EQ(options_.Parameters().pixels_per_line, 1500);  // 1000 widened by 1.5
    EXPECT_EQ(options_.settings().scanLines, 102);
}

TEST_F(OptionsTest, ScanAreaIsRoundedAndBounded) {
    SANE_Int info = 0;
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptBrX, SANE_FIX(101.6), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_PARAMS);
    EXPECT_EQ(options_.Parameters().pixels_per_line, 800);
    EXPECT_EQ(options_.Parameters().bytes_per_line, 100);
    ASSERT_EQ(SetWord(kOptBrX, SANE_FIX(100.3), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT);
    EXPECT_NEAR(Mm(lastWord_), 100.584, kFixedSlack);  // 790 pixels, up to 792
    ASSERT_EQ(SetWord(kOptBrX, SANE_FIX(500), &info), SANE_STATUS_GOOD);
    EXPECT_NEAR(Mm(lastWord_), 219.456, kFixedSlack);
    ASSERT_EQ(SetWord(kOptBrY, SANE_FIX(2), &info), SANE_STATUS_GOOD);
    EXPECT_NEAR(Mm(lastWord_), 8.128, kFixedSlack);
    EXPECT_EQ(options_.Parameters().lines, 64);
}

TEST_F(OptionsTest, ReadOnlyAndStructuralOptionsRefuseChanges) {
    SANE_Int info = 0;
    EXPECT_EQ(SetString(kOptMicr, "0123", &info), SANE_STATUS_INVAL);
    EXPECT_EQ(SetWord(kOptNumOptions, 3, &info), SANE_STATUS_INVAL);
    SANE_Word w = 0;
    EXPECT_EQ(options_.Control(kOptGroupGeometry, SANE_ACTION_GET_VALUE, &w, nullptr),
              SANE_STATUS_INVAL);
    EXPECT_EQ(options_.Control(kOptMode, SANE_ACTION_SET_AUTO, nullptr, &info), SANE_STATUS_INVAL);
    EXPECT_EQ(options_.Control(kOptMode, SANE_ACTION_SET_AUTO, &w, &info), SANE_STATUS_INVAL);
    EXPECT_EQ(options_.Control(kOptCount, SANE_ACTION_GET_VALUE, &w, &info), SANE_STATUS_INVAL);
    EXPECT_EQ(options_.Control(kOptMode, SANE_ACTION_GET_VALUE, nullptr, &info), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, MicrValueFitsItsOption) {
    options_.SetMicr("0" + std::string(60, '1'));
    EXPECT_EQ(GetString(kOptMicr).size(), static_cast<std::size_t>(kMicrValueSize - 1));
    options_.SetMicr("1T02?000021T");
    EXPECT_EQ(GetString(kOptMicr), "1T02?000021T");
}

TEST_F(OptionsTest, EveryChequeToItsOwnLengthUnlessAFixedLengthIsAskedFor) {
    SANE_Int info = 0;
    // On by default, whatever the profile and the bottom edge say.
    EXPECT_EQ(GetWord(kOptAutoLength), SANE_TRUE);
    EXPECT_TRUE(SANE_OPTION_IS_ACTIVE(options_.Descriptor(kOptBrY)->cap));
    ASSERT_EQ(SetWord(kOptBrY, SANE_FIX(330), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.Parameters().lines, -1);  // known once a page is there
    EXPECT_EQ(options_.settings().scanLines, 0);
    ASSERT_EQ(SetString(kOptProfile, "Whole", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanLines, 0);
    ASSERT_EQ(SetWord(kOptResolution, 300, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanLines, 0);
    // Off: the bottom edge; a profile without a length has the starter
    // profiles' 4 inches.
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_NEAR(Mm(GetWord(kOptBrY)), 101.6, kFixedSlack);
    EXPECT_EQ(options_.Parameters().lines, 1200);
    ASSERT_EQ(SetWord(kOptBrY, SANE_FIX(50.8), &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_TRUE, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanLines, 0);
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().scanLines, 601);
    EXPECT_EQ(SetWord(kOptAutoLength, 2, &info), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, TheScanAreaWithinTheDocument) {
    SANE_Int info = 0;
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    // Check: 1728 x 200 pixels at 200 dpi. A corner past the far edges gives
    // the last 64 pixels before them; the scanner scans from the edges all the same.
    const struct {
        double tlX, tlY, brX;
        int left, top, pixels, lines, scanWidth;
    } cases[] = {
        {0, 0, 219.456, 0, 0, 1728, 200, 1728},   {12.7, 6.35, 219.456, 100, 50, 1628, 150, 1728},
        {12.73, 0, 101.6, 100, 0, 700, 200, 800}, {150, 0, 101.6, 736, 0, 64, 200, 800},
        {0, 30, 219.456, 0, 136, 1728, 64, 1728},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SetWord(kOptBrX, SANE_FIX(c.brX), &info), SANE_STATUS_GOOD);
        ASSERT_EQ(SetWord(kOptTlX, SANE_FIX(c.tlX), &info), SANE_STATUS_GOOD);
        ASSERT_EQ(SetWord(kOptTlY, SANE_FIX(c.tlY), &info), SANE_STATUS_GOOD);
        EXPECT_EQ(options_.Crop().leftPixels, c.left) << c.tlX;
        EXPECT_EQ(options_.Crop().topRows, c.top) << c.tlY;
        EXPECT_EQ(options_.Parameters().pixels_per_line, c.pixels) << c.tlX;
        EXPECT_EQ(options_.Parameters().bytes_per_line, (c.pixels + 7) / 8) << c.tlX;
        EXPECT_EQ(options_.Parameters().lines, c.lines) << c.tlY;
        EXPECT_EQ(options_.settings().scanWidth, c.scanWidth) << c.brX;
    }
    // The document size bounds the corners and edges, and its ranges follow.
    ASSERT_EQ(SetWord(kOptPageHeight, SANE_FIX(20.32), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_NEAR(Mm(GetWord(kOptBrY)), 20.32, kFixedSlack);
    EXPECT_NEAR(Mm(GetWord(kOptTlY)), 12.192, kFixedSlack);
    EXPECT_NEAR(Mm(options_.Descriptor(kOptTlY)->constraint.range->max), 12.192, kFixedSlack);
    ASSERT_EQ(SetWord(kOptTlX, SANE_FIX(300), &info), SANE_STATUS_GOOD);
    EXPECT_NEAR(Mm(lastWord_), 211.328, kFixedSlack);
    EXPECT_EQ(info, SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT);
    // Code 1 pages are widened: the corner counts 300 pixels per inch of them.
    ASSERT_EQ(SetString(kOptProfile, "Wide", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(GetWord(kOptTlX), 0);  // a profile brings its own area
    ASSERT_EQ(SetWord(kOptTlX, SANE_FIX(25.4), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.Parameters().pixels_per_line, 1500 - 300);
}

// An inch is as many pixels as the resolution says, in every direction, and
// the ranges step by whole pixels.
TEST_F(OptionsTest, AnInchSquareIsTheResolutionInPixels) {
    SANE_Int info = 0;
    ASSERT_EQ(SetWord(kOptAutoLength, SANE_FALSE, &info), SANE_STATUS_GOOD);
    for (const SANE_Word dpi : {100, 200, 300}) {
        SCOPED_TRACE(dpi);
        ASSERT_EQ(SetWord(kOptResolution, dpi, &info), SANE_STATUS_GOOD);
        for (const int option : {kOptTlX, kOptTlY}) {
            ASSERT_EQ(SetWord(option, SANE_FIX(25.4), &info), SANE_STATUS_GOOD);
            EXPECT_EQ(info & SANE_INFO_INEXACT, 0);
            EXPECT_NEAR(Mm(options_.Descriptor(option)->constraint.range->quant), 25.4 / dpi,
                        kFixedSlack);
        }
        for (const int option : {kOptBrX, kOptBrY})
            ASSERT_EQ(SetWord(option, SANE_FIX(50.8), &info), SANE_STATUS_GOOD);
        EXPECT_EQ(options_.Crop().leftPixels, dpi);
        EXPECT_EQ(options_.Crop().topRows, dpi);
        EXPECT_EQ(options_.Parameters().pixels_per_line, dpi);
        EXPECT_EQ(options_.Parameters().lines, dpi);
        // The widest area: the 1728 pixels at 200 dpi of the track.
        EXPECT_NEAR(Mm(options_.Descriptor(kOptPageWidth)->constraint.range->max), 219.456,
                    kFixedSlack);
    }
}

// With every cheque to its own length, the document length is the longest
// frame delivered; without, the bottom edge ends every page.
TEST_F(OptionsTest, TheDocumentLengthEndsWholeChequesThere) {
    SANE_Int info = 0;
    const struct {
        SANE_Word dpi;
        double pageHeight;
        bool autoLength;
        int longestRows;
    } cases[] = {
        {200, 100, true, 787},
        {300, 25.4, true, 300},
        {100, 335.28, true, 1320},
        {200, 100, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pageHeight);
        ASSERT_EQ(SetWord(kOptResolution, c.dpi, &info), SANE_STATUS_GOOD);
        ASSERT_EQ(SetWord(kOptAutoLength, c.autoLength, &info), SANE_STATUS_GOOD);
        ASSERT_EQ(SetWord(kOptPageHeight, SANE_FIX(c.pageHeight), &info), SANE_STATUS_GOOD);
        EXPECT_EQ(options_.Crop().longestRows, c.longestRows);
    }
}

// The double-feed and endorser settings come from the profile's file and
// go to the scan; the frame's side is read-only.
TEST_F(OptionsTest, DoubleFeedEndorserAndSide) {
    profiles_["Check"].dfDetect = 2;
    profiles_["Check"].endorser = 0;
    profiles_["Check"].serialNo = 41;
    profiles_["Check"].endorserFormat = "PAID $N";
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptProfile, "Check", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(GetString(kOptDoubleFeed), "Mode 2");
    EXPECT_EQ(GetString(kOptEndorser), "Off");
    EXPECT_FALSE(SANE_OPTION_IS_ACTIVE(options_.Descriptor(kOptEndorserString)->cap));
    ASSERT_EQ(SetString(kOptDoubleFeed, "Off", &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetString(kOptEndorser, "mode 3", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_INEXACT);
    EXPECT_TRUE(SANE_OPTION_IS_ACTIVE(options_.Descriptor(kOptEndorserString)->cap));
    EXPECT_EQ(SetString(kOptDoubleFeed, "Mode 3", &info), SANE_STATUS_INVAL);
    ASSERT_EQ(SetWord(kOptEndorserValue, 20000000, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(lastWord_, 16777215);
    // One line of the settings file, at most 35 characters.
    const struct {
        std::string pattern;
        SANE_Status status;
    } patterns[] = {
        {"$Y-$M-$D #$N", SANE_STATUS_GOOD},        {std::string(35, 'x'), SANE_STATUS_GOOD},
        {std::string(36, 'x'), SANE_STATUS_INVAL}, {"PAID\n[Check]\nSide=0", SANE_STATUS_INVAL},
        {"tab\there", SANE_STATUS_INVAL},
    };
    for (const auto& p : patterns) {
        EXPECT_EQ(SetString(kOptEndorserString, p.pattern, &info), p.status) << p.pattern;
    }
    const ScanSettings taken = options_.settings();
    EXPECT_EQ(taken.dfDetect, 0);
    EXPECT_EQ(taken.endorser, 3);
    EXPECT_EQ(taken.serialNo, 16777215);
    EXPECT_EQ(taken.endorserFormat, std::string(35, 'x'));
    // The side of the frame: set by the scan, never by a frontend.
    EXPECT_EQ(GetWord(kOptSide), SANE_FALSE);
    options_.SetRear(true);
    EXPECT_EQ(GetWord(kOptSide), SANE_TRUE);
    EXPECT_EQ(SetWord(kOptSide, SANE_FALSE, &info), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, SourceKeepsAProfilesTwoSidedValue) {
    profiles_["Check"].side = 2;
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptProfile, "Check", &info), SANE_STATUS_GOOD);
    ASSERT_EQ(SetString(kOptSource, "ADF Duplex", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().side, 2);
    ASSERT_EQ(SetString(kOptSource, "ADF Front", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().side, 0);
    EXPECT_EQ(info, 0);
    // The names of earlier versions: taken, the value left as given.
    ASSERT_EQ(SetString(kOptSource, "Duplex", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(options_.settings().side, 1);
    EXPECT_EQ(info, SANE_INFO_INEXACT);
    EXPECT_EQ(lastString_, "Duplex");
    ASSERT_EQ(SetString(kOptSource, "front", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(GetString(kOptSource), "ADF Front");
    EXPECT_EQ(SetString(kOptSource, "ADF Back", &info), SANE_STATUS_INVAL);
}

}  // namespace
}  // namespace orvo::sane
