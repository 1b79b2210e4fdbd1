#include "orvo/scanrun/micr_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::scanrun {
namespace {

namespace fs = std::filesystem;

class MicrFileTest : public ::testing::Test {
  protected:
    const testing::TempDir temp_{"scanrun-micr"};
    const fs::path dir_ = temp_.path();
};

TEST_F(MicrFileTest, AppendsRecordsAndNeverEmptiesTheFile) {
    const fs::path path = dir_ / "micr.txt";
    {
        MicrFile file(path.string());
        ASSERT_TRUE(file.Append("00000010ABC\r\n")) << file.error();
        // On disk before the next page is taken.
        EXPECT_EQ(testing::ReadText(path), "00000010ABC\r\n");
        ASSERT_TRUE(file.Append("00000021A?C\r\n"));
    }
    MicrFile again(path.string());
    ASSERT_TRUE(again.Append("00000030\r\n"));
    EXPECT_EQ(testing::ReadText(path), "00000010ABC\r\n00000021A?C\r\n00000030\r\n");
}

TEST_F(MicrFileTest, FailuresAreReported) {
    MicrFile missingDir((dir_ / "nowhere" / "micr.txt").string());
    EXPECT_FALSE(missingDir.Append("00000010\r\n"));
    EXPECT_NE(missingDir.error().find("cannot be opened"), std::string::npos);

    MicrFile isDirectory(dir_.string());
    EXPECT_FALSE(isDirectory.Append("00000010\r\n"));

    // A device that refuses every write, as a full disk does.
    MicrFile full("/dev/full");
    EXPECT_FALSE(full.Append("00000010\r\n"));
    EXPECT_NE(full.error().find("/dev/full"), std::string::npos);
}

TEST_F(MicrFileTest, OnlyARegularFileIsOpened) {
    const fs::path fifo = dir_ / "micr.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::string reason;
    EXPECT_FALSE(MicrFileAppendable(fifo.string(), &reason));
    EXPECT_EQ(reason, "is a FIFO, not a regular file");
    MicrFile file(fifo.string());
    EXPECT_FALSE(file.Open());  // at once, no reader needed
    EXPECT_NE(file.error().find("a FIFO"), std::string::npos) << file.error();

    EXPECT_FALSE(MicrFileAppendable(dir_.string(), &reason));
    EXPECT_EQ(reason, "is a directory, not a regular file");
    EXPECT_FALSE(MicrFileAppendable((dir_ / "none" / "micr.txt").string(), &reason));
    EXPECT_NE(reason.find("cannot be created"), std::string::npos);
    ASSERT_EQ(symlink("missing", (dir_ / "dangling").c_str()), 0);
    EXPECT_FALSE(MicrFileAppendable((dir_ / "dangling").string(), &reason));

    // Missing in a writable directory, or an existing regular file.
    EXPECT_TRUE(MicrFileAppendable((dir_ / "new.txt").string(), &reason));
    EXPECT_FALSE(fs::exists(dir_ / "new.txt"));  // the check creates nothing
    std::ofstream(dir_ / "old.txt") << "x";
    EXPECT_TRUE(MicrFileAppendable((dir_ / "old.txt").string(), &reason));
}

TEST_F(MicrFileTest, RecordAfterACutLineStartsOnANewLine) {
    const fs::path path = dir_ / "micr.txt";
    std::ofstream(path, std::ios::binary) << "00000010ABC\r\n0000002";
    MicrFile file(path.string());
    ASSERT_TRUE(file.Append("00000030X\r\n"));
    ASSERT_TRUE(file.Append("00000040Y\r\n"));
    EXPECT_EQ(testing::ReadText(path), "00000010ABC\r\n0000002\r\n00000030X\r\n00000040Y\r\n");
}

// Another user's link in a shared output directory: records never go where
// it leads.
TEST_F(MicrFileTest, ALinkIsNeverFollowed) {
    const fs::path victim = dir_ / "victim.txt";
    std::ofstream(victim) << "theirs\n";
    const fs::path link = dir_ / "micr.txt";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    std::string reason;
    EXPECT_FALSE(MicrFileAppendable(link.string(), &reason));
    EXPECT_NE(reason.find("is a symbolic link to a regular file"), std::string::npos) << reason;
    MicrFile file(link.string());
    EXPECT_FALSE(file.Append("00000010\r\n"));
    EXPECT_NE(file.error().find("never written through a link"), std::string::npos);
    EXPECT_EQ(testing::ReadText(victim), "theirs\n");
}

}  // namespace
}  // namespace orvo::scanrun
