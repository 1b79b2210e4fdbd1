#include "orvo/platform/files.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
  protected:
    const testing::TempDir temp_{"orvo-files"};
    const std::string dir_ = temp_.dir();
};

TEST_F(FilesTest, FifoDeviceAndDirectoryAreRefusedAtOnce) {
    ASSERT_EQ(mkfifo((dir_ + "fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir_ + "fifo", std::string("/dev/zero"), dir_}) {
        errno = 0;
        EXPECT_EQ(OpenRegularFile(path, O_RDONLY), -1) << path;
        EXPECT_EQ(errno, EINVAL) << path;
        std::string data;
        EXPECT_EQ(ReadRegularFile(path, 100, data), ReadResult::NotRegular) << path;
    }
    // For writing too: a FIFO nobody reads is no place to wait.
    EXPECT_EQ(OpenRegularFile(dir_ + "fifo", O_WRONLY | O_APPEND | O_CREAT), -1);
}

TEST_F(FilesTest, RegularFilesReadWholeUpToTheBound) {
    std::ofstream(dir_ + "a.txt") << "0123456789";
    std::string data;
    EXPECT_EQ(ReadRegularFile(dir_ + "a.txt", 10, data), ReadResult::Ok);
    EXPECT_EQ(data, "0123456789");
    EXPECT_EQ(ReadRegularFile(dir_ + "a.txt", 9, data), ReadResult::TooLarge);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(ReadRegularFile(dir_ + "missing", 9, data), ReadResult::Missing);
    const int fd = OpenRegularFile(dir_ + "a.txt", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
}

TEST_F(FilesTest, SymbolicLinksOnlyWhenAllowed) {
    std::ofstream(dir_ + "target") << "x";
    ASSERT_EQ(symlink((dir_ + "target").c_str(), (dir_ + "link").c_str()), 0);
    const int followed = OpenRegularFile(dir_ + "link", O_RDONLY);
    EXPECT_GE(followed, 0);
    close(followed);
    errno = 0;
    EXPECT_EQ(OpenRegularFile(dir_ + "link", O_WRONLY | O_APPEND | O_NOFOLLOW), -1);
    EXPECT_EQ(errno, ELOOP);
}

// Both ways to a new file: the unnamed file and the named one of file
// systems without unnamed files. Each takes the longest name, keeps the
// permission bits of the file it replaces and leaves nothing when dropped.
TEST_F(FilesTest, ReplacementUnnamedAndNamed) {
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        FileReplacement::Options options;
        options.unnamed = unnamed;
        const std::string longest = dir_ + std::string(255, unnamed ? 'u' : 'n');
        {
            FileReplacement file(longest, options);
            ASSERT_GE(file.fd(), 0) << std::strerror(file.error());
            ASSERT_TRUE(WriteAll(file.fd(), "new", 3));
            ASSERT_TRUE(file.Commit());
        }
        EXPECT_EQ(testing::ReadText(longest), "new");

        std::ofstream(dir_ + "kept") << "old";
        ASSERT_EQ(chmod((dir_ + "kept").c_str(), 0640), 0);
        {
            FileReplacement file(dir_ + "kept", options);
            ASSERT_TRUE(WriteAll(file.fd(), "replaced", 8));
            ASSERT_TRUE(file.Commit());
        }
        struct stat st{};
        ASSERT_EQ(stat((dir_ + "kept").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(testing::ReadText(dir_ + "kept"), "replaced");
        {
            FileReplacement file(dir_ + "kept", options);
            ASSERT_TRUE(WriteAll(file.fd(), "dropped", 7));
        }
        {
            FileReplacement file(dir_ + "never", options);
            ASSERT_GE(file.fd(), 0);
        }
        EXPECT_EQ(testing::ReadText(dir_ + "kept"), "replaced");
        EXPECT_EQ(orvo::testing::DirEntries(dir_),
                  (std::vector<std::string>{"kept", longest.substr(dir_.size())}));
        fs::remove(longest);
        fs::remove(dir_ + "kept");
    }
    FileReplacement missing(dir_ + "no/such/dir/x");
    EXPECT_EQ(missing.fd(), -1);
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_FALSE(missing.Commit());
}

// A page file replacing a symbolic link (another user's, to a file open to
// all) takes the mode the umask gives, not the target's, and leaves the
// target alone.
TEST_F(FilesTest, ReplacedLinkGivesNoPermissionBits) {
    std::ofstream(dir_ + "victim") << "theirs";
    ASSERT_EQ(chmod((dir_ + "victim").c_str(), 0666), 0);
    ASSERT_EQ(symlink((dir_ + "victim").c_str(), (dir_ + "A000001F.tif").c_str()), 0);
    const mode_t mask = umask(022);
    {
        FileReplacement file(dir_ + "A000001F.tif");
        ASSERT_TRUE(WriteAll(file.fd(), "page", 4));
        ASSERT_TRUE(file.Commit());
    }
    umask(mask);
    struct stat st{};
    ASSERT_EQ(lstat((dir_ + "A000001F.tif").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(testing::ReadText(dir_ + "victim"), "theirs");
}

}  // namespace
}  // namespace orvo::platform
