// The private system directory: the operator's settings are copied, never
// written; leftovers of ended processes are removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "orvo/platform/profile.h"
#include "orvo/sane/private_settings.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::sane {
namespace {

namespace fs = std::filesystem;

using testing::ReadText;

class PrivateSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(real_);
        std::ofstream(real_ / "libK4TR.so") << "driver";
        std::ofstream(real_ / "huffmanw.dat") << "w";
        std::ofstream(real_ / "huffmanb.dat") << "b";
        ini_ =
            "; keep me\n[Check]\nSide=1\nScanMode1=0\nLED=1\n[Misc]\nMicrDetect=1\n"
            "ImageFileFormat=1\n";
        std::ofstream(real_ / "OrvoScan.ini") << ini_;
        oldTmp_ = getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "";
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        }
    }
    fs::path Parent() const { return dir_ / ("orvoscan-" + std::to_string(geteuid())); }

    const testing::TempDir temp_{"orvo-sane-private"};
    const fs::path dir_ = temp_.path();
    const fs::path real_ = dir_ / "sys";
    std::string ini_, oldTmp_;
};

TEST_F(PrivateSettingsTest, LinksTheDriverAndTablesAndCopiesTheSettings) {
    PrivateSettings p;
    std::string error;
    ASSERT_TRUE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    const fs::path dir = Parent() / ("sane-" + std::to_string(getpid()));
    EXPECT_EQ(p.dir(), dir.string() + "/");
    struct stat st{};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadText(dir / "libK4TR.so"), "driver");
    EXPECT_EQ(ReadText(dir / "huffmanw.dat"), "w");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "huffmang.dat")));  // none to link

    ScanSettings s;
    s.side = 0;
    s.scanMode = 4;
    s.scanWidth = 1024;
    s.dfDetect = 2;
    s.endorser = 3;
    s.serialNo = 77;
    s.endorserFormat = "PAID $N";
    ASSERT_TRUE(p.Prepare((real_ / "OrvoScan.ini").string(), "Check", s, &error)) << error;
    const std::string copy = p.SettingsFile();
    EXPECT_EQ(platform::ProfileInt("Misc", "DFDetect", 9, copy), 2);
    EXPECT_EQ(platform::ProfileInt("Misc", "Endorser", 9, copy), 3);
    EXPECT_EQ(platform::ProfileInt("Misc", "SerialNo", 9, copy), 77);
    EXPECT_EQ(platform::ProfileString("Misc", "EndorserFormat", "", 36, copy), "PAID $N");
    EXPECT_EQ(platform::ProfileInt("Check", "Side", 9, copy), 0);
    EXPECT_EQ(platform::ProfileInt("Check", "ScanMode1", 9, copy), 4);
    EXPECT_EQ(platform::ProfileInt("Check", "ScanWidth", 9, copy), 1024);
    EXPECT_EQ(platform::ProfileInt("Check", "LED", 9, copy), 1);  // the rest as it was
    EXPECT_EQ(platform::ProfileInt("Misc", "MicrDetect", 9, copy), 1);
    EXPECT_EQ(platform::ProfileInt("Misc", "ImageFileFormat", 9, copy), 0);
    EXPECT_EQ(platform::ProfileInt("Misc", "GrayTifCompress", 9, copy), 0);
    EXPECT_NE(ReadText(copy).find("; keep me"), std::string::npos);
    // The operator's file is untouched.
    EXPECT_EQ(ReadText(real_ / "OrvoScan.ini"), ini_);

    // Each batch starts from the operator's file as it is then.
    std::ofstream(real_ / "OrvoScan.ini") << "[Check]\nLED=0\n";
    ASSERT_TRUE(p.Prepare((real_ / "OrvoScan.ini").string(), "Check", s, &error)) << error;
    EXPECT_EQ(platform::ProfileInt("Check", "LED", 9, copy), 0);
    EXPECT_EQ(platform::ProfileInt("Misc", "MicrDetect", 9, copy), 9);

    p.Remove();
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(fs::exists(real_ / "libK4TR.so"));
}

TEST_F(PrivateSettingsTest, AMissingSettingsFileGivesOnlyTheOptions) {
    PrivateSettings p;
    std::string error;
    ASSERT_TRUE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    ScanSettings s;
    ASSERT_TRUE(p.Prepare((real_ / "none.ini").string(), "Default", s, &error)) << error;
    EXPECT_EQ(platform::ProfileInt("Default", "ScanWidth", 0, p.SettingsFile()), 1728);
    EXPECT_FALSE(fs::exists(real_ / "none.ini"));
    p.Remove();
}

// An operator's file that is no settings file is refused at once (a child
// that waits or aborts fails the bound), and the message names that file.
TEST_F(PrivateSettingsTest, SettingsFileThatIsNoSettingsFileIsRefusedAtOnce) {
    PrivateSettings p;
    std::string error;
    ASSERT_TRUE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    const fs::path fifo = real_ / "fifo.ini", zero = real_ / "zero.ini", binary = real_ / "bin.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", zero);
    testing::WriteText(binary.string(), std::string("[Check]\nSide=1\n\0\x7f"
                                                    "ELF",
                                                    18));
    const struct {
        fs::path file;
        std::string why;
    } cases[] = {{fifo, " is not a regular file"},
                 {zero, " is not a regular file"},
                 {binary, " holds a zero byte: a binary file, not settings"}};
    for (const auto& c : cases) {
        EXPECT_EQ(testing::RunInChild(
                      [&] {
                          std::string why;
                          if (p.Prepare(c.file.string(), "Check", ScanSettings{}, &why)) return 1;
                          return why == c.file.string() + c.why ? 0 : 2;
                      },
                      std::chrono::seconds(10)),
                  0)
            << c.file;
    }
}

TEST_F(PrivateSettingsTest, LeftoversOfEndedProcessesGoOthersStay) {
    fs::create_directories(Parent());
    fs::permissions(Parent(), fs::perms::owner_all);
    // A process number that is not running (beyond the kernel's limit).
    const fs::path ended = Parent() / "sane-2147483000";
    const fs::path running = Parent() / ("sane-" + std::to_string(getppid()));
    const fs::path ours = Parent() / ("sane-" + std::to_string(getpid()));
    const fs::path other = Parent() / "sane-notanumber";
    for (const fs::path& d : {ended, running, ours, other}) {
        fs::create_directories(d);
        fs::permissions(d, fs::perms::owner_all);
        std::ofstream(d / "OrvoScan.ini") << "x";
        fs::create_symlink(real_ / "libK4TR.so", d / "libK4TR.so");
    }
    PrivateSettings p;
    std::string error;
    ASSERT_TRUE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    EXPECT_FALSE(fs::exists(ended));
    EXPECT_TRUE(fs::exists(running / "OrvoScan.ini"));
    EXPECT_TRUE(fs::exists(other));
    // Our own number: an earlier process's directory is replaced.
    EXPECT_FALSE(fs::exists(ours / "OrvoScan.ini"));
    // Links are removed, never followed.
    EXPECT_EQ(ReadText(real_ / "libK4TR.so"), "driver");
    p.Remove();
}

// A directory locked by a live process that this one cannot see (another
// pid namespace sharing the temporary directory) is never taken or removed.
TEST_F(PrivateSettingsTest, DirectoriesHeldByOtherProcessesStay) {
    fs::create_directories(Parent());
    fs::permissions(Parent(), fs::perms::owner_all);
    const fs::path ours = Parent() / ("sane-" + std::to_string(getpid()));
    const fs::path ended = Parent() / "sane-2147483000-2";
    std::vector<int> held;
    for (const fs::path& d : {ours, ended}) {
        fs::create_directories(d);
        fs::permissions(d, fs::perms::owner_all);
        std::ofstream(d / "OrvoScan.ini") << "theirs";
        const int fd = open(d.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        held.push_back(fd);
    }
    PrivateSettings p;
    std::string error;
    ASSERT_TRUE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    EXPECT_EQ(p.dir(), ours.string() + "-1/");
    EXPECT_EQ(ReadText(ours / "OrvoScan.ini"), "theirs");
    EXPECT_EQ(ReadText(ended / "OrvoScan.ini"), "theirs");
    p.Remove();
    EXPECT_FALSE(fs::exists(ours.string() + "-1"));
    for (int fd : held) close(fd);
    // Once nobody holds it, the ended process's directory goes.
    PrivateSettings again;
    ASSERT_TRUE(again.Create(real_.string(), (real_ / "libK4TR.so").string(), &error)) << error;
    EXPECT_EQ(again.dir(), ours.string() + "/");
    EXPECT_FALSE(fs::exists(ended));
}

TEST_F(PrivateSettingsTest, APrivateDirectoryOpenToOthersIsRefused) {
    fs::create_directories(Parent());
    fs::permissions(Parent(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    PrivateSettings p;
    std::string error;
    EXPECT_FALSE(p.Create(real_.string(), (real_ / "libK4TR.so").string(), &error));
    EXPECT_NE(error.find("open to other users"), std::string::npos) << error;
}

}  // namespace
}  // namespace orvo::sane
