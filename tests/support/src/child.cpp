#include "orvo/testing/child.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>

namespace orvo::testing {

ChildEnd WaitChild(pid_t pid, std::chrono::milliseconds bound) {
    using namespace std::chrono_literals;
    ChildEnd end;
    if (pid <= 0) return end;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::chrono::milliseconds nap = 1ms;
    int status = 0;
    for (;;) {
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) break;
        if (got < 0 && errno != EINTR) return end;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            end.timedOut = true;
            while (waitpid(pid, &status, 0) != pid) {
                if (errno != EINTR) return end;
            }
            break;
        }
        std::this_thread::sleep_for(nap);
        nap = std::min<std::chrono::milliseconds>(nap * 2, 20ms);
    }
    end.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return end;
}

int RunInChild(const std::function<int()>& body, std::chrono::milliseconds bound) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) _exit(body());
    return WaitChild(pid, bound).code;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& out,
                   const std::string& err, const std::function<void()>& setup) {
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (std::string& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(127);
    if (setup) setup();
    if (args[0] != nullptr) execv(args[0], args.data());
    _exit(127);
}

void EndAtFileSize(std::size_t bytes) {
    prctl(PR_SET_DUMPABLE, 0);
    const struct rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const struct rlimit size{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &size);
    std::signal(SIGXFSZ, SIG_DFL);
}

TestUser UnprivilegedUser() {
    TestUser user;
    user.fromRoot = geteuid() == 0;
    if (user.fromRoot) {
        const passwd* nobody = getpwnam("nobody");
        user.uid = nobody != nullptr ? nobody->pw_uid : 65534;
        user.gid = nobody != nullptr ? nobody->pw_gid : 65534;
    } else {
        user.uid = geteuid();
        user.gid = getegid();
    }
    return user;
}

int RunAsUser(const TestUser& user, const std::function<int()>& body,
              std::chrono::milliseconds bound) {
    return RunInChild(
        [&] {
            prctl(PR_SET_DUMPABLE, 0);
            if (user.fromRoot &&
                (setgroups(0, nullptr) != 0 || setresgid(user.gid, user.gid, user.gid) != 0 ||
                 setresuid(user.uid, user.uid, user.uid) != 0)) {
                return 100;
            }
            return body();
        },
        bound);
}

}  // namespace orvo::testing
