#include "harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "orvo/aspi/layer.h"
#include "orvo/sgemu/sg_tree.h"
#include "orvo/testing/temp_dir.h"
#include "orvo/testing/time_scale.h"

extern char** environ;

namespace e2e {

namespace {
std::string g_systemDir;

// Every directory the tests made goes when the test program ends, unless
// ORVO_KEEP_TEST_FILES is set (to look at them after a failure). The driver
// may still hold files of its last batch; they go with the directory.
std::vector<std::string>& MadeDirs() {
    static auto* dirs = new std::vector<std::string>;
    return *dirs;
}

void RemoveMadeDirs() {
    if (std::getenv("ORVO_KEEP_TEST_FILES")) return;
    for (const std::string& dir : MadeDirs()) orvo::testing::RemoveTree(dir);
}
}  // namespace

std::string Ini(const std::vector<Section>& sections) {
    std::string text;
    for (const auto& [name, keys] : sections) {
        text += "[" + name + "]\n";
        for (const auto& [k, v] : keys) text += k + "=" + v + "\n";
        text += "\n";
    }
    return text;
}

std::string ChequeIni(const std::string& profile, int side, int scanMode, int compressMode,
                      int scanWidth, int scanLines, int resolution) {
    auto profileKeys = [&] {
        return std::vector<std::pair<std::string, std::string>>{
            {"Side", std::to_string(side)},
            {"ScanWidth", std::to_string(scanWidth)},
            {"Resolution", std::to_string(resolution)},
            {"ScanMode1", std::to_string(scanMode)},
            {"CompressMode", std::to_string(compressMode)},
            {"BWSlice1", "128"},
            {"ScanLines1", std::to_string(scanLines)}};
    };
    return Ini(
        {{"Default", profileKeys()},
         {profile, profileKeys()},
         {"Misc", {{"MicrDetect", "1"}, {"ImageFileFormat", "0"}, {"GrayTifCompress", "1"}}}});
}

std::string MakeTempDir(const std::string& prefix) {
    const std::string dir = orvo::testing::TempDir(prefix, "/tmp").Release();
    if (MadeDirs().empty()) std::atexit(RemoveMadeDirs);
    MadeDirs().push_back(dir);
    return dir + "/";
}

std::string PageDir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/orvoscan-" + std::to_string(geteuid()) +
           "/batch-" + std::to_string(getpid()) + "/";
}

std::string LaySystemDir(const std::string& iniText, const SystemDirOptions& options) {
    const std::string dir = MakeTempDir("orvo-sys");
    const std::string build = std::string(ORVO_BUILD_SYSTEM_DIR) + "/";
    if (options.library) {
        if (symlink((build + "libK4TR.so").c_str(), (dir + "libK4TR.so").c_str()) != 0) {
            throw std::runtime_error("cannot link libK4TR.so");
        }
    }
    for (const std::string& table : options.tables) {
        std::vector<uint8_t> bytes = ReadBytes(build + table);
        auto cut = options.tableSizes.find(table);
        if (cut != options.tableSizes.end()) bytes.resize(cut->second, 0);
        orvo::testing::WriteBytes(dir + table, bytes);
    }
    if (!iniText.empty()) WriteText(dir + "OrvoScan.ini", iniText);
    return dir;
}

StartedClient StartClient(const std::string& mode, const std::map<std::string, std::string>& env) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (env.count(key) == 0) envText.push_back(entry);
    }
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);

    StartedClient client;
    client.out = MakeTempDir("orvo-client") + "out.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, client.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::string program = ORVO_C_CLIENT;
    std::string arg = mode;
    char* argv[] = {program.data(), arg.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) == 0) {
        client.pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    return client;
}

ClientRun FinishClient(const StartedClient& client) {
    ClientRun run;
    if (client.pid < 0) return run;
    int status = 0;
    waitpid(client.pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(client.out);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) run.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return run;
}

ClientRun RunClient(const std::string& mode, const std::map<std::string, std::string>& env) {
    return FinishClient(StartClient(mode, env));
}

bool OverSg() {
    const char* aspi = std::getenv("ORVO_E2E_ASPI");
    return aspi != nullptr && std::string(aspi) == "sg";
}

std::map<std::string, std::string> AspiEnvironment(const orvo::sim::Scenario& scenario) {
    if (!OverSg()) return {{"ORVOSCAN_ASPI", "sim"}};
    const std::string root = MakeTempDir("orvo-sg-tree");
    orvo::sgemu::LayTree(root, scenario);
    return {{"ORVOSCAN_ASPI", "sg"}, {"ORVOSCAN_SYSFS_ROOT", root}, {"ORVOSCAN_DEV_ROOT", root}};
}

void SwitchAspi(const std::string& backend) {
    setenv("ORVOSCAN_ASPI", backend.c_str(), 1);
    orvo::aspi::UseBackend(nullptr);
}

bool ReadingDocument(int document) {
    int announced = 0;
    for (const auto& r : orvo::sim::TheScanner().CommandLog()) {
        if (r.opcode == orvo::sim::op::kGetDataBufferStatus && (r.statusByte3 & 0x01) != 0) {
            ++announced;
        }
        if (r.opcode == orvo::sim::op::kReadBuffer && announced == document) return true;
    }
    return false;
}

std::vector<std::string> Requests(const std::vector<orvo::sim::CommandRecord>& log) {
    std::vector<std::string> requests;
    for (const orvo::sim::CommandRecord& r : log) {
        std::string text;
        for (const uint8_t b : r.cdb) text += std::to_string(b) + " ";
        // A request without data has no direction on the wire.
        const int direction = r.dataLength == 0 ? 0 : static_cast<int>(r.direction);
        text += "/ " + std::to_string(r.dataLength) + " " + std::to_string(direction) + " " +
                orvo::sim::OutcomeName(r.outcome);
        // How often the driver asks while no document is ready depends on
        // time: repeated polls count once.
        const bool poll = r.opcode == orvo::sim::op::kGetDataBufferStatus;
        if (poll && !requests.empty() && requests.back() == text) continue;
        requests.push_back(text);
    }
    return requests;
}

std::string UseVirtualScanner(const std::string& iniText, double timeScale) {
    g_systemDir = LaySystemDir(iniText);
    for (const auto& [key, value] : AspiEnvironment()) setenv(key.c_str(), value.c_str(), 1);
    setenv("ORVOSCAN_SYSTEM_DIR", g_systemDir.c_str(), 1);
    setenv("ORVOSCAN_TRACE_DIR", g_systemDir.c_str(), 1);
    unsetenv("ORVOSCAN_SIM_SCENARIO");
    timeScale = orvo::testing::GentleTimeScale(timeScale);
    if (timeScale != 1.0) setenv("ORVOSCAN_TIME_SCALE", std::to_string(timeScale).c_str(), 1);
    return g_systemDir;
}

void WriteSettings(const std::string& iniText) {
    WriteText(g_systemDir + "OrvoScan.ini", iniText);
}

const std::string& SystemDir() {
    return g_systemDir;
}

}  // namespace e2e
