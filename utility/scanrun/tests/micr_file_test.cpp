#include "orvo/scanrun/micr_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvo::scanrun {
namespace {

namespace fs = std::filesystem;

class MicrFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/scanrun-micr-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Contents(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
};

TEST_F(MicrFileTest, AppendsRecordsAndNeverEmptiesTheFile) {
    const fs::path path = dir_ / "micr.txt";
    {
        MicrFile file(path.string());
        ASSERT_TRUE(file.Append("00000010ABC\r\n")) << file.error();
        // On disk before the next page is taken.
        EXPECT_EQ(Contents(path), "00000010ABC\r\n");
        ASSERT_TRUE(file.Append("00000021A?C\r\n"));
    }
    MicrFile again(path.string());
    ASSERT_TRUE(again.Append("00000030\r\n"));
    EXPECT_EQ(Contents(path), "00000010ABC\r\n00000021A?C\r\n00000030\r\n");
}

TEST_F(MicrFileTest, FailuresAreReported) {
    MicrFile missingDir((dir_ / "nowhere" / "micr.txt").string());
    EXPECT_FALSE(missingDir.Append("00000010\r\n"));
    EXPECT_NE(missingDir.error().find("cannot open"), std::string::npos);

    MicrFile isDirectory(dir_.string());
    EXPECT_FALSE(isDirectory.Append("00000010\r\n"));

    // A device that refuses every write, as a full disk does.
    MicrFile full("/dev/full");
    EXPECT_FALSE(full.Append("00000010\r\n"));
    EXPECT_NE(full.error().find("/dev/full"), std::string::npos);
}

}  // namespace
}  // namespace orvo::scanrun
