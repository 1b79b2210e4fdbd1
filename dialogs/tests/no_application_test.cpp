// The dialogs for a client that has no QApplication: without a display the
// calls fail cleanly (never ending the process), with one the client gets an
// application object for the duration of the dialog only.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <clocale>
#include <cstdlib>
#include <fstream>

#include "dialog_driver.h"
#include "harness.h"
#include "orvo/platform/profile.h"
#include "orvoscan.h"

namespace {

using namespace dialogs_test;
using orvo::sim::TheScanner;

const std::string kSettings = e2e::ChequeIni("Check", 1, 1, 0, 1728, 1600);

std::string Log() {
    return e2e::ReadText(e2e::SystemDir() + "log.txt");
}

// Runs when the dialog's own application object has been made.
std::function<void(QDialog&)> g_act;
void ActOnDialog() {
    if (g_act) OnDialog(std::move(g_act));
    g_act = nullptr;
}

class NoApplication : public ::testing::Test {
  protected:
    void SetUp() override {
        e2e::WriteSettings(kSettings);
        TheScanner().SetScenario(e2e::FastScenario(1));
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
    }
};

TEST_F(NoApplication, NoDisplayFailsWithoutWritingAndLeavesATrace) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    const std::vector<uint8_t> before = e2e::ReadBytes(e2e::SystemDir() + "OrvoScan.ini");
    EXPECT_EQ(OrvoScan_Setup(nullptr, "Check"), -9);
    EXPECT_EQ(OrvoScan_Setup(nullptr, "Brand new"), -9);
    EXPECT_EQ(OrvoScan_Setup_Qa(nullptr), -11);
    EXPECT_EQ(e2e::ReadBytes(e2e::SystemDir() + "OrvoScan.ini"), before);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
    EXPECT_NE(Log().find("Setup: no display (xcb: DISPLAY is not set"), std::string::npos) << Log();
    EXPECT_NE(Log().find("Setup_Qa: no display"), std::string::npos) << Log();
    EXPECT_EQ(QCoreApplication::instance(), nullptr);

    // An unreachable X display and a platform without its plugin alike.
    setenv("DISPLAY", ":97", 1);
    EXPECT_EQ(OrvoScan_Setup(nullptr, "Check"), -9);
    setenv("QT_QPA_PLATFORM", "nosuchplatform", 1);
    EXPECT_EQ(OrvoScan_Setup_Qa(nullptr), -11);
    EXPECT_NE(Log().find("xcb: cannot connect to display :97"), std::string::npos) << Log();
    EXPECT_NE(Log().find("nosuchplatform: no platform plugin"), std::string::npos) << Log();
}

TEST_F(NoApplication, ApplicationObjectLivesForTheDialogOnly) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string localeBefore = std::setlocale(LC_ALL, nullptr);
    bool hadApplication = false;
    g_act = [&](QDialog& d) {
        hadApplication = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
        Drag(d, 1005, 77);
        Click(d, 1);
    };
    ASSERT_EQ(OrvoScan_Setup(nullptr, "Check"), 0);
    EXPECT_TRUE(hadApplication);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), localeBefore);
    EXPECT_EQ(
        orvo::platform::ProfileInt("Check", "BWSlice1", -1, e2e::SystemDir() + "OrvoScan.ini"), 77);

    // Again, and the QA dialog: a new application object each time.
    g_act = [&](QDialog& d) {
        Drag(d, 1024, 9);
        Click(d, 1);
    };
    ASSERT_EQ(OrvoScan_Setup_Qa(nullptr), 0);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    ASSERT_EQ(TheScanner().QaWrites().size(), 1u);
    EXPECT_EQ(TheScanner().QaWrites()[0][9], 9);
}

TEST_F(NoApplication, CoreApplicationWithoutWidgetsIsRefused) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "core";
    char* argv[] = {name, nullptr};
    {
        QCoreApplication core(argc, argv);
        EXPECT_EQ(OrvoScan_Setup(nullptr, "Check"), -9);
        EXPECT_NE(Log().find("not a QApplication"), std::string::npos) << Log();
    }
}

// A plain C client that never opens a dialog loads no Qt; one that tries
// without a display gets the result codes and goes on.
TEST(CClient, NoGuiLibraryAndNoDisplay) {
    const e2e::ClientRun run = e2e::RunClient("dialogs", {{"ORVOSCAN_ASPI", "sim"},
                                                          {"ORVOSCAN_SYSTEM_DIR", e2e::SystemDir()},
                                                          {"ORVOSCAN_TRACE_DIR", e2e::SystemDir()},
                                                          {"DISPLAY", ""},
                                                          {"WAYLAND_DISPLAY", ""},
                                                          {"QT_QPA_PLATFORM", ""}});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.values.at("qt_before"), "0");
    EXPECT_EQ(run.values.at("setup"), "-9");
    EXPECT_EQ(run.values.at("setup_qa"), "-11");
    EXPECT_EQ(run.values.at("after"), "alive");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) starts nothing.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    setenv("TMPDIR", e2e::MakeTempDir("orvo-noapp-tmp").c_str(), 1);
    e2e::UseVirtualScanner(kSettings, 5.0);
    LinkCompanions(e2e::SystemDir());
    // The hook runs in the constructor of every application object.
    qAddPreRoutine(&ActOnDialog);
    TheScanner().SetScenario(e2e::FastScenario(1));
    if (OrvoScan_Init() != 0) {
        std::fprintf(stderr, "driver start failed\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
