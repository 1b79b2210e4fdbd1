#include "orvo/platform/file_lock.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace orvo::platform {
namespace {

std::string TempFile() {
    char pattern[] = "/tmp/orvo-lock-XXXXXX";
    const int fd = mkstemp(pattern);
    EXPECT_GE(fd, 0);
    close(fd);
    return pattern;
}

// A child process that takes the lock, says so and keeps it until told.
struct Holder {
    pid_t pid = -1;
    int release = -1;  // write end: closing it lets the child go
};

Holder HoldInChild(const std::string& path) {
    int ready[2], go[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(go), 0);
    Holder h;
    h.pid = fork();
    if (h.pid == 0) {
        close(ready[0]);
        close(go[1]);
        const int fd = open(path.c_str(), O_RDONLY);
        const char ok = TryLockExclusive(fd) == LockState::Held ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char c;
        (void)!read(go[0], &c, 1);
        _exit(0);
    }
    close(ready[1]);
    close(go[0]);
    char ok = 0;
    EXPECT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    close(ready[0]);
    h.release = go[1];
    return h;
}

void Release(Holder& h) {
    close(h.release);
    int status = 0;
    waitpid(h.pid, &status, 0);
}

TEST(FileLock, AnotherProcessHoldingTheLockIsNamed) {
    const std::string path = TempFile();
    Holder holder = HoldInChild(path);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TryLockExclusive(fd), LockState::Busy);
    const std::string who = LockHolder(fd);
    EXPECT_EQ(who.rfind("pid " + std::to_string(holder.pid), 0), 0u) << who;
    Release(holder);
    // Gone with its process.
    EXPECT_EQ(TryLockExclusive(fd), LockState::Held);
    EXPECT_EQ(TryLockExclusive(fd), LockState::Held);  // taking it again is harmless
    close(fd);
    unlink(path.c_str());
}

TEST(FileLock, TwoOpenFilesOfOneProcessExcludeEachOther) {
    const std::string path = TempFile();
    const int a = open(path.c_str(), O_RDONLY);
    const int b = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(TryLockExclusive(a), LockState::Held);
    EXPECT_EQ(TryLockExclusive(b), LockState::Busy);
    close(a);
    EXPECT_EQ(TryLockExclusive(b), LockState::Held);
    close(b);
    EXPECT_EQ(TryLockExclusive(-1), LockState::Failed);
    unlink(path.c_str());
}

}  // namespace
}  // namespace orvo::platform
