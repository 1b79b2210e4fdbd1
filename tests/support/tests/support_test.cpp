// The parts of the test support that no passing suite reaches: a child past
// its bound, a tree a test closed to its owner, the unprivileged user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::testing {
namespace {

using namespace std::chrono_literals;

TEST(TestSupportChild, ExitStatusOrSignal) {
    EXPECT_EQ(RunInChild([] { return 7; }), 7);
    EXPECT_EQ(RunInChild([] { return raise(SIGTERM); }), 128 + SIGTERM);
}

TEST(TestSupportChild, AChildPastItsBoundIsKilled) {
    EXPECT_EQ(RunInChild([] { return pause(); }, 50ms), 128 + SIGKILL);
    const pid_t pid = fork();
    if (pid == 0) _exit(pause());
    const ChildEnd end = WaitChild(pid, 50ms);
    EXPECT_TRUE(end.timedOut);
    EXPECT_EQ(end.code, 128 + SIGKILL);
    EXPECT_EQ(WaitChild(pid).code, -1);  // reaped already
}

TEST(TestSupportChild, RunsAsTheUnprivilegedUser) {
    const TestUser user = UnprivilegedUser();
    EXPECT_EQ(user.fromRoot, geteuid() == 0);
    EXPECT_EQ(
        RunAsUser(user, [&] { return geteuid() == user.uid && getegid() == user.gid ? 0 : 1; }), 0);
}

// As a user whom permission bits bind (root is not).
TEST(TestSupportTempDir, ATreeClosedToItsOwnerIsRemoved) {
    EXPECT_EQ(RunAsUser(UnprivilegedUser(),
                        [] {
                            std::string path;
                            {
                                const TempDir dir("orvo-support", "/tmp");
                                path = dir.path();
                                if (mkdir((dir / "a").c_str(), 0700) != 0) return 1;
                                WriteText(dir / "a/file", "x");
                                if (!Exists(dir / "a/file")) return 2;
                                if (chmod((dir / "a").c_str(), 0) != 0) return 3;
                                if (chmod(path.c_str(), 0500) != 0) return 4;
                            }
                            return Exists(path) ? 5 : 0;
                        }),
              0);
}

TEST(TestSupportTempDir, AReleasedDirectoryStays) {
    TempDir dir("orvo-support", "/tmp");
    EXPECT_EQ(dir.path().rfind("/tmp/orvo-support-", 0), 0u);
    EXPECT_EQ(dir.dir(), dir.path() + "/");
    const std::string kept = dir.Release();
    EXPECT_TRUE(Exists(kept));
    EXPECT_TRUE(RemoveTree(kept));
    EXPECT_FALSE(Exists(kept));
}

}  // namespace
}  // namespace orvo::testing
