// Driver start through a C client: every result code of OrvoScan_Init on the
// virtual scanner, each run in a process of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::ClientRun;
using e2e::RunClient;

struct Start {
    std::string scenario;  // JSON, "" for the default scanner
    e2e::SystemDirOptions dir{};
    std::string aspi = "sim";
    std::map<std::string, std::string> env;  // more variables for the client
};

Start Scenario(const std::string& json) {
    Start s;
    s.scenario = json;
    return s;
}

ClientRun RunStart(const Start& start, const std::string& mode = "init") {
    const std::string dir = e2e::LaySystemDir(e2e::ChequeIni("Check", 1, 0, 0), start.dir);
    std::map<std::string, std::string> env = {{"ORVOSCAN_ASPI", start.aspi},
                                              {"ORVOSCAN_SYSTEM_DIR", dir},
                                              {"ORVOSCAN_TRACE_DIR", dir},
                                              {"ORVOSCAN_TIME_SCALE", "50"},
                                              {"ORVOSCAN_SIM_SCENARIO", ""}};
    orvo::sim::Scenario scenario;
    if (!start.scenario.empty()) {
        e2e::WriteText(dir + "scenario.json", start.scenario);
        env["ORVOSCAN_SIM_SCENARIO"] = dir + "scenario.json";
        std::string error;
        EXPECT_TRUE(orvo::sim::ParseScenario(start.scenario, dir, &scenario, &error)) << error;
    }
    // The virtual scanner over the backend of this run.
    if (start.aspi == "sim") {
        for (const auto& [key, value] : e2e::AspiEnvironment(scenario)) env[key] = value;
    }
    for (const auto& [key, value] : start.env) env[key] = value;
    ClientRun run = RunClient(mode, env);
    EXPECT_EQ(run.exitCode, 0);
    return run;
}

int Init(const Start& start) {
    ClientRun run = RunStart(start);
    return run.values.count("init") ? std::stoi(run.values["init"]) : 999;
}

TEST(DriverStart, FindsTheScannerAndReportsVersion) {
    ClientRun run = RunStart({});
    EXPECT_EQ(run.values["init"], "0");
    EXPECT_EQ(run.values["version"], "QXS.1.00.00.71QS.03.04.28");
    EXPECT_EQ(run.values["device_error"], "0x00000000");
}

TEST(DriverStart, LifecycleEndTwiceAndSecondStart) {
    ClientRun run = RunStart({}, "lifecycle");
    EXPECT_EQ(run.values["init"], "0");
    EXPECT_EQ(run.values["format3"], "1");
    EXPECT_EQ(run.values["format1"], "1");
    EXPECT_EQ(run.values["end"], "0");
    EXPECT_EQ(run.values["end_again"], "0");
    EXPECT_EQ(run.values["init_again"], "0");
    EXPECT_EQ(run.values["end_last"], "0");
}

TEST(DriverStart, DiscoveryOverAdaptersAndTargets) {
    // Target 7 of the last adapter.
    EXPECT_EQ(Init(Scenario(R"j({"adapters": 3, "adapter": 2, "target": 7, "defaultStack": 1})j")),
              0);
    // Another product answering INQUIRY is not the scanner.
    EXPECT_EQ(Init(Scenario(R"j({"product": "QXS-7200 (QV720)"})j")), -1);
    EXPECT_EQ(Init(Scenario(R"j({"present": false})j")), -1);
    // Every target of adapter 0 ends its INQUIRY with an error status: passed over.
    EXPECT_EQ(Init(Scenario(R"j({"adapters": 2, "adapter": 1, "target": 0})j")), 0);
    // Only a completed INQUIRY counts: a scanner answering it without completing
    // cleanly is not taken.
    EXPECT_EQ(Init(Scenario(R"j({"commandFaults": [{"opcode": 18, "action": "notClean"}]})j")), -1);
    // An INQUIRY that is never answered ends discovery at once.
    EXPECT_EQ(Init(Scenario(R"j({"commandFaults": [{"opcode": 18, "action": "noCompletion"}]})j")),
              -1);
    // So does the TEST UNIT READY that follows. The next start finds the
    // scanner answering again (a real device once its own time-out has
    // passed: it is the driver's 60 s, and a little more).
    ClientRun again = RunStart(
        Scenario(R"j({"commandFaults": [{"opcode": 0, "action": "noCompletion"}]})j"), "lifecycle");
    EXPECT_EQ(again.values["init"], "-1");
    EXPECT_EQ(again.values["init_again"], "0");
    // Its status is not examined.
    EXPECT_EQ(Init(Scenario(R"j({"commandFaults": [{"opcode": 0, "action": "checkCondition",
        "error": "coverOpen"}]})j")),
              0);
}

TEST(DriverStart, NoScsiSupport) {
    EXPECT_EQ(Init(Scenario(R"j({"adapters": 0})j")), -6);
    Start bogus;
    bogus.aspi = "no-such-backend";
    EXPECT_EQ(Init(bogus), -6);
}

TEST(DriverStart, DriverLibraryMustBeInTheSystemDirectory) {
    Start start;
    start.dir.library = false;
    EXPECT_EQ(Init(start), -2);
}

// A TMPDIR that does not exist gives way to /tmp, as for other programs.
TEST(DriverStart, MissingTmpdirFallsBackToTmp) {
    Start start;
    start.env["TMPDIR"] = e2e::MakeTempDir("orvo-tmpdir") + "gone";
    EXPECT_EQ(Init(start), 0);
    EXPECT_FALSE(e2e::Exists(start.env["TMPDIR"]));
}

// A private directory open to others is refused, and log.txt says which and why.
TEST(DriverStart, RefusedTemporaryDirectoryIsNamedInTheLog) {
    const std::string base = e2e::MakeTempDir("orvo-tmpdir");
    const std::string own = base + "orvoscan-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    const std::string dir = e2e::LaySystemDir(e2e::ChequeIni("Check", 1, 0, 0));
    std::map<std::string, std::string> env = {{"ORVOSCAN_ASPI", "sim"},
                                              {"ORVOSCAN_SYSTEM_DIR", dir},
                                              {"ORVOSCAN_TRACE_DIR", dir},
                                              {"ORVOSCAN_SIM_SCENARIO", ""},
                                              {"TMPDIR", base}};
    ClientRun run = RunClient("init", env);
    EXPECT_EQ(run.values["init"], "-2");
    const std::vector<uint8_t> log = e2e::ReadBytes(dir + "log.txt");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("temporary directory refused: " + own + " is open to other users"),
              std::string::npos)
        << text;
}

TEST(DriverStart, CodeTableFiles) {
    for (const char* missing : {"huffmanb.dat", "huffmanw.dat", "huffmang.dat"}) {
        Start start;
        start.dir.tables.clear();
        for (const char* t : {"huffmanb.dat", "huffmanw.dat", "huffmang.dat"}) {
            if (std::string(t) != missing) start.dir.tables.push_back(t);
        }
        EXPECT_EQ(Init(start), -7) << missing;
    }
    Start shortTable;
    shortTable.dir.tableSizes["huffmanw.dat"] = 16383;
    EXPECT_EQ(Init(shortTable), -7);
    Start shortGray;
    shortGray.dir.tableSizes["huffmang.dat"] = 511;
    EXPECT_EQ(Init(shortGray), -7);
    Start longTable;
    longTable.dir.tableSizes["huffmanw.dat"] = 20000;
    EXPECT_EQ(Init(longTable), 0);
}

}  // namespace
