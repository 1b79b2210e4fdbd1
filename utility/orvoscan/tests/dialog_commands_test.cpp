// `orvoscan setup` and `orvoscan qa dialog` where no dialog can be shown: the
// program says why, exits with its status and leaves OrvoScan.ini alone.
// (The dialogs themselves are tested through the driver in dialogs/tests.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using orvo::testing::ReadText;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class DialogCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path build = fs::path(ORVOSCAN_TOOL).parent_path();
        fs::create_directories(sys_);
        for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
            fs::create_symlink(build / f, sys_ / f);
        }
        std::ofstream(sys_ / "OrvoScan.ini")
            << "[Default]\nScanWidth=1728\nScanLines1=800\n[Check]\nScanWidth=1728\n"
               "ScanLines1=800\n[Misc]\nMicrDetect=1\n";
        std::ofstream(dir_ / "scenario.json")
            << R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0}})";
    }
    void LinkCompanion(const char* name) {
        fs::create_symlink(fs::path(ORVOSCAN_TOOL).parent_path() / name, sys_ / name);
    }

    // Runs the tool with only the variables given (and the driver's),
    // ending it if it has not finished after 60 s.
    Result Run(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extra = {}) {
        std::vector<std::string> env = {
            "ORVOSCAN_ASPI=sim",
            "ORVOSCAN_SYSTEM_DIR=" + sys_.string(),
            "ORVOSCAN_TRACE_DIR=" + dir_.string(),
            "ORVOSCAN_SIM_SCENARIO=" + (dir_ / "scenario.json").string(),
            "TMPDIR=" + dir_.string(),
            "PATH=/usr/bin:/bin"};
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("ASAN_OPTIONS=", 0) == 0 || entry.rfind("UBSAN_OPTIONS=", 0) == 0 ||
                entry.rfind("LSAN_OPTIONS=", 0) == 0) {
                env.push_back(entry);
            }
        }
        for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
        std::vector<std::string> argv = {ORVOSCAN_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = dir_ / "out.txt", err = dir_ / "err.txt";
        Result r;
        const pid_t pid = orvo::testing::StartProgram(argv, out, err, [&] {
            clearenv();
            for (std::string& e : env) putenv(e.data());
        });
        if (pid < 0) return r;
        const orvo::testing::ChildEnd end = orvo::testing::WaitChild(pid, std::chrono::seconds(60));
        if (end.timedOut) {
            ADD_FAILURE() << "orvoscan did not end (a dialog left open?)";
        } else {
            r.code = end.code;
        }
        r.out = ReadText(out);
        r.err = ReadText(err);
        return r;
    }

    std::string Ini() { return ReadText(sys_ / "OrvoScan.ini"); }

    const orvo::testing::TempDir temp_{"orvoscan-dialogs"};
    const fs::path dir_ = temp_.path(), sys_ = dir_ / "sys";
};

TEST_F(DialogCommands, CommandLineMistakes) {
    EXPECT_EQ(Run({"setup"}).code, 2);
    const Result misc = Run({"setup", "--profile", "misc"});
    EXPECT_EQ(misc.code, 2);
    EXPECT_NE(misc.err.find("shared by all profiles"), std::string::npos) << misc.err;
    EXPECT_EQ(Run({"setup", "-p", "Check", "extra"}).code, 2);
    EXPECT_EQ(Run({"qa", "dialog", "now"}).code, 2);
    const Result help = Run({"setup", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: orvoscan setup --profile NAME"), std::string::npos);
}

TEST_F(DialogCommands, WithoutADisplayNothingIsOpened) {
    const std::string before = Ini();
    const Result setup = Run({"setup", "-p", "Check"});
    EXPECT_EQ(setup.code, 1);
    EXPECT_NE(setup.err.find("setup opens a dialog and needs a display"), std::string::npos)
        << setup.err;
    const Result qa = Run({"--json", "qa", "dialog"});
    EXPECT_EQ(qa.code, 1);
    EXPECT_NE(qa.out.find(R"("stage":"display")"), std::string::npos) << qa.out;
    EXPECT_EQ(Ini(), before);
}

TEST_F(DialogCommands, MissingCompanionLibraries) {
    const std::string before = Ini();
    const std::map<std::string, std::string> offscreen = {{"QT_QPA_PLATFORM", "offscreen"}};
    const Result setup = Run({"setup", "-p", "Check"}, offscreen);
    EXPECT_EQ(setup.code, 1);
    EXPECT_NE(setup.err.find("libK4TRRsrc.so loading error.."), std::string::npos) << setup.err;
    EXPECT_NE(setup.err.find("libK4TRRsrc.so missing in " + sys_.string()), std::string::npos)
        << setup.err;
    const Result qa = Run({"qa", "dialog"}, offscreen);
    EXPECT_EQ(qa.code, 1);
    EXPECT_NE(qa.err.find("libK4TRQa.so loading error.."), std::string::npos) << qa.err;
    EXPECT_EQ(Ini(), before);
    EXPECT_NE(ReadText(dir_ / "log.txt").find("libK4TRRsrc.so"), std::string::npos);
}

TEST_F(DialogCommands, ProfileNameThatCannotBeStored) {
    LinkCompanion("libK4TRRsrc.so");
    const std::string before = Ini();
    const Result r = Run({"setup", "-p", "a]b"}, {{"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("Settings file writing error.."), std::string::npos) << r.err;
    EXPECT_EQ(Ini(), before);
}

TEST_F(DialogCommands, UnreadableQaBlockShowsNoDialog) {
    LinkCompanion("libK4TRQa.so");
    std::ofstream(dir_ / "scenario.json")
        << R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
              "commandFaults": [{"opcode": "0x81", "action": "checkCondition", "count": 100}]})";
    const Result r = Run({"qa", "dialog"}, {{"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.err.find("No SCSI surpport error.."), std::string::npos) << r.err;
}

}  // namespace
