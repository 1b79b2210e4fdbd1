// Every test program built with orvo_add_test: a test fails when a process it
// started is still running after it (its fixture has ended), and that process
// is ended then. The program adopts the orphans of its children (a child
// subreaper), so a daemon's own children count as well.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orvo::testing {
namespace {

// A small file of /proc: a process may end while it is read, which gives
// what was read, possibly nothing.
std::string ReadProc(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

struct Child {
    pid_t pid = 0;
    bool zombie = false;
};

// The processes whose parent is this one, from /proc/<pid>/stat.
std::vector<Child> Children() {
    std::vector<Child> children;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const std::string text = ReadProc("/proc/" + name + "/stat");
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        if (!(rest >> state >> ppid) || ppid != getpid()) continue;
        children.push_back({static_cast<pid_t>(std::stol(name)), state == 'Z'});
    }
    return children;
}

std::string CommandLine(pid_t pid) {
    std::string text = ReadProc("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text.empty() ? "?" : text;
}

class LeftoverProcesses : public ::testing::EmptyTestEventListener {
  public:
    void OnTestProgramStart(const ::testing::UnitTest&) override {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        // Ended children are reaped quietly; running ones are named, killed
        // and reaped, and the orphans they leave are adopted and looked at
        // again (a bounded number of rounds).
        for (int round = 0; round < 8; ++round) {
            const std::vector<Child> children = Children();
            if (children.empty()) return;
            for (const Child& c : children) {
                if (!c.zombie) {
                    ADD_FAILURE() << "the test left a process running: " << c.pid << " "
                                  << CommandLine(c.pid);
                    kill(c.pid, SIGKILL);
                }
                while (waitpid(c.pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
        }
    }
};

// Registered before main runs; the failure counts in the test's result and
// the program's summary (it follows the test's own result line).
const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeftoverProcesses);
    return true;
}();

}  // namespace
}  // namespace orvo::testing
