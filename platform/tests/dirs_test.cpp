#include "orvo/platform/dirs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "orvo/testing/temp_dir.h"

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;

// Points TMPDIR at a fresh directory for the test and puts it back afterwards.
class PrivateTempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TMPDIR", root_.c_str(), 1);
        expected_ = root_ + "/orvoscan-" + std::to_string(geteuid());
    }
    void TearDown() override {
        if (hadOld_) {
            setenv("TMPDIR", old_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    std::string Refusal() {
        std::string error;
        std::string dir = PrivateTempDir(&error);
        EXPECT_EQ(dir, "");
        EXPECT_FALSE(error.empty());
        return error;
    }

    bool hadOld_ = false;
    std::string old_;
    const testing::TempDir dir_{"orvo-dirs"};
    const std::string root_ = dir_.path();
    std::string expected_;
};

TEST_F(PrivateTempDirTest, CreatesAPrivateDirectoryAndReusesIt) {
    std::string error;
    EXPECT_EQ(PrivateTempDir(&error), expected_ + "/");
    struct stat st{};
    ASSERT_EQ(lstat(expected_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(PrivateTempDir(), expected_ + "/");
}

TEST_F(PrivateTempDirTest, TrailingSlashOfTmpdirIsNotDoubled) {
    setenv("TMPDIR", (root_ + "//").c_str(), 1);
    EXPECT_EQ(PrivateTempDir(), expected_ + "/");
}

TEST_F(PrivateTempDirTest, RefusesADirectoryOpenToOthers) {
    ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
    ASSERT_EQ(chmod(expected_.c_str(), 0755), 0);
    EXPECT_NE(Refusal().find("open to other users"), std::string::npos);
    ASSERT_EQ(chmod(expected_.c_str(), 0710), 0);
    Refusal();
}

TEST_F(PrivateTempDirTest, RefusesASymbolicLinkEvenToAPrivateDirectory) {
    const std::string target = root_ + "/elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), expected_.c_str()), 0);
    EXPECT_NE(Refusal().find("symbolic link"), std::string::npos);
}

TEST_F(PrivateTempDirTest, RefusesAPlainFile) {
    std::ofstream(expected_) << "x";
    EXPECT_NE(Refusal().find("not a directory"), std::string::npos);
}

TEST_F(PrivateTempDirTest, RefusesADirectoryOfAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory away";
    ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
    ASSERT_EQ(chown(expected_.c_str(), 12345, 12345), 0);
    EXPECT_NE(Refusal().find("another user"), std::string::npos);
}

TEST_F(PrivateTempDirTest, RelativeTmpdirFallsBackToTmp) {
    setenv("TMPDIR", "relative/dir", 1);
    std::string dir = PrivateTempDir();
    EXPECT_EQ(dir, "/tmp/orvoscan-" + std::to_string(geteuid()) + "/");
}

TEST_F(PrivateTempDirTest, MissingTmpdirFallsBackToTmp) {
    const std::string tmp = "/tmp/orvoscan-" + std::to_string(geteuid()) + "/";
    for (const std::string& base : {root_ + "/gone", root_ + "/plain-file"}) {
        SCOPED_TRACE(base);
        std::ofstream(root_ + "/plain-file") << "x";
        setenv("TMPDIR", base.c_str(), 1);
        std::string error;
        EXPECT_EQ(PrivateTempDir(&error), tmp);
        EXPECT_EQ(error, "");
    }
    EXPECT_FALSE(fs::exists(root_ + "/gone"));
}

TEST_F(PrivateTempDirTest, ExistingOnlyNeverMakesTheDirectory) {
    EXPECT_EQ(ExistingPrivateTempDir(), "");
    EXPECT_FALSE(fs::exists(expected_));
    ASSERT_EQ(PrivateTempDir(), expected_ + "/");
    EXPECT_EQ(ExistingPrivateTempDir(), expected_ + "/");
    ASSERT_EQ(chmod(expected_.c_str(), 0755), 0);
    EXPECT_EQ(ExistingPrivateTempDir(), "");
}

TEST(DirsTest, WithTrailingSlash) {
    EXPECT_EQ(WithTrailingSlash(""), "");
    EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
    EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
}

TEST(DirsTest, EnvGivesEmptyTextWhenUnset) {
    unsetenv("ORVO_DIRS_TEST_UNSET");
    EXPECT_EQ(Env("ORVO_DIRS_TEST_UNSET"), "");
    setenv("ORVO_DIRS_TEST_SET", "value", 1);
    EXPECT_EQ(Env("ORVO_DIRS_TEST_SET"), "value");
}

void MarkerFunction() {}

TEST(DirsTest, ConfiguredSystemDirPrefersTheEnvironment) {
    const std::string saved = Env("ORVOSCAN_SYSTEM_DIR");
    struct Case {
        const char* env;  // null: unset
        const char* defaultDir;
        const char* expected;
    };
    const Case cases[] = {
        {"/etc/orvo", "/usr/lib/orvoscan/", "/etc/orvo/"},      // the variable wins
        {"/etc/orvo/", "", "/etc/orvo/"},                       // one '/' at the end
        {"", "/usr/lib/orvoscan", "/usr/lib/orvoscan/"},        // set but empty: not configured
        {nullptr, "/usr/lib/orvoscan/", "/usr/lib/orvoscan/"},  // unset
        {nullptr, "", ""},                                      // nothing known
    };
    for (const Case& c : cases) {
        if (c.env != nullptr) {
            setenv("ORVOSCAN_SYSTEM_DIR", c.env, 1);
        } else {
            unsetenv("ORVOSCAN_SYSTEM_DIR");
        }
        EXPECT_EQ(ConfiguredSystemDir(c.defaultDir), c.expected) << (c.env ? c.env : "(unset)");
    }
    if (saved.empty()) {
        unsetenv("ORVOSCAN_SYSTEM_DIR");
    } else {
        setenv("ORVOSCAN_SYSTEM_DIR", saved.c_str(), 1);
    }
}

TEST(DirsTest, ObjectDirOfNamesTheTestProgram) {
    std::string name;
    std::string dir = ObjectDirOf(reinterpret_cast<const void*>(&MarkerFunction), &name);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(name, "platform_tests");
    EXPECT_TRUE(fs::exists(dir + name));
    EXPECT_EQ(ObjectDirOf(nullptr), "");
}

TEST(DirsTest, UnversionedLibraryNameDropsTheVersion) {
    EXPECT_EQ(UnversionedLibraryName("libK4TR.so.1.0.0"), "libK4TR.so");
    EXPECT_EQ(UnversionedLibraryName("libK4TR.so.1"), "libK4TR.so");
    EXPECT_EQ(UnversionedLibraryName("libK4TR.so"), "libK4TR.so");
    EXPECT_EQ(UnversionedLibraryName("orvoscan"), "orvoscan");
}

// A library directory laid out like an installed driver, in a fresh
// temporary directory.
class SystemDirOfLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(lib_);
        std::ofstream(lib_ + "libK4TR.so.1.0.0") << "driver";
    }

    const testing::TempDir dir_{"orvo-sysdir"};
    const std::string root_ = dir_.path();
    const std::string lib_ = root_ + "/lib/";
};

TEST_F(SystemDirOfLibraryTest, ALibraryAloneIsItsOwnSystemDirectory) {
    EXPECT_EQ(SystemDirOfLibrary(lib_ + "libK4TR.so.1.0.0"), lib_);
    fs::create_directory(lib_ + "orvoscan");
    EXPECT_EQ(SystemDirOfLibrary(lib_ + "libK4TR.so.1.0.0"), lib_);
}

TEST_F(SystemDirOfLibraryTest, AnInstalledLibraryUsesItsPrivateDirectory) {
    fs::create_directory(lib_ + "orvoscan");
    fs::create_symlink("../libK4TR.so.1.0.0", lib_ + "orvoscan/libK4TR.so");
    EXPECT_EQ(SystemDirOfLibrary(lib_ + "libK4TR.so.1.0.0"), lib_ + "orvoscan/");
}

TEST_F(SystemDirOfLibraryTest, AnotherLibraryInTheSubdirectoryIsNotTaken) {
    // An orvoscan/ directory of some other driver copy is not this driver's.
    fs::create_directory(lib_ + "orvoscan");
    std::ofstream(lib_ + "orvoscan/libK4TR.so") << "driver";
    EXPECT_EQ(SystemDirOfLibrary(lib_ + "libK4TR.so.1.0.0"), lib_);
    EXPECT_EQ(SystemDirOfLibrary("libK4TR.so"), "");
}

TEST(DirsTest, LibrarySystemDirOfTheTestProgramIsItsDirectory) {
    std::string file;
    const std::string dir = LibrarySystemDir(reinterpret_cast<const void*>(&MarkerFunction), &file);
    EXPECT_EQ(file, dir + "platform_tests");
}

}  // namespace
}  // namespace orvo::platform
