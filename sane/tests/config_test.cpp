// orvoscan.conf and where it is looked for.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include <chrono>

#include "orvo/sane/config.h"
#include "orvo/testing/child.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::sane {
namespace {

TEST(Config, SettingsCommentsAndProblems) {
    std::vector<std::string> problems;
    const Config c = ParseConfig(
        "# comment\n\n  system-dir /opt/orvo  # where the tables are\n"
        "profile Check 2\naspi sim\naspi usb\nspeed fast\nprofile\n",
        &problems);
    EXPECT_EQ(c.systemDir, "/opt/orvo");
    EXPECT_EQ(c.profile, "Check 2");
    EXPECT_EQ(c.aspi, "sim");
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0], "line 6: aspi usb");
    EXPECT_EQ(problems[1], "line 7: speed fast");
}

TEST(Config, DirectoriesOfSaneConfigDir) {
    EXPECT_EQ(ConfigDirs(nullptr, "/etc/sane.d"), std::vector<std::string>{"/etc/sane.d"});
    EXPECT_EQ(ConfigDirs("", "/etc/sane.d"), std::vector<std::string>{"/etc/sane.d"});
    EXPECT_EQ(ConfigDirs("/a:/b", "/etc/sane.d"), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(ConfigDirs("/a:", "/etc/sane.d"), (std::vector<std::string>{"/a", "/etc/sane.d"}));
}

TEST(Config, TheFirstDirectoryWithTheFileWins) {
    namespace fs = std::filesystem;
    const testing::TempDir temp("orvo-sane-conf");
    const fs::path a = temp / "a";
    const fs::path b = temp / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(b / "orvoscan.conf") << "profile B\n";
    Config c = ReadConfig({a.string(), b.string()});
    EXPECT_EQ(c.profile, "B");
    EXPECT_EQ(c.path, (b / "orvoscan.conf").string());
    EXPECT_TRUE(ReadConfig({a.string()}).path.empty());
    // A FIFO in the first directory is passed over at once (the child would
    // be ended after 10 s if it waited for a writer).
    ASSERT_EQ(mkfifo((a / "orvoscan.conf").c_str(), 0600), 0);
    EXPECT_EQ(
        testing::RunInChild([&] { return ReadConfig({a.string(), b.string()}).profile == "B"; },
                            std::chrono::seconds(10)),
        1);
}

}  // namespace
}  // namespace orvo::sane
