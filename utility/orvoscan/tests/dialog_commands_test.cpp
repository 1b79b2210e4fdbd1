// `orvoscan setup` and `orvoscan qa dialog` where no dialog can be shown: the
// program says why, exits with its status and leaves OrvoScan.ini alone.
// (The dialogs themselves are tested through the driver in dialogs/tests.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class DialogCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path build = fs::path(ORVOSCAN_TOOL).parent_path();
        char pattern[] = "/tmp/orvoscan-dialogs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        sys_ = dir_ / "sys";
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
    void TearDown() override { fs::remove_all(dir_); }

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
        std::vector<char*> envp;
        for (std::string& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<std::string> argvText = {ORVOSCAN_TOOL};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : argvText) argv.push_back(s.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string out = (dir_ / "out.txt").string(), err = (dir_ / "err.txt").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = -1;
        Result r;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return r;
        int status = 0;
        for (int i = 0; i < 6000; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (r.code == -1) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "orvoscan did not end (a dialog left open?)";
        }
        r.out = ReadAll(out);
        r.err = ReadAll(err);
        return r;
    }

    std::string Ini() { return ReadAll(sys_ / "OrvoScan.ini"); }

    fs::path dir_, sys_;
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
    EXPECT_NE(setup.err.find("K4TRRsrc.dll loading error.."), std::string::npos) << setup.err;
    EXPECT_NE(setup.err.find("libK4TRRsrc.so missing in " + sys_.string()), std::string::npos)
        << setup.err;
    const Result qa = Run({"qa", "dialog"}, offscreen);
    EXPECT_EQ(qa.code, 1);
    EXPECT_NE(qa.err.find("K4TRQA.dll loading error.."), std::string::npos) << qa.err;
    EXPECT_EQ(Ini(), before);
    EXPECT_NE(ReadAll(dir_ / "log.txt").find("libK4TRRsrc.so"), std::string::npos);
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
