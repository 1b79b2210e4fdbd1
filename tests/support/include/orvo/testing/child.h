// Child processes of tests: a function run in a forked child, possibly as an
// unprivileged user, and a program started with its output in files; each
// waited for with a bound.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace orvo::testing {

// How long a child may take unless a test says otherwise.
inline constexpr std::chrono::milliseconds kChildBound = std::chrono::seconds(120);

// How a child process ended.
struct ChildEnd {
    // Its exit status, or 128 plus the signal that ended it; -1 when there
    // was no such child.
    int code = -1;
    // It was still running when the bound passed, and was killed (SIGKILL).
    bool timedOut = false;
};

// Waits for the child `pid` at most `bound`, then kills it.
ChildEnd WaitChild(pid_t pid, std::chrono::milliseconds bound = kChildBound);

// Runs `body` in a forked child that exits with what `body` returns, and
// waits for it (killed after `bound`): its exit status, or 128 plus the
// signal that ended it; -1 when no child could be made.
int RunInChild(const std::function<int()>& body, std::chrono::milliseconds bound = kChildBound);

// Starts the program argv[0] with the arguments `argv` in a child process,
// its standard output and error written to the files `out` and `err`
// (created or emptied); `setup` runs in the child just before the program
// (environment, working directory, limits). The child's pid, -1 when fork
// failed; the child exits with 127 when the program cannot be run.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& out,
                   const std::string& err, const std::function<void()>& setup = {});

// For a child that is to be killed on purpose: writing beyond `bytes` of any
// file ends the process with SIGXFSZ, and it dumps no core.
void EndAtFileSize(std::size_t bytes);

// Whom a test acts as where permission bits must count: "nobody" when the
// test runs as root (root ignores permission bits), otherwise the user
// running it.
struct TestUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool fromRoot = false;  // the test runs as root: children become uid/gid
};
TestUser UnprivilegedUser();

// RunInChild as `user`: run as root, the child first gives root up for the
// user's ids (no supplementary groups) and exits with 100 when it cannot.
// The child is never dumpable.
int RunAsUser(const TestUser& user, const std::function<int()>& body,
              std::chrono::milliseconds bound = kChildBound);

}  // namespace orvo::testing
