#include "orvo/scanrun/run_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "orvo/testing/temp_dir.h"

namespace orvo::scanrun {
namespace {

namespace fs = std::filesystem;

class RunSettingsTest : public ::testing::Test {
  protected:
    void Write(const char* text) { std::ofstream(ini_, std::ios::binary) << text; }

    const testing::TempDir temp_{"scanrun-ini"};
    const fs::path dir_ = temp_.path();
    const std::string ini_ = SettingsFilePath(dir_.string());
};

TEST_F(RunSettingsTest, SettingsFileInTheSystemDirectory) {
    EXPECT_EQ(SettingsFilePath("/sys/dir"), "/sys/dir/OrvoScan.ini");
    EXPECT_EQ(SettingsFilePath("/sys/dir/"), "/sys/dir/OrvoScan.ini");
}

TEST_F(RunSettingsTest, ProfilesLeaveOutDefaultAndMiscInAnyCase) {
    Write("[Default]\nSide=1\n[Check]\nSide=0\n[Misc]\nMicrDetect=0\n[default]\n[Bill]\n[MISC]\n");
    EXPECT_EQ(ListProfiles(ini_), (std::vector<std::string>{"Check", "Bill"}));
    EXPECT_EQ(ProfileSide(ini_, "Check"), 0);
    EXPECT_EQ(ProfileSide(ini_, "check"), 0);
    // Bill has no Side: two-sided by default.
    EXPECT_EQ(ProfileSide(ini_, "Bill"), 1);
    // "MISC" finds the section written "Misc".
    EXPECT_EQ(MicrDetect(ini_), 0);
}

TEST_F(RunSettingsTest, MissingFileGivesDefaults) {
    EXPECT_TRUE(ListProfiles(ini_).empty());
    EXPECT_EQ(ProfileSide(ini_, "Check"), 1);
    EXPECT_EQ(MicrDetect(ini_), 1);
}

}  // namespace
}  // namespace orvo::scanrun
