// Loading the code table files.
#include "orvo/image/code_tables.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "orvo/codes/codes.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

class LoadTables : public ::testing::Test {
  protected:
    void Write(const char* name, std::size_t size, uint8_t fill) {
        testing::WriteBytes(temp_ / name, std::vector<uint8_t>(size, fill));
    }
    const testing::TempDir temp_{"orvo-tables"};
    const std::string dir_ = temp_.path();
};

TEST_F(LoadTables, ReadsAllThreeAndAcceptsLongerFiles) {
    Write("huffmanb.dat", 16384, 0xB1);
    Write("huffmanw.dat", 20000, 0xA1);
    Write("huffmang.dat", 512, 0x91);
    ASSERT_EQ(LoadCodeTables(dir_), 0);
    const CodeTables& t = LoadedCodeTables();
    EXPECT_EQ(t.black[0], 0xB1);
    EXPECT_EQ(t.black[16383], 0xB1);
    EXPECT_EQ(t.white[16383], 0xA1);
    EXPECT_EQ(t.gray[511], 0x91);
    EXPECT_EQ(LoadCodeTables(dir_ + "/"), 0);  // a trailing separator is fine too
}

TEST_F(LoadTables, StopsAtTheFirstShortOrMissingFile) {
    Write("huffmanb.dat", 16384, 0x01);
    Write("huffmanw.dat", 16384, 0x02);
    Write("huffmang.dat", 512, 0x03);
    ASSERT_EQ(LoadCodeTables(dir_), 0);

    // huffmanw.dat one byte short: black is read anew, white keeps its contents.
    Write("huffmanb.dat", 16384, 0x11);
    Write("huffmanw.dat", 16383, 0x12);
    Write("huffmang.dat", 512, 0x13);
    EXPECT_EQ(LoadCodeTables(dir_), -1);
    EXPECT_EQ(LoadedCodeTables().black[5], 0x11);
    EXPECT_EQ(LoadedCodeTables().white[5], 0x02);
    EXPECT_EQ(LoadedCodeTables().gray[5], 0x03);

    Write("huffmanw.dat", 16384, 0x12);
    fs::remove(dir_ + "/huffmang.dat");
    EXPECT_EQ(LoadCodeTables(dir_), -1);
    EXPECT_EQ(LoadedCodeTables().white[5], 0x12);
    EXPECT_EQ(LoadedCodeTables().gray[5], 0x03);

    EXPECT_EQ(LoadCodeTables(dir_ + "/missing"), -1);
}

// A FIFO in place of a table file is refused at once (the child would be
// ended after 10 s if driver start waited on it).
TEST_F(LoadTables, FifoIsRefusedWithoutWaiting) {
    Write("huffmanb.dat", 16384, 0xB1);
    Write("huffmang.dat", 512, 0xC1);
    ASSERT_EQ(mkfifo((dir_ + "/huffmanw.dat").c_str(), 0600), 0);
    EXPECT_EQ(testing::RunInChild([&] { return LoadCodeTables(dir_) == -1 ? 0 : 1; },
                                  std::chrono::seconds(10)),
              0);
}

// The files the build lays out in the system directory load and hold the
// generated tables.
TEST(SystemDirTables, BuildOutputLoads) {
    const char* dir = std::getenv("ORVOSCAN_SYSTEM_DIR");
    if (dir == nullptr || !fs::exists(fs::path(dir) / "huffmang.dat")) {
        GTEST_SKIP() << "no code table files in the system directory";
    }
    ASSERT_EQ(LoadCodeTables(dir), 0);
    const auto white = codes::BuildMhTable(false);
    const auto gray = codes::BuildGrayTable();
    EXPECT_TRUE(std::equal(white.begin(), white.end(), LoadedCodeTables().white));
    EXPECT_TRUE(std::equal(gray.begin(), gray.end(), LoadedCodeTables().gray));
}

}  // namespace
}  // namespace orvo
