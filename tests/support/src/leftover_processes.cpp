// Every test program built with orvo_add_test: a test fails when a process it
// started is still running after it (its fixture has ended), and that process
// is ended then. The program adopts the orphans of its children (a child
// subreaper), so a daemon's own children count as well.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace orvo::testing {
namespace {

// A small file of /proc, read with read(2): a process may end while it is
// read (ESRCH), which gives what was read, possibly nothing.
std::string ReadProc(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || text.size() > 65536) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

struct Child {
    pid_t pid = 0;
    bool zombie = false;
};

// The processes whose parent is this one, from /proc/<pid>/stat.
std::vector<Child> Children() {
    std::vector<Child> children;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return children;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
        const std::string text = ReadProc("/proc/" + std::string(entry->d_name) + "/stat");
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 1));
        char state = 0;
        long ppid = 0;
        if (!(rest >> state >> ppid) || ppid != self) continue;
        children.push_back({static_cast<pid_t>(pid), state == 'Z'});
    }
    closedir(proc);
    return children;
}

std::string CommandLine(pid_t pid) {
    std::string text = ReadProc("/proc/" + std::to_string(pid) + "/cmdline");
    for (char& c : text) {
        if (c == '\0') c = ' ';
    }
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
