// Two processes of one user: each keeps its batches to itself. Virtual
// scanners of two processes scan side by side; a second process on the same
// scanner is refused (-13) and touches nothing of the first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace {

using orvo::sim::TheScanner;

std::string g_tmp;  // TMPDIR of this process and of its clients

class Env : public ::testing::Environment {
  public:
    void SetUp() override {
        g_tmp = e2e::MakeTempDir("orvo-two-tmp");
        setenv("TMPDIR", g_tmp.c_str(), 1);
        e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        TheScanner().SetScenario(e2e::FastScenario(1));
        ASSERT_EQ(OrvoScan_Init(), 0);
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

// `documents` cheques whose MICR lines all begin with `tag`.
std::string ScenarioJson(const std::string& tag, int documents, int intervalMs,
                         const std::string& deviceNode = "") {
    std::string json = R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": )" +
                       std::to_string(intervalMs) + "}, ";
    if (!deviceNode.empty()) json += R"("deviceNode": ")" + deviceNode + R"(", )";
    json += R"("documents": [)";
    for (int d = 0; d < documents; ++d) {
        if (d > 0) json += ", ";
        json += R"({"micr": ")" + tag + std::to_string(1000 + d) + R"(T"})";
    }
    return json + "]}";
}

// The environment of a C client with a system directory of its own, the
// scanner of `scenarioJson` and TMPDIR `tmp`.
std::map<std::string, std::string> ClientEnv(const std::string& scenarioJson,
                                             const std::string& tmp = g_tmp) {
    const std::string dir = e2e::LaySystemDir(e2e::ChequeIni("Check", 1, 0, 0));
    e2e::WriteText(dir + "scenario.json", scenarioJson);
    return {{"ORVOSCAN_ASPI", "sim"},
            {"ORVOSCAN_SYSTEM_DIR", dir},
            {"ORVOSCAN_TRACE_DIR", dir},
            {"ORVOSCAN_TIME_SCALE", "10"},
            {"ORVOSCAN_SIM_SCENARIO", dir + "scenario.json"},
            {"ORVO_CLIENT_OUT", dir},
            {"TMPDIR", tmp}};
}

// The scanner's page data files anywhere under `tmp` (every process's page
// directory in the private directory there).
int PageDataFiles(const std::string& tmp) {
    int files = 0;
    const std::string top = tmp + "orvoscan-" + std::to_string(geteuid());
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.ends_with(".dat") && (name.starts_with("_tmp") || name.starts_with("_err"))) {
            ++files;
        }
    }
    return files;
}

// Every page of a run has a MICR line of its own stack, front and rear of
// each cheque alike.
void ExpectOwnPages(const e2e::ClientRun& run, const std::string& tag, int documents) {
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.values.at("start"), "0") << tag;
    EXPECT_EQ(run.values.at("pages"), std::to_string(2 * documents)) << tag;
    EXPECT_EQ(run.values.at("last"), "-3") << tag;
    for (int p = 0; p < 2 * documents; ++p) {
        char key[16];
        std::snprintf(key, sizeof key, "micr%04d", p);
        const auto found = run.values.find(key);
        ASSERT_NE(found, run.values.end()) << tag << " " << key;
        EXPECT_EQ(found->second, tag + std::to_string(1000 + p / 2)) << tag << " " << key;
    }
}

TEST(TwoProcesses, VirtualScannersOfTwoProcessesScanSideBySide) {
    // Both batches run at the same time, with the same private directory.
    const int documents = 8;
    const e2e::StartedClient a =
        e2e::StartClient("batch", ClientEnv(ScenarioJson("A", documents, 300)));
    const e2e::StartedClient b =
        e2e::StartClient("batch", ClientEnv(ScenarioJson("B", documents, 300)));
    const e2e::ClientRun runA = e2e::FinishClient(a);
    ExpectOwnPages(runA, "A", documents);
    ExpectOwnPages(e2e::FinishClient(b), "B", documents);
}

TEST(TwoProcesses, AnotherProcessBatchLeavesThisOnesPagesAlone) {
    // This process's batch is complete on disk, not yet taken...
    const orvo::sim::Scenario s = e2e::FastScenario(2);
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    bool ended = false;
    for (int i = 0; i < 20000 && !ended; ++i) {
        const auto log = TheScanner().CommandLog();
        ended = !log.empty() && log.back().opcode == orvo::sim::op::kTerminate;
        if (!ended) usleep(1000);
    }
    ASSERT_TRUE(ended);
    // ... when another process of the same user scans a batch of its own.
    ExpectOwnPages(e2e::RunClient("batch", ClientEnv(ScenarioJson("B", 3, 0))), "B", 3);

    const std::string out = e2e::SystemDir() + "p.raw";
    for (int p = 0; p < 4; ++p) {
        int height = 0;
        ASSERT_EQ(OrvoScan_GetOneImage(out.c_str(), &height), 0) << p;
        ASSERT_NE(OrvoScan_MicrDataBufPtr(), nullptr);
        const std::string micr(OrvoScan_MicrDataBufPtr(), OrvoScan_MicrDataSize());
        const std::string& sent = s.documents[p / 2].micr;
        EXPECT_EQ(micr, sent.substr(0, micr.size())) << p;
        EXPECT_FALSE(micr.empty());
    }
    int height = 0;
    EXPECT_EQ(OrvoScan_GetOneImage(out.c_str(), &height), ORVOSCAN_NO_PAGE);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);
}

TEST(TwoProcesses, SecondProcessOnTheSameScannerIsRefused) {
    const std::string node = e2e::MakeTempDir("orvo-two-node") + "sg3";
    // This process scans the scanner that stands behind `node`...
    orvo::sim::Scenario s = e2e::FastScenario(2);
    s.deviceNode = node;
    TheScanner().SetScenario(s);
    ASSERT_EQ(OrvoScan_StartBatch("Check"), 0);
    ASSERT_EQ(OrvoScan_IsPageLoaded(), 0);
    const std::string first = e2e::PageDir() + "_tmp0000.dat";
    const std::vector<uint8_t> firstPage = e2e::ReadBytes(first);
    ASSERT_FALSE(firstPage.empty());

    // ... and another process wants the same scanner.
    const std::map<std::string, std::string> env = ClientEnv(ScenarioJson("B", 2, 0, node));
    e2e::ClientRun second = e2e::RunClient("batch", env);
    ASSERT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.values["start"], std::to_string(ORVOSCAN_ERR_BUSY));
    e2e::ClientRun qa = e2e::RunClient("qa", env);
    EXPECT_EQ(qa.values["qa_read"], std::to_string(ORVOSCAN_ERR_BUSY));
    qa = e2e::RunClient("qa_busy", env);
    EXPECT_EQ(qa.values["qa_write"], std::to_string(ORVOSCAN_ERR_BUSY));
    EXPECT_EQ(qa.values["qa_dialog"], std::to_string(ORVOSCAN_ERR_BUSY));
    // Its trace names the holder.
    const std::string text = e2e::ReadText(env.at("ORVOSCAN_TRACE_DIR") + "log.txt");
    EXPECT_NE(text.find("scanner in use by pid " + std::to_string(getpid())), std::string::npos)
        << text;

    // The first batch goes on untouched.
    EXPECT_EQ(e2e::ReadBytes(first), firstPage);
    const std::string out = e2e::SystemDir() + "p.raw";
    int height = 0;
    int pages = 0;
    while (OrvoScan_GetOneImage(out.c_str(), &height) == 0) ++pages;
    EXPECT_EQ(pages, 4);
    EXPECT_EQ(OrvoScan_EndBatch(), 0);

    // Once the batch has ended, the other process may scan.
    second = e2e::RunClient("batch", env);
    EXPECT_EQ(second.values["start"], "0");
    EXPECT_EQ(second.values["pages"], "4");
    EXPECT_EQ(e2e::RunClient("qa", env).values["qa_read"], "0");
}

}  // namespace

// The page data are a bank customer's cheques: however a program ends its
// batch or itself, none stays on disk; a killed program's are removed by the
// next start of the driver.
TEST(TwoProcesses, NoPageDataStaysAfterTheProgram) {
    const struct {
        const char* mode;
        bool kept;  // page data files stay right after the program ended
    } cases[] = {
        {"batch", false},               // OrvoScan_EndBatch
        {"one_page_then_end", false},   // OrvoScan_End with the batch open
        {"one_page_then_exit", false},  // exit() with the batch open
        {"one_page_then_term", false},  // SIGTERM with the batch open
        {"one_page_then_kill", true},   // SIGKILL: some stay, until the next start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string tmp = e2e::MakeTempDir("orvo-leftover-tmp");
        const std::map<std::string, std::string> env = ClientEnv(ScenarioJson("L", 4, 0), tmp);
        const e2e::ClientRun run = e2e::RunClient(c.mode, env);
        EXPECT_EQ(run.values.at("start"), "0");
        EXPECT_EQ(PageDataFiles(tmp) > 0, c.kept);
        // The next start of the driver by this user finds none.
        EXPECT_EQ(e2e::RunClient("init", env).values.at("init"), "0");
        EXPECT_EQ(PageDataFiles(tmp), 0);
    }
}
