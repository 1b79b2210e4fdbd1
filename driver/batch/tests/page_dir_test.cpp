// This process's page directory and the sweeping of directories that ended
// processes left behind.
#include "orvo/batch/page_dir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "orvo/testing/child.h"
#include "orvo/testing/temp_dir.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

class PageDirTest : public ::testing::Test {
  protected:
    // A pid that no process has any more.
    static pid_t EndedPid() {
        const pid_t pid = fork();
        if (pid == 0) _exit(0);
        int status = 0;
        waitpid(pid, &status, 0);
        return pid;
    }
    std::string MakeDir(const std::string& name) {
        const std::string dir = root_ + name + "/";
        fs::create_directory(dir);
        chmod(dir.c_str(), 0700);
        std::ofstream(dir + "_tmp0000.dat") << "page";
        std::ofstream(dir + "_err0001.dat") << "dump";
        return dir;
    }
    const testing::TempDir dir_{"orvo-pagedir"};
    const std::string root_ = dir_.dir();
};

TEST_F(PageDirTest, OneDirectoryPerProcessClosedToOthers) {
    std::string error;
    const std::string dir = ProcessPageDir(root_, &error);
    EXPECT_EQ(dir, root_ + "batch-" + std::to_string(getpid()) + "/") << error;
    struct stat st{};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ProcessPageDir(root_), dir);
    // Removed behind its back, it is made again.
    fs::remove_all(dir);
    EXPECT_EQ(ProcessPageDir(root_), dir);
    EXPECT_TRUE(fs::is_directory(dir));
}

TEST_F(PageDirTest, EndedProcessesDirectoriesGoLiveOnesStay) {
    const pid_t ended = EndedPid();
    const std::string gone = MakeDir("batch-" + std::to_string(ended));
    const std::string goneToo = MakeDir("batch-" + std::to_string(ended) + "-2");
    const std::string live = MakeDir("batch-1");  // init never ends
    const std::string notOurs = MakeDir("batchfile-" + std::to_string(ended));
    // A link in place of a directory is never followed.
    const std::string target = MakeDir("elsewhere");
    fs::create_directory_symlink(target, root_ + "batch-" + std::to_string(EndedPid()));
    const std::string own = ProcessPageDir(root_);
    std::ofstream(own + "_tmp0000.dat") << "mine";

    EXPECT_EQ(SweepEndedPageDirs(root_), 2);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(fs::exists(goneToo));
    EXPECT_TRUE(fs::exists(live + "_tmp0000.dat"));
    EXPECT_TRUE(fs::exists(notOurs + "_tmp0000.dat"));
    EXPECT_TRUE(fs::exists(target + "_tmp0000.dat"));
    EXPECT_TRUE(fs::exists(own + "_tmp0000.dat"));
}

TEST_F(PageDirTest, DirectoryOfAnEndedProcessWithOtherFilesKeepsThem) {
    const std::string dir = MakeDir("batch-" + std::to_string(EndedPid()));
    std::ofstream(dir + "notes.txt") << "someone's";
    EXPECT_EQ(SweepEndedPageDirs(root_), 0);
    EXPECT_FALSE(fs::exists(dir + "_tmp0000.dat"));
    EXPECT_TRUE(fs::exists(dir + "notes.txt"));
}

TEST_F(PageDirTest, AForkedChildGetsADirectoryOfItsOwn) {
    const std::string parent = ProcessPageDir(root_);
    EXPECT_EQ(testing::RunInChild([&] {
                  const std::string child = ProcessPageDir(root_);
                  return child == root_ + "batch-" + std::to_string(getpid()) + "/" ? 0 : 1;
              }),
              0);
    // The child's directory is left over and goes with the next sweep; the
    // parent's stays its own.
    EXPECT_EQ(SweepEndedPageDirs(root_), 1);
    EXPECT_EQ(ProcessPageDir(root_), parent);
}

TEST_F(PageDirTest, UnusableDirectoryGivesTheReason) {
    std::string error;
    EXPECT_EQ(ProcessPageDir(root_ + "missing/", &error), "");
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

}  // namespace
}  // namespace orvo
