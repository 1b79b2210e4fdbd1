#include "orvo/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvo-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = std::string(pattern) + "/";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string dir_;
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

}  // namespace
}  // namespace orvo::platform
