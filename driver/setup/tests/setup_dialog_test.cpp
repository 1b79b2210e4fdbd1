// The settings dialog's procedure on a dialog without a screen.
#include <gtest/gtest.h>

#include <climits>

#include "fake_controls.h"
#include "orvo/setup/setup_dialog.h"

namespace orvo {
namespace {

using test::FakeControls;
namespace id = setup_id;

Settings Bilevel(int resolution, int width, int lines) {
    Settings s;
    s.Resolution = resolution;
    s.ScanWidth = width;
    s.ScanLines[0] = lines;
    s.ScanMode[0] = 1;
    s.BWSlice[0] = 128;
    return s;
}

struct OpenedSetup {
    explicit OpenedSetup(const Settings& loaded, const std::string& profile = "Check")
        : settings(loaded),
          dialog(test::SetupTemplateIds(), "Scanner Setup"),
          procedure(settings, profile) {
        procedure.OnInit(dialog);
    }
    void Click(int control) { dialog.Click(procedure, control); }

    Settings settings;
    FakeControls dialog;
    SetupDialog procedure;
};

void ExpectSameStored(const Settings& a, const Settings& b) {
    EXPECT_EQ(a.Side, b.Side);
    EXPECT_EQ(a.LED, b.LED);
    EXPECT_EQ(a.ScanWidth, b.ScanWidth);
    EXPECT_EQ(a.Resolution, b.Resolution);
    EXPECT_EQ(a.ScanMode[0], b.ScanMode[0]);
    EXPECT_EQ(a.CompressMode, b.CompressMode);
    EXPECT_EQ(a.BWSlice[0], b.BWSlice[0]);
    EXPECT_EQ(a.ScanLines[0], b.ScanLines[0]);
    EXPECT_EQ(a.LeftOffset, b.LeftOffset);
    EXPECT_EQ(a.TopMargin, b.TopMargin);
    EXPECT_EQ(a.Endorser, b.Endorser);
    EXPECT_EQ(a.DFDetect, b.DFDetect);
    EXPECT_EQ(a.MicrDetect, b.MicrDetect);
    EXPECT_EQ(a.SerialNo, b.SerialNo);
    EXPECT_EQ(a.ImageFileFormat, b.ImageFileFormat);
    EXPECT_EQ(a.GrayTifCompress, b.GrayTifCompress);
    EXPECT_EQ(a.LimitScanCount, b.LimitScanCount);
    EXPECT_EQ(a.ScanCount, b.ScanCount);
    EXPECT_EQ(a.EndorserFormat, b.EndorserFormat);
}

TEST(SetupDialogUnits, MillimetresAtCodeZeroAndFour) {
    OpenedSetup zero(Bilevel(0, 1728, 1600));
    EXPECT_EQ(zero.dialog.Text(id::kWidth), "216");
    EXPECT_EQ(zero.dialog.Text(id::kLength), "200");
    zero.Click(id::kOk);
    EXPECT_EQ(zero.dialog.Ended(), 1);
    EXPECT_EQ(zero.settings.ScanWidth, 1728);
    EXPECT_EQ(zero.settings.ScanLines[0], 1600);

    OpenedSetup four(Bilevel(4, 2592, 1200));
    EXPECT_EQ(four.dialog.Text(id::kWidth), "216");
    EXPECT_EQ(four.dialog.Text(id::kLength), "100");
    four.Click(id::kOk);
    EXPECT_EQ(four.settings.ScanWidth, 2592);
    EXPECT_EQ(four.settings.ScanLines[0], 1200);
}

TEST(SetupDialogUnits, CodeTwoWidthBecomesAMultipleOfEight) {
    OpenedSetup two(Bilevel(2, 852, 400));
    EXPECT_EQ(two.settings.ScanWidth, 856);  // kept in the current settings
    EXPECT_EQ(two.dialog.Text(id::kWidth), "214");
    EXPECT_EQ(two.dialog.Text(id::kLength), "100");
    two.dialog.Type(id::kWidth, "213");
    two.Click(id::kOk);
    EXPECT_EQ(two.settings.ScanWidth, 856);
}

TEST(SetupDialogUnits, OtherFactorsAndUnknownCodes) {
    OpenedSetup one(Bilevel(1, 1728, 1200));
    EXPECT_EQ(one.dialog.Text(id::kLength), "100");  // 12 lines per mm
    OpenedSetup five(Bilevel(5, 2592, 400));
    EXPECT_EQ(five.dialog.Text(id::kWidth), "216");
    EXPECT_EQ(five.dialog.Text(id::kLength), "100");
    five.dialog.Type(id::kLength, "150");
    five.Click(id::kOk);
    EXPECT_EQ(five.settings.ScanLines[0], 600);

    // A code without factors: the edits are neither filled nor read.
    OpenedSetup seven(Bilevel(7, 1234, 567));
    EXPECT_EQ(seven.dialog.Text(id::kWidth), "");
    seven.dialog.Type(id::kWidth, "100");
    seven.Click(id::kOk);
    EXPECT_EQ(seven.settings.ScanWidth, 1234);
    EXPECT_EQ(seven.settings.ScanLines[0], 567);
}

TEST(SetupDialogUnits, NewResolutionConvertsTheShownMillimetres) {
    OpenedSetup o(Bilevel(0, 1728, 1600));
    o.Click(id::kResolution + 4);
    EXPECT_TRUE(o.dialog.Checked(id::kResolution + 4));
    EXPECT_FALSE(o.dialog.Checked(id::kResolution));
    EXPECT_EQ(o.dialog.Text(id::kWidth), "216");  // not converted while shown
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.Resolution, 4);
    EXPECT_EQ(o.settings.ScanWidth, 2592);
    EXPECT_EQ(o.settings.ScanLines[0], 2400);
}

TEST(SetupDialog, OkWithoutChangesStoresWhatWasLoaded) {
    Settings s = Bilevel(0, 1728, 800);
    s.Side = 0;
    s.LED = 1;
    s.LeftOffset = 12;
    s.TopMargin = 34;
    s.Endorser = 2;
    s.DFDetect = 1;
    s.MicrDetect = 2;
    s.SerialNo = 16'000'000;
    s.ImageFileFormat = 1;
    s.GrayTifCompress = 2;
    s.LimitScanCount = 1;
    s.ScanCount = 250;
    s.EndorserFormat = "$Y$M$D-$N6";
    OpenedSetup o(s);
    o.Click(id::kOk);
    ExpectSameStored(o.settings, s);
}

TEST(SetupDialog, RawFormatOpensWithNoFormatCheckedAndGreyTiffDisabled) {
    Settings s = Bilevel(0, 1728, 800);
    s.ImageFileFormat = 2;
    OpenedSetup o(s);
    EXPECT_FALSE(o.dialog.Checked(id::kImageFileFormat));
    EXPECT_FALSE(o.dialog.Checked(id::kImageFileFormat + 1));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(o.dialog.Enabled(id::kGrayTifCompress + i));
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.ImageFileFormat, 2);

    OpenedSetup clicked(s);
    clicked.Click(id::kImageFileFormat);  // TIFF
    EXPECT_TRUE(clicked.dialog.Checked(id::kImageFileFormat));
    // The grey TIFF choice keeps the enabling it opened with.
    EXPECT_FALSE(clicked.dialog.Enabled(id::kGrayTifCompress));
    clicked.Click(id::kOk);
    EXPECT_EQ(clicked.settings.ImageFileFormat, 0);
}

TEST(SetupDialog, ValuesOutsideAGroupLeaveItUnchecked) {
    Settings s = Bilevel(0, 1728, 800);
    s.Side = 5;
    s.MicrDetect = -1;
    OpenedSetup o(s);
    EXPECT_FALSE(o.dialog.Checked(id::kSide));
    EXPECT_FALSE(o.dialog.Checked(id::kSide + 1));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(o.dialog.Checked(id::kMicrDetect + i));
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.Side, 5);
    EXPECT_EQ(o.settings.MicrDetect, -1);
}

TEST(SetupDialog, EveryRadioGroupTakesItsClick) {
    OpenedSetup o(Bilevel(0, 1728, 800));
    const int clicks[] = {id::kSide + 1,           id::kLamp + 1,
                          id::kScanMode + 4,       id::kCompression + 1,
                          id::kEndorser + 3,       id::kDFDetect + 2,
                          id::kMicrDetect + 1,     id::kImageFileFormat + 1,
                          id::kLimitScanCount + 1, id::kGrayTifCompress + 2};
    for (int c : clicks) o.Click(c);
    for (int c : clicks) EXPECT_TRUE(o.dialog.Checked(c)) << c;
    EXPECT_FALSE(o.dialog.Checked(id::kSide));
    o.Click(id::kOk);
    const Settings& s = o.settings;
    EXPECT_EQ(s.Side, 1);
    EXPECT_EQ(s.LED, 1);
    EXPECT_EQ(s.ScanMode[0], 4);
    EXPECT_EQ(s.CompressMode, 1);
    EXPECT_EQ(s.Endorser, 3);
    EXPECT_EQ(s.DFDetect, 2);
    EXPECT_EQ(s.MicrDetect, 1);
    EXPECT_EQ(s.ImageFileFormat, 1);
    EXPECT_EQ(s.LimitScanCount, 1);
    EXPECT_EQ(s.GrayTifCompress, 2);
}

TEST(SetupDialog, CompressionFollowsTheScanMode) {
    Settings s = Bilevel(0, 1728, 800);
    s.ScanMode[0] = 1;
    s.CompressMode = 0;
    OpenedSetup o(s);
    EXPECT_TRUE(o.dialog.Checked(id::kCompression));
    EXPECT_TRUE(o.dialog.Enabled(id::kCompression));

    // Bilevel modes 0 and 2 and 16-level grey: uncompressed, not choosable.
    for (int mode : {0, 2, 3}) {
        o.Click(id::kScanMode + mode);
        EXPECT_TRUE(o.dialog.Checked(id::kCompression + 1)) << mode;
        EXPECT_FALSE(o.dialog.Checked(id::kCompression)) << mode;
        EXPECT_FALSE(o.dialog.Enabled(id::kCompression)) << mode;
        EXPECT_FALSE(o.dialog.Enabled(id::kCompression + 1)) << mode;
    }
    // Modes 1 and 4 show the working compression, now 1, and allow a choice.
    for (int mode : {1, 4}) {
        o.Click(id::kScanMode + mode);
        EXPECT_TRUE(o.dialog.Checked(id::kCompression + 1)) << mode;
        EXPECT_TRUE(o.dialog.Enabled(id::kCompression)) << mode;
        EXPECT_TRUE(o.dialog.Enabled(id::kCompression + 1)) << mode;
    }
    o.Click(id::kCompression);
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.ScanMode[0], 4);
    EXPECT_EQ(o.settings.CompressMode, 0);
}

TEST(SetupDialog, FixedCompressionKeepsTheLoadedValueUntilAModeIsClicked) {
    Settings s = Bilevel(0, 1728, 800);
    s.ScanMode[0] = 0;
    s.CompressMode = 0;
    OpenedSetup kept(s);
    EXPECT_TRUE(kept.dialog.Checked(id::kCompression + 1));
    EXPECT_FALSE(kept.dialog.Enabled(id::kCompression));
    kept.Click(id::kOk);
    EXPECT_EQ(kept.settings.CompressMode, 0);

    OpenedSetup clicked(s);
    clicked.Click(id::kScanMode + 2);
    clicked.Click(id::kOk);
    EXPECT_EQ(clicked.settings.CompressMode, 1);
}

TEST(SetupDialog, EndorserAndScanCountEnableTheirEdits) {
    Settings s = Bilevel(0, 1728, 800);
    s.Endorser = 0;
    s.LimitScanCount = 0;
    OpenedSetup o(s);
    EXPECT_FALSE(o.dialog.Enabled(id::kEndorserFormat));
    EXPECT_FALSE(o.dialog.Enabled(id::kSerialNo));
    EXPECT_FALSE(o.dialog.Enabled(id::kScanCount));
    o.Click(id::kEndorser + 1);
    EXPECT_TRUE(o.dialog.Enabled(id::kEndorserFormat));
    EXPECT_TRUE(o.dialog.Enabled(id::kSerialNo));
    o.Click(id::kEndorser);
    EXPECT_FALSE(o.dialog.Enabled(id::kEndorserFormat));
    EXPECT_FALSE(o.dialog.Enabled(id::kSerialNo));
    o.Click(id::kLimitScanCount + 1);
    EXPECT_TRUE(o.dialog.Enabled(id::kScanCount));
    o.Click(id::kLimitScanCount);
    EXPECT_FALSE(o.dialog.Enabled(id::kScanCount));

    s.Endorser = 3;
    s.LimitScanCount = 1;
    OpenedSetup on(s);
    EXPECT_TRUE(on.dialog.Enabled(id::kEndorserFormat));
    EXPECT_TRUE(on.dialog.Enabled(id::kSerialNo));
    EXPECT_TRUE(on.dialog.Enabled(id::kScanCount));
}

TEST(SetupDialog, ThresholdSliderShowsItsValue) {
    Settings s = Bilevel(0, 1728, 800);
    s.BWSlice[0] = 90;
    OpenedSetup o(s);
    EXPECT_EQ(o.dialog.SliderAt(id::kThreshold).min, 0);
    EXPECT_EQ(o.dialog.SliderAt(id::kThreshold).max, 255);
    EXPECT_EQ(o.dialog.SliderAt(id::kThreshold).pos, 90);
    EXPECT_EQ(o.dialog.Text(id::kThresholdText), "90");
    o.dialog.MoveSlider(o.procedure, id::kThreshold, 200);
    EXPECT_EQ(o.dialog.Text(id::kThresholdText), "200");
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.BWSlice[0], 200);
}

TEST(SetupDialog, CancelAfterMovingTheSliderChangesNothing) {
    Settings s = Bilevel(0, 1728, 800);
    s.BWSlice[0] = 90;
    OpenedSetup o(s);
    o.dialog.MoveSlider(o.procedure, id::kThreshold, 10);
    o.Click(id::kEndorser + 2);
    o.dialog.Type(id::kWidth, "100");
    o.Click(id::kCancel);
    EXPECT_EQ(o.dialog.Ended(), 0);
    ExpectSameStored(o.settings, s);
}

TEST(SetupDialog, CaptionNamesTheProfile) {
    OpenedSetup o(Bilevel(0, 1728, 800), "Check2");
    EXPECT_EQ(o.dialog.CaptionText(), "Scanner Setup - Check2");
}

TEST(SetupDialog, EditsReadNineCharactersAndTheEndorserPatternThirtyFive) {
    OpenedSetup o(Bilevel(0, 1728, 800));
    o.dialog.Type(id::kWidth, "0000000216");  // the tenth character is not read
    o.dialog.Type(id::kEndorserFormat, std::string(35, 'A') + "BC");
    o.dialog.Type(id::kSerialNo, "12abc");
    o.dialog.Type(id::kScanCount, "abc");
    o.dialog.Type(id::kTopMargin, "  +7");
    o.Click(id::kOk);
    EXPECT_EQ(o.settings.ScanWidth, 21 * 8);
    EXPECT_EQ(o.settings.EndorserFormat, std::string(35, 'A'));
    EXPECT_EQ(o.settings.SerialNo, 12);
    EXPECT_EQ(o.settings.ScanCount, 0);
    EXPECT_EQ(o.settings.TopMargin, 7);
}

TEST(SetupDialog, UntouchedEndorserPatternKeepsBytesTheEditCannotShow) {
    Settings s = Bilevel(0, 1728, 800);
    s.EndorserFormat = "\xB9\xF8\xC8\xA3$N5";  // CP949 text
    Settings stored = s;
    FakeControls dialog(test::SetupTemplateIds(), "Scanner Setup");
    dialog.MakeLossy(id::kEndorserFormat);
    SetupDialog procedure(stored, "Check");
    procedure.OnInit(dialog);
    EXPECT_EQ(dialog.Text(id::kEndorserFormat), "????$N5");
    dialog.Click(procedure, id::kOk);
    EXPECT_EQ(stored.EndorserFormat, s.EndorserFormat);

    Settings edited = s;
    SetupDialog again(edited, "Check");
    FakeControls dialog2(test::SetupTemplateIds(), "Scanner Setup");
    again.OnInit(dialog2);
    dialog2.Type(id::kEndorserFormat, "No.$N5");
    dialog2.Click(again, id::kOk);
    EXPECT_EQ(edited.EndorserFormat, "No.$N5");
}

// Typed numbers are kept within what the scanner's window can carry: no int
// overflow in the millimetre conversion, no negative sizes.
TEST(SetupDialog, NumbersAreBoundedToTheirFields) {
    OpenedSetup big(Bilevel(4, 2592, 1200));
    big.dialog.Type(id::kWidth, "999999999");  // x 12 overflows an int
    big.dialog.Type(id::kLength, "-20");
    big.dialog.Type(id::kLeftOffset, "300");
    big.dialog.Type(id::kTopMargin, "-1");
    big.dialog.Type(id::kSerialNo, "99999999999");
    big.dialog.Type(id::kScanCount, "40000");
    big.Click(id::kOk);
    EXPECT_EQ(big.settings.ScanWidth, 65532);  // 5461 mm
    EXPECT_EQ(big.settings.ScanLines[0], 0);
    EXPECT_EQ(big.settings.LeftOffset, 255);
    EXPECT_EQ(big.settings.TopMargin, 0);
    EXPECT_EQ(big.settings.SerialNo, 16'777'215);
    EXPECT_EQ(big.settings.ScanCount, 32'767);

    OpenedSetup neg(Bilevel(0, 1728, 800));
    neg.dialog.Type(id::kWidth, "-216");
    neg.dialog.Type(id::kLength, "99999999");
    neg.Click(id::kOk);
    EXPECT_EQ(neg.settings.ScanWidth, 0);
    EXPECT_EQ(neg.settings.ScanLines[0], 65528);

    // At code 2 the largest width stays a multiple of 8 within 16 bits.
    OpenedSetup two(Bilevel(2, 856, 400));
    two.dialog.Type(id::kWidth, "20000");
    two.Click(id::kOk);
    EXPECT_EQ(two.settings.ScanWidth, 65528);
}

TEST(SetupDialogUnits, StoredSizes) {
    EXPECT_EQ(StoredWidth(216, 0), 1728);
    EXPECT_EQ(StoredWidth(213, 2), 856);
    EXPECT_EQ(StoredWidth(214, 2), 856);
    EXPECT_EQ(StoredWidth(INT_MAX, 5), 65532);
    EXPECT_EQ(StoredWidth(-5, 1), 0);
    EXPECT_EQ(StoredLength(100, 1), 1200);
    EXPECT_EQ(StoredLength(INT_MAX, 5), 65532);
    EXPECT_EQ(StoredLength(INT_MIN, 0), 0);
}

TEST(SetupDialogUnits, LeadingNumber) {
    EXPECT_EQ(LeadingNumber("42", INT_MIN, INT_MAX), 42);
    EXPECT_EQ(LeadingNumber(" \t-17mm", INT_MIN, INT_MAX), -17);
    EXPECT_EQ(LeadingNumber("+", INT_MIN, INT_MAX), 0);
    EXPECT_EQ(LeadingNumber("", INT_MIN, INT_MAX), 0);
    EXPECT_EQ(LeadingNumber("x12", INT_MIN, INT_MAX), 0);
    EXPECT_EQ(LeadingNumber("2147483647", INT_MIN, INT_MAX), INT_MAX);
    EXPECT_EQ(LeadingNumber("2147483648", INT_MIN, INT_MAX), INT_MAX);
    EXPECT_EQ(LeadingNumber("-2147483648", INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(LeadingNumber("-99999999999999999999", INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(LeadingNumber("300", 0, 255), 255);
    EXPECT_EQ(LeadingNumber("-3", 0, 255), 0);
}

}  // namespace
}  // namespace orvo
