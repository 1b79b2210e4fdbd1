// The two dialog calls with a stand-in for the companion library: what is
// loaded, shown, stored and sent to the (virtual) scanner.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "fake_controls.h"
#include "orvo/core/driver_state.h"
#include "orvo/platform/clock.h"
#include "orvo/platform/profile.h"
#include "orvo/setup/qa_dialog.h"
#include "orvo/setup/setup_calls.h"
#include "orvo/setup/setup_dialog.h"
#include "orvo/sim/scanner.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"
#include "orvo/transport/transport.h"
#include "wnaspi32.h"

namespace orvo {
namespace {

using sim::TheScanner;
using test::FakeControls;
namespace op = sim::op;

std::string g_dir;

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        // In /tmp, where an operator can reach it.
        dir_.emplace("orvo-setup-test", "/tmp");
        g_dir = dir_->dir();
        setenv("ORVOSCAN_ASPI", "sim", 1);
        setenv("ORVOSCAN_TRACE_DIR", g_dir.c_str(), 1);
        setenv("ORVOSCAN_TIME_SCALE", "50", 1);
        sim::Scenario quiet;
        quiet.latency = sim::kNoLatency;
        TheScanner().SetScenario(quiet);
        const uint32_t info = GetASPI32SupportInfo();
        ASSERT_TRUE(DiscoverScanner(static_cast<int>(info & 0xFF)));
        DriverState& state = State();
        state.systemDir = g_dir;
        state.tempDir = g_dir;
        state.settingsPath = g_dir + "OrvoScan.ini";
    }
    void TearDown() override { dir_.reset(); }

  private:
    std::optional<testing::TempDir> dir_;
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// Stands in for a companion library: each step can fail, and the dialog is
// a FakeControls on which `operate` acts like an operator.
class FakeRunner : public DialogRunner {
  public:
    bool loads = true;
    bool canShow = true;
    bool runs = true;
    std::function<void(FakeControls&, DialogProcedure&)> operate;
    int shown = 0;
    std::string caption;

    bool Load(std::string& why) override {
        if (!loads) why = "libK4TRRsrc.so: cannot open shared object file";
        return loads;
    }
    bool CanShow(int, void*, std::string& why) override {
        if (!canShow) why = "no display";
        return canShow;
    }
    int Run(int templateId, void*, DialogProcedure& procedure, std::string& why) override {
        if (!runs) {
            why = "the form could not be built";
            return -1;
        }
        ++shown;
        FakeControls dialog(
            templateId == kSetupTemplate ? test::SetupTemplateIds() : test::QaTemplateIds(),
            templateId == kSetupTemplate ? "Scanner Setup" : "QA Settings");
        procedure.OnInit(dialog);
        if (operate) operate(dialog, procedure);
        caption = dialog.CaptionText();
        return dialog.Ended().value_or(0);
    }
};

using testing::ReadText;
using testing::WriteText;

const std::string& Ini() {
    return State().settingsPath;
}

int Key(const std::string& section, const std::string& key) {
    return platform::ProfileInt(section, key, -12345, Ini());
}

constexpr char kTwoProfiles[] =
    "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=1\nBWSlice1=100\nScanLines1=800\n"
    "\n[Check]\nSide=0\nScanWidth=1600\nResolution=0\nScanMode1=1\nBWSlice1=200\n"
    "ScanLines1=1200\n\n[Misc]\nMicrDetect=1\n";

class SetupCall : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteText(Ini(), kTwoProfiles);
        std::filesystem::remove(g_dir + "log.txt");
    }
    std::string Log() { return ReadText(g_dir + "log.txt"); }
};

TEST_F(SetupCall, OkStoresTheOperatorsValues) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        EXPECT_EQ(d.Text(setup_id::kWidth), "200");
        d.MoveSlider(p, setup_id::kThreshold, 150);
        d.Click(p, setup_id::kSide + 1);
        d.Type(setup_id::kLength, "120");
        d.Click(p, setup_id::kOk);
    };
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), 0);
    EXPECT_EQ(runner.caption, "Scanner Setup - Check");
    EXPECT_EQ(Key("Check", "BWSlice1"), 150);
    EXPECT_EQ(Key("Check", "Side"), 1);
    EXPECT_EQ(Key("Check", "ScanLines1"), 960);
    EXPECT_EQ(Key("Check", "ScanWidth"), 1600);
    EXPECT_EQ(Key("Default", "BWSlice1"), 100);
    EXPECT_EQ(State().settings.BWSlice[0], 150);
}

// Another program stores the format and a width while the dialog is open:
// OK writes over a stored value only what the operator changed.
TEST_F(SetupCall, OkKeepsWhatAnotherProgramStoredMeanwhile) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        ASSERT_TRUE(platform::WriteProfileString("Misc", "ImageFileFormat", "2", Ini()));
        ASSERT_TRUE(platform::WriteProfileString("Check", "ScanWidth", "1728", Ini()));
        d.MoveSlider(p, setup_id::kThreshold, 150);
        d.Click(p, setup_id::kOk);
    };
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), 0);
    EXPECT_EQ(Key("Check", "BWSlice1"), 150);
    EXPECT_EQ(Key("Misc", "ImageFileFormat"), 2);
    EXPECT_EQ(Key("Check", "ScanWidth"), 1728);
    EXPECT_EQ(Key("Misc", "GrayTifCompress"), 1);  // not there before: stored as shown
}

TEST_F(SetupCall, CancelStillStoresTheLoadedProfile) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        d.MoveSlider(p, setup_id::kThreshold, 3);
        d.Click(p, setup_id::kCancel);
    };
    // A new name becomes a profile with the values of "Default".
    EXPECT_EQ(RunSetup(nullptr, "Check2", runner), 0);
    EXPECT_EQ(Key("Check2", "BWSlice1"), 100);
    EXPECT_EQ(Key("Check2", "ScanWidth"), 1728);
    EXPECT_EQ(Key("Check2", "Side"), 1);
    EXPECT_EQ(Key("Misc", "ImageFileFormat"), 0);
}

// A name that differs from a profile only in letter case is stored into that
// profile's section; the dialog shows that profile, not "Default", so Cancel
// cannot overwrite it with other values.
TEST_F(SetupCall, NameInOtherLetterCaseEditsThatProfile) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        EXPECT_EQ(d.Text(setup_id::kThresholdText), "200");
        d.Click(p, setup_id::kCancel);
    };
    EXPECT_EQ(RunSetup(nullptr, "CHECK", runner), 0);
    EXPECT_EQ(runner.caption, "Scanner Setup - CHECK");
    EXPECT_EQ(Key("Check", "BWSlice1"), 200);
    EXPECT_EQ(Key("Check", "Side"), 0);
    EXPECT_EQ(Key("Check", "ScanLines1"), 1200);
    const auto sections = platform::ProfileSectionNames(Ini());
    EXPECT_EQ(sections, (std::vector<std::string>{"Default", "Check", "Misc"}));
}

TEST_F(SetupCall, MissingLibraryWritesNothing) {
    FakeRunner runner;
    runner.loads = false;
    const std::string before = ReadText(Ini());
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), -9);
    EXPECT_EQ(runner.shown, 0);
    EXPECT_EQ(ReadText(Ini()), before);
    EXPECT_NE(Log().find("Setup: libK4TRRsrc.so: cannot open shared object file"),
              std::string::npos);
}

TEST_F(SetupCall, NoDisplayWritesNothing) {
    // Resolution 1 would round ScanLines1 on a load and write it back.
    WriteText(Ini(), "[Check]\nResolution=1\nScanLines1=100\nScanWidth=1700\n");
    const std::string before = ReadText(Ini());
    const Settings loaded = State().settings;
    FakeRunner runner;
    runner.canShow = false;
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), -9);
    EXPECT_EQ(ReadText(Ini()), before);
    EXPECT_NE(Log().find("Setup: no display"), std::string::npos);
    EXPECT_NE(Log().find("[     -9]"), std::string::npos);

    FakeRunner broken;
    broken.runs = false;
    EXPECT_EQ(RunSetup(nullptr, "Check", broken), -9);
    EXPECT_EQ(State().settings.ScanLines[0], loaded.ScanLines[0]);
    EXPECT_EQ(Key("Check", "BWSlice1"), -12345);
}

TEST_F(SetupCall, NamesThatCannotBeSectionsAreRefusedBeforeTheDialog) {
    const std::string before = ReadText(Ini());
    for (const char* name : {"", " Check", "Check\t", "a]b", "two\nlines"}) {
        FakeRunner runner;
        EXPECT_EQ(RunSetup(nullptr, name, runner), -14) << name;
        EXPECT_EQ(runner.shown, 0);
    }
    FakeRunner runner;
    EXPECT_EQ(RunSetup(nullptr, nullptr, runner), -14);
    EXPECT_EQ(ReadText(Ini()), before);
}

TEST_F(SetupCall, UnwritableSettingsFileIsReported) {
    const std::string saved = State().settingsPath;
    State().settingsPath = g_dir + "missing-dir/OrvoScan.ini";
    FakeRunner runner;
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), -14);
    EXPECT_EQ(runner.shown, 0);
    State().settingsPath.clear();
    EXPECT_EQ(RunSetup(nullptr, "Check", runner), -2);
    State().settingsPath = saved;
}

// The usual installation: the operator may write OrvoScan.ini, not the
// system directory. Run as root, the call runs as "nobody" in a child
// process (root ignores permission bits).
TEST_F(SetupCall, OperatorsFileInADirectoryTheOperatorCannotWriteIsStored) {
    const testing::TestUser user = testing::UnprivilegedUser();
    const std::string closed = g_dir + "closed/";
    const std::string tmp = g_dir + "operator-tmp/";
    ASSERT_EQ(chmod(g_dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    const std::string ini = closed + "OrvoScan.ini";
    {
        std::ofstream out(ini);
        out << "[Default]\nSide=1\n[Check]\nSide=1\nBWSlice1=100\n";
    }
    if (user.fromRoot) {
        ASSERT_EQ(chown(ini.c_str(), user.uid, user.gid), 0);
        ASSERT_EQ(chown(tmp.c_str(), user.uid, user.gid), 0);
    } else {
        ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
    }
    EXPECT_EQ(testing::RunAsUser(
                  user,
                  [&] {
                      setenv("TMPDIR", tmp.c_str(), 1);
                      if (access(closed.c_str(), W_OK) == 0) return 101;
                      State().settingsPath = ini;
                      FakeRunner runner;
                      runner.operate = [](FakeControls& d, DialogProcedure& p) {
                          d.Click(p, setup_id::kOk);
                      };
                      return RunSetup(nullptr, "Check", runner) == 0 && runner.shown == 1 ? 0 : 1;
                  }),
              0);
    chmod(closed.c_str(), 0755);
    EXPECT_EQ(platform::ProfileInt("Check", "BWSlice1", 0, ini), 100);
    EXPECT_EQ(platform::ProfileInt("Misc", "GrayTifCompress", -1, ini), 1);  // stored by the call
    std::filesystem::remove_all(closed);
    std::filesystem::remove_all(tmp);
    ASSERT_EQ(chmod(g_dir.c_str(), 0700), 0);
}

class SetupQaCall : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Scenario s = TheScanner().scenario();
        s.commandFaults.clear();
        s.qaBlock = {7, 7, 32, 7, 7, 32, 5, 8, 4, 5, 0xAA, 0xBB};
        TheScanner().SetScenario(s);
        Qa() = QaSession{};
    }
    void Fault(uint8_t opcode, sim::FaultAction action, int count) {
        sim::Scenario s = TheScanner().scenario();
        sim::CommandFault f;
        f.opcode = opcode;
        f.action = action;
        f.count = count;
        s.commandFaults.push_back(f);
        TheScanner().SetScenario(s);
    }
    static int Sent(uint8_t opcode) {
        int n = 0;
        for (const auto& r : TheScanner().CommandLog()) n += r.opcode == opcode;
        return n;
    }
};

TEST_F(SetupQaCall, OkWithoutMovingWritesTheBytesReadWithTwoZeros) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        EXPECT_EQ(d.Text(1006), "0");
        EXPECT_EQ(d.Text(1008), "32");
        d.Click(p, qa_id::kOk);
    };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    const auto writes = TheScanner().QaWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (std::array<uint8_t, 12>{7, 7, 32, 7, 7, 32, 5, 8, 4, 5, 0, 0}));
}

TEST_F(SetupQaCall, MovedSlidersAreWritten) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        d.MoveSlider(p, 1003, 14);
        d.MoveSlider(p, 1024, 0);
        d.Click(p, qa_id::kOk);
    };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    const auto block = TheScanner().QaBlock();
    EXPECT_EQ(block[0], 14);
    EXPECT_EQ(block[9], 0);
    EXPECT_EQ(block[10], 0);
}

TEST_F(SetupQaCall, CancelWritesNothing) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        d.MoveSlider(p, 1003, 14);
        d.Click(p, qa_id::kCancel);
    };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
    // Nor does a dialog that ends without OK after an earlier OK.
    FakeRunner ok;
    ok.operate = [](FakeControls& d, DialogProcedure& p) { d.Click(p, qa_id::kOk); };
    EXPECT_EQ(RunSetupQa(nullptr, ok), 0);
    FakeRunner closed;
    EXPECT_EQ(RunSetupQa(nullptr, closed), 0);
    EXPECT_EQ(TheScanner().QaWrites().size(), 1u);
}

TEST_F(SetupQaCall, ActionsReachTheScannerAndTheSelectorIsKept) {
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        d.Click(p, qa_id::kSendAction);
        d.Click(p, qa_id::kAction + 1);
        d.Click(p, qa_id::kSendAction);
        d.Click(p, qa_id::kCancel);
    };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    FakeRunner again;
    again.operate = [](FakeControls& d, DialogProcedure& p) {
        EXPECT_TRUE(d.Checked(qa_id::kAction + 1));
        d.Click(p, qa_id::kSendAction);
        d.Click(p, qa_id::kCancel);
    };
    EXPECT_EQ(RunSetupQa(nullptr, again), 0);
    EXPECT_EQ(TheScanner().QaActions(),
              (std::vector<uint8_t>{op::kQaAction0, op::kQaAction1, op::kQaAction1}));
}

TEST_F(SetupQaCall, FailingActionLeavesTheDialogOpen) {
    Fault(op::kQaAction0, sim::FaultAction::CheckCondition, 1);
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) {
        d.Click(p, qa_id::kSendAction);
        EXPECT_FALSE(d.Ended().has_value());
        d.Click(p, qa_id::kSendAction);
        d.Click(p, qa_id::kOk);
    };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    EXPECT_EQ(Sent(op::kQaAction0), 2);
    EXPECT_EQ(TheScanner().QaWrites().size(), 1u);
}

TEST_F(SetupQaCall, UnreadableBlockShowsNoDialog) {
    Fault(op::kQaRead, sim::FaultAction::CheckCondition, 1);
    FakeRunner runner;
    EXPECT_EQ(RunSetupQa(nullptr, runner), -6);
    EXPECT_EQ(runner.shown, 0);
}

TEST_F(SetupQaCall, ReadThatNeverCompletesCleanlyGivesUpAfterHalfASecond) {
    Fault(op::kQaRead, sim::FaultAction::NotClean, 1'000'000'000);
    FakeRunner runner;
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(RunSetupQa(nullptr, runner), -6);
    EXPECT_GE(platform::TicksSince(start, platform::TickCount()), 500u);
    EXPECT_GT(Sent(op::kQaRead), 1);
    EXPECT_EQ(runner.shown, 0);
}

TEST_F(SetupQaCall, MissingLibraryAfterTheRead) {
    FakeRunner runner;
    runner.loads = false;
    EXPECT_EQ(RunSetupQa(nullptr, runner), -11);
    EXPECT_EQ(Sent(op::kQaRead), 1);
    EXPECT_TRUE(TheScanner().QaWrites().empty());
    FakeRunner noDisplay;
    noDisplay.canShow = false;
    EXPECT_EQ(RunSetupQa(nullptr, noDisplay), -11);
    EXPECT_EQ(Qa().current[2], 32);  // the block was read
}

TEST_F(SetupQaCall, WriteThatNeverCompletesCleanlyIsBoundedAndNotReported) {
    Fault(op::kQaWrite, sim::FaultAction::NotClean, 1'000'000'000);
    FakeRunner runner;
    runner.operate = [](FakeControls& d, DialogProcedure& p) { d.Click(p, qa_id::kOk); };
    EXPECT_EQ(RunSetupQa(nullptr, runner), 0);
    EXPECT_GT(Sent(op::kQaWrite), 1);
    EXPECT_NE(ReadText(g_dir + "log.txt").find("Setup_Qa: QA write failed"), std::string::npos);
}

}  // namespace
}  // namespace orvo
