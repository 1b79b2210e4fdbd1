// The two driver dialogs opened through the exported functions by a client
// with a QApplication (like the desktop utility), on the virtual scanner:
// what the operator changes by control id ends up in OrvoScan.ini and in
// the QA block the scanner receives.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <cstdlib>
#include <set>

#include "dialog_driver.h"
#include "harness.h"
#include "orvo/platform/profile.h"
#include "orvoscan.h"

namespace {

using namespace dialogs_test;
using orvo::sim::TheScanner;

std::string Ini() {
    return e2e::SystemDir() + "OrvoScan.ini";
}

int Key(const std::string& section, const std::string& key) {
    return orvo::platform::ProfileInt(section, key, -12345, Ini());
}

std::string TextKey(const std::string& section, const std::string& key) {
    return orvo::platform::ProfileString(section, key, "(none)", 256, Ini());
}

const std::string kSettings =
    e2e::Ini({{"Default",
               {{"Side", "1"},
                {"ScanWidth", "1728"},
                {"Resolution", "0"},
                {"ScanMode1", "1"},
                {"CompressMode", "0"},
                {"BWSlice1", "128"},
                {"ScanLines1", "1600"}}},
              {"Check",
               {{"Side", "1"},
                {"ScanWidth", "1728"},
                {"Resolution", "0"},
                {"ScanMode1", "1"},
                {"CompressMode", "0"},
                {"BWSlice1", "128"},
                {"ScanLines1", "1600"}}},
              {"Misc", {{"MicrDetect", "1"}, {"ImageFileFormat", "0"}, {"GrayTifCompress", "1"}}}});

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        e2e::WriteSettings(kSettings);
        orvo::sim::Scenario s = e2e::FastScenario(1);
        s.qaBlock = {7, 7, 32, 7, 7, 32, 5, 8, 4, 5, 0xAA, 0x55};
        TheScanner().SetScenario(s);
    }
};

TEST_F(DialogsTest, SetupShowsTheProfileAndOkStoresTheChanges) {
    QString caption;
    OnDialog([&](QDialog& d) {
        caption = d.windowTitle();
        EXPECT_EQ(Text(d, 1001), "216");
        EXPECT_EQ(Text(d, 1002), "200");
        EXPECT_EQ(Text(d, 1031), "128");
        EXPECT_TRUE(Control<QRadioButton>(d, 1019)->isChecked());  // scan mode 1
        EXPECT_TRUE(Control<QRadioButton>(d, 1029)->isChecked());  // compressed
        EXPECT_FALSE(Control<QLineEdit>(d, 1037)->isEnabled());    // endorser off
        Drag(d, 1005, 90);
        EXPECT_EQ(Text(d, 1031), "90");
        Click(d, 1014);  // front only
        Click(d, 1027);  // resolution 4
        Type(d, 1002, "150");
        Click(d, 1046);  // endorser mode 1
        Type(d, 1037, "$Y$M$D-$N4");
        Type(d, 1055, "5000");
        Click(d, 1060);  // scan count limit
        Type(d, 1058, "25");
        Click(d, 1057);  // bitmap files
        Click(d, 1);
    });
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
    EXPECT_EQ(caption, "Scanner Setup - Check");
    EXPECT_EQ(Key("Check", "BWSlice1"), 90);
    EXPECT_EQ(Key("Check", "Side"), 0);
    EXPECT_EQ(Key("Check", "Resolution"), 4);
    EXPECT_EQ(Key("Check", "ScanWidth"), 216 * 12);
    EXPECT_EQ(Key("Check", "ScanLines1"), 150 * 12);
    EXPECT_EQ(Key("Misc", "Endorser"), 1);
    EXPECT_EQ(TextKey("Misc", "EndorserFormat"), "$Y$M$D-$N4");
    EXPECT_EQ(Key("Misc", "SerialNo"), 5000);
    EXPECT_EQ(Key("Misc", "LimitScanCount"), 1);
    EXPECT_EQ(Key("Misc", "ScanCount"), 25);
    EXPECT_EQ(Key("Misc", "ImageFileFormat"), 1);
    EXPECT_EQ(Key("Default", "BWSlice1"), 128);

    // The next batch scans with what was stored.
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    int height = 0;
    const std::string out = e2e::MakeTempDir("orvo-dialog-out") + "A.bmp";
    EXPECT_EQ(OrvoScan_GetOneImage(out.c_str(), &height), 0);
    OrvoScan_EndBatch();
    ASSERT_FALSE(TheScanner().Windows().empty());
    EXPECT_EQ(TheScanner().Windows().back().bwSlice[0], 90);
}

TEST_F(DialogsTest, CancelWithEscapeStoresTheLoadedValues) {
    OnDialog([&](QDialog& d) {
        Drag(d, 1005, 3);
        Type(d, 1001, "100");
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    });
    // A new name: created from "Default".
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check2"), 0);
    EXPECT_EQ(Key("Check2", "BWSlice1"), 128);
    EXPECT_EQ(Key("Check2", "ScanWidth"), 1728);
}

TEST_F(DialogsTest, TypedNumbersAreBoundedToTheirFields) {
    OnDialog([&](QDialog& d) {
        EXPECT_EQ(Control<QLineEdit>(d, 1001)->maxLength(), 9);
        EXPECT_EQ(Control<QLineEdit>(d, 1037)->maxLength(), 35);
        Type(d, 1001, "999999999");
        Type(d, 1002, "-40");
        Type(d, 1003, "7x");
        Click(d, 1);
    });
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
    EXPECT_EQ(Key("Check", "ScanWidth"), 65528);
    EXPECT_EQ(Key("Check", "ScanLines1"), 0);
    EXPECT_EQ(Key("Check", "LeftOffset"), 7);
}

TEST_F(DialogsTest, SliderStepsWithTheKeyboardShowTheirValue) {
    OnDialog([&](QDialog& d) {
        auto* slider = Control<QSlider>(d, 1005);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_EQ(Text(d, 1031), "129");
        QTest::keyClick(slider, Qt::Key_PageUp);
        EXPECT_EQ(Text(d, 1031), QString::number(slider->value()));
        Click(d, 1);
    });
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
    EXPECT_GT(Key("Check", "BWSlice1"), 129);
}

TEST_F(DialogsTest, SetupTemplateHasEveryControl) {
    OnDialog([&](QDialog& d) {
        for (int id : {1, 2}) Control<QPushButton>(d, id);
        for (int id : {1001, 1002, 1003, 1004, 1037, 1055, 1058}) Control<QLineEdit>(d, id);
        Control<QSlider>(d, 1005);
        Control<QLabel>(d, 1031);
        for (int id = 1014; id <= 1030; ++id) Control<QRadioButton>(d, id);
        for (int id = 1045; id <= 1063; ++id) {
            if (id != 1055 && id != 1058) Control<QRadioButton>(d, id);
        }
        // The five scan modes read differently.
        std::set<QString> modes;
        for (int id = 1018; id <= 1022; ++id) modes.insert(Control<QRadioButton>(d, id)->text());
        EXPECT_EQ(modes.size(), 5u);
        // Each radio group is a group of its own.
        Click(d, 1015);
        Click(d, 1023);
        EXPECT_TRUE(Control<QRadioButton>(d, 1015)->isChecked());
        EXPECT_TRUE(Control<QRadioButton>(d, 1023)->isChecked());
        Click(d, 2);
    });
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
}

TEST_F(DialogsTest, RawFormatOpensWithoutAFormatAndGreyTiffDisabled) {
    e2e::WriteSettings(kSettings + "\n");
    orvo::platform::WriteProfileString("Misc", "ImageFileFormat", "2", Ini());
    OnDialog([&](QDialog& d) {
        EXPECT_FALSE(Control<QRadioButton>(d, 1056)->isChecked());
        EXPECT_FALSE(Control<QRadioButton>(d, 1057)->isChecked());
        for (int id = 1061; id <= 1063; ++id)
            EXPECT_FALSE(Control<QRadioButton>(d, id)->isEnabled());
        Click(d, 1);
    });
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
    EXPECT_EQ(Key("Misc", "ImageFileFormat"), 2);
}

TEST_F(DialogsTest, DialogIsOwnedByTheCallersWidget) {
    QWidget owner;
    owner.setWindowTitle("owner");
    owner.show();
    QWidget* parent = nullptr;
    OnDialog([&](QDialog& d) {
        parent = d.parentWidget();
        Click(d, 2);
    });
    ASSERT_EQ(OrvoScan_Setup(&owner, "Check"), 0);
    EXPECT_EQ(parent, &owner);

    // Something that is not a widget of this application is no owner.
    int notAWidget = 0;
    OnDialog([&](QDialog& d) {
        parent = d.parentWidget();
        Click(d, 2);
    });
    ASSERT_EQ(OrvoScan_Setup(&notAWidget, "Check"), 0);
    EXPECT_EQ(parent, nullptr);
}

TEST_F(DialogsTest, QaShowsTheScannersValuesAndOkWritesThem) {
    OnDialog([&](QDialog& d) {
        EXPECT_EQ(Text(d, 1006), "0");
        EXPECT_EQ(Text(d, 1008), "32");
        EXPECT_EQ(Text(d, 1025), "5");
        EXPECT_EQ(Control<QSlider>(d, 1010)->maximum(), 63);
        EXPECT_EQ(Control<QSlider>(d, 1017)->maximum(), 7);
        Drag(d, 1003, 0);
        EXPECT_EQ(Text(d, 1006), "-7");
        Drag(d, 1016, 15);
        EXPECT_EQ(Text(d, 1021), "15");
        Click(d, 1);
    });
    ASSERT_EQ(OrvoScan_Setup_Qa(nullptr), 0);
    const auto writes = TheScanner().QaWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (std::array<uint8_t, 12>{0, 7, 32, 7, 7, 32, 5, 15, 4, 5, 0, 0}));
}

TEST_F(DialogsTest, QaCancelWritesNothingAndActionsReachTheScanner) {
    OnDialog([&](QDialog& d) {
        EXPECT_TRUE(Control<QRadioButton>(d, 1000)->isChecked());
        Click(d, 1002);
        Click(d, 1001);
        Click(d, 1002);
        Drag(d, 1009, 14);
        Click(d, 2);
    });
    ASSERT_EQ(OrvoScan_Setup_Qa(nullptr), 0);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
    EXPECT_EQ(TheScanner().QaActions(), (std::vector<uint8_t>{0x40, 0x41}));

    // The choice of action is kept for the next opening.
    OnDialog([&](QDialog& d) {
        EXPECT_TRUE(Control<QRadioButton>(d, 1001)->isChecked());
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ASSERT_EQ(OrvoScan_Setup_Qa(nullptr), 0);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
}

TEST_F(DialogsTest, MissingCompanionLibrariesWriteNothing) {
    const std::string dir = e2e::SystemDir();
    const std::vector<uint8_t> before = e2e::ReadBytes(Ini());
    UnlinkCompanion(dir, "libK4TRRsrc.so");
    UnlinkCompanion(dir, "libK4TRQa.so");
    EXPECT_EQ(OrvoScan_Setup(nullptr, "Check"), -9);
    EXPECT_EQ(OrvoScan_Setup(nullptr, "New"), -9);
    EXPECT_EQ(OrvoScan_Setup_Qa(nullptr), -11);
    LinkCompanions(dir);
    EXPECT_EQ(e2e::ReadBytes(Ini()), before);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
    const std::vector<uint8_t> log = e2e::ReadBytes(dir + "log.txt");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("Setup: " + dir + "libK4TRRsrc.so"), std::string::npos) << text;
    EXPECT_NE(text.find("Setup_Qa: " + dir + "libK4TRQa.so"), std::string::npos) << text;

    // A library without the entry point counts as missing.
    const std::string fake = dir + "libK4TRQa.so";
    UnlinkCompanion(dir, "libK4TRQa.so");
    ASSERT_EQ(
        symlink((std::string(ORVO_BUILD_SYSTEM_DIR) + "/libwnaspi32.so").c_str(), fake.c_str()), 0);
    EXPECT_EQ(OrvoScan_Setup_Qa(nullptr), -11);
    LinkCompanions(dir);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) starts nothing.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    // Offscreen: no window reaches a screen, and grab() gives what it would show.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TMPDIR", e2e::MakeTempDir("orvo-dialogs-tmp").c_str(), 1);
    e2e::UseVirtualScanner(kSettings, 5.0);
    LinkCompanions(e2e::SystemDir());
    QApplication app(argc, argv);
    TheScanner().SetScenario(e2e::FastScenario(1));
    if (OrvoScan_Init() != 0) {
        std::fprintf(stderr, "driver start failed\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
