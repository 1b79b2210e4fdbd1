// Settings writes as an operator sees them in a usual installation: the
// settings file is the operator's to write, its directory is not. Run as
// root, each scenario drops to "nobody" in a child process (root ignores
// permission bits); run as another user, the directory is made read-only for
// that user.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "orvo/platform/profile.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"
#include "profile_testing.h"

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::WriteText;

class OperatorSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        // Everyone may pass through; only the owner (root) may change
        // system/ and work/.
        ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
        sysDir_ = root_ + "/system";
        ASSERT_EQ(mkdir(sysDir_.c_str(), 0755), 0);
        file_ = sysDir_ + "/OrvoScan.ini";
        tmp_ = root_ + "/operator-tmp";
        ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
        if (user_.fromRoot) {
            ASSERT_EQ(chown(tmp_.c_str(), user_.uid, user_.gid), 0);
        }
        privateDir_ = tmp_ + "/orvoscan-" + std::to_string(user_.uid);
    }

    // The operator's settings file, in a directory the operator cannot write.
    void PutOperatorFile(const std::string& text, mode_t mode = 0644) {
        WriteText(file_, text);
        ASSERT_EQ(chmod(file_.c_str(), mode), 0);
        if (user_.fromRoot) {
            ASSERT_EQ(chown(file_.c_str(), user_.uid, user_.gid), 0);
        } else {
            ASSERT_EQ(chmod(sysDir_.c_str(), 0555), 0);
        }
    }

    // Runs `step` as the operator in a child process; its exit code, or 128
    // plus the signal that ended it.
    int AsOperator(const std::function<int()>& step,
                   std::chrono::milliseconds bound = testing::kChildBound) {
        return testing::RunAsUser(
            user_,
            [&] {
                setenv("TMPDIR", tmp_.c_str(), 1);
                return step();
            },
            bound);
    }

    // The content a write of (section, key, value) makes of `text`, as
    // written where the directory allows a replacement.
    std::string Expected(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value) {
        const std::string reference = root_ + "/reference.ini";
        WriteText(reference, text);
        EXPECT_TRUE(WriteProfileString(section, key, value, reference));
        const std::string result = ReadText(reference);
        fs::remove(reference);
        return result;
    }

    const testing::TestUser user_ = testing::UnprivilegedUser();
    // In /tmp, where the operator can reach it.
    const testing::TempDir dir_{"orvo-operator", "/tmp"};
    const std::string root_ = dir_.path();
    std::string sysDir_, file_, tmp_, privateDir_;
};

TEST_F(OperatorSettings, WriteSucceedsInADirectoryTheOperatorCannotWrite) {
    const std::string old = "; scanner settings\n[Misc]\nImageFileFormat=0\nGrayTifCompress=1\n";
    PutOperatorFile(old, 0640);
    const std::string expected = Expected(old, "Misc", "ImageFileFormat", "1");
    EXPECT_EQ(AsOperator([&] {
                  // The directory really is closed to the operator.
                  if (access(sysDir_.c_str(), W_OK) == 0) return 2;
                  return WriteProfileString("Misc", "ImageFileFormat", "1", file_) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ReadText(file_), expected);
    struct stat st{};
    ASSERT_EQ(stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user_.uid);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(orvo::testing::DirEntries(sysDir_), std::vector<std::string>{"OrvoScan.ini"});
    // The rewrite's journal is gone once the rewrite is complete.
    EXPECT_TRUE(!fs::exists(privateDir_) || orvo::testing::DirEntries(privateDir_).empty());
}

TEST_F(OperatorSettings, ShorterContentLeavesNoTailOfTheOldFile) {
    const std::string old = "[Misc]\nEndorserFormat=" + std::string(30, 'x') + "\n";
    PutOperatorFile(old);
    EXPECT_EQ(AsOperator([&] {
                  return WriteProfileString("Misc", "EndorserFormat", "ab", file_) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ReadText(file_), "[Misc]\nEndorserFormat=ab\n");
}

TEST_F(OperatorSettings, AFileTheOperatorCannotWriteIsReportedWithItsPath) {
    const std::string old = "[Misc]\nImageFileFormat=0\n";
    PutOperatorFile(old, 0444);
    EXPECT_EQ(AsOperator([&] {
                  std::string error;
                  if (WriteProfileString("Misc", "ImageFileFormat", "2", file_, &error)) return 1;
                  if (error.find(file_) == std::string::npos) return 2;
                  return error.find("ermission denied") != std::string::npos ? 0 : 3;
              }),
              0);
    EXPECT_EQ(ReadText(file_), old);
    EXPECT_TRUE(!fs::exists(privateDir_) || orvo::testing::DirEntries(privateDir_).empty());
}

// The operator is killed half way through a rewrite in place: the next read
// finds the file torn no longer, but complete with the new content.
TEST_F(OperatorSettings, RewriteCutShortIsCompletedByTheNextAccess) {
    std::string old = "[Misc]\nImageFileFormat=0\n";
    for (int i = 0; i < 50; ++i)
        old += "Filler" + std::to_string(i) + "=" + std::string(30, 'f') + "\n";
    PutOperatorFile(old);
    const std::string longer = std::string(500, 'L');
    const std::string expected = Expected(old, "Misc", "ImageFileFormat", longer);
    EXPECT_EQ(AsOperator([&] {
                  test_hooks::g_afterHalfRewrite = [] { raise(SIGKILL); };
                  WriteProfileString("Misc", "ImageFileFormat", longer, file_);
                  return 0;
              }),
              128 + SIGKILL);
    const std::string torn = ReadText(file_);
    EXPECT_NE(torn, old);
    EXPECT_NE(torn, expected);

    EXPECT_EQ(AsOperator([&] {
                  return ProfileString("Misc", "ImageFileFormat", "", 1024, file_) == longer ? 0
                                                                                             : 1;
              }),
              0);
    EXPECT_EQ(ReadText(file_), expected);
    EXPECT_EQ(orvo::testing::DirEntries(sysDir_), std::vector<std::string>{"OrvoScan.ini"});
    EXPECT_TRUE(orvo::testing::DirEntries(privateDir_).empty());
}

TEST_F(OperatorSettings, RootWritingTheOperatorsFileLeavesItTheOperators) {
    if (!user_.fromRoot) GTEST_SKIP() << "only root can write a file of another user";
    WriteText(file_, "[Misc]\nImageFileFormat=0\n");
    ASSERT_EQ(chown(file_.c_str(), user_.uid, user_.gid), 0);
    ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
    ASSERT_TRUE(WriteProfileString("Misc", "ImageFileFormat", "2", file_));
    struct stat st{};
    ASSERT_EQ(stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user_.uid);
    EXPECT_EQ(st.st_gid, user_.gid);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // ... so the operator can still write it.
    EXPECT_EQ(AsOperator([&] {
                  return WriteProfileString("Misc", "ImageFileFormat", "1", file_) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ReadText(file_), "[Misc]\nImageFileFormat=1\n");
}

// A packaged installation links OrvoScan.ini to the real file elsewhere.
TEST_F(OperatorSettings, LinkedFileIsWrittenWhereTheLinkLeads) {
    const std::string etc = root_ + "/etc";
    ASSERT_EQ(mkdir(etc.c_str(), 0755), 0);
    const std::string real = etc + "/OrvoScan.ini";
    WriteText(real, "[Misc]\nImageFileFormat=0\n");
    if (user_.fromRoot) {
        ASSERT_EQ(chown(real.c_str(), user_.uid, user_.gid), 0);
    }
    ASSERT_EQ(symlink("../etc/OrvoScan.ini", file_.c_str()), 0);
    if (!user_.fromRoot) {
        ASSERT_EQ(chmod(sysDir_.c_str(), 0555), 0);
    }
    EXPECT_EQ(AsOperator([&] {
                  return WriteProfileString("Misc", "ImageFileFormat", "1", file_) ? 0 : 1;
              }),
              0);
    struct stat st{};
    ASSERT_EQ(lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadText(real), "[Misc]\nImageFileFormat=1\n");

    // A link to a file not there yet creates that file, never replaces the link.
    ASSERT_EQ(chmod(sysDir_.c_str(), 0755), 0);
    fs::remove(real);
    ASSERT_TRUE(WriteProfileString("Misc", "Endorser", "1", file_));
    ASSERT_EQ(lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadText(real), "[Misc]\nEndorser=1\n");

    // A loop of links is refused.
    const std::string loop = sysDir_ + "/loop.ini";
    ASSERT_EQ(symlink("loop.ini", loop.c_str()), 0);
    std::string error;
    EXPECT_FALSE(WriteProfileString("Misc", "Endorser", "1", loop, &error));
    EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
    ASSERT_EQ(lstat(loop.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A FIFO in place of the settings file is refused at once, for reading and
// for writing (the child would be ended after 10 s if it blocked).
TEST_F(OperatorSettings, FifoIsRefusedWithoutWaiting) {
    ASSERT_EQ(mkfifo(file_.c_str(), 0666), 0);
    EXPECT_EQ(AsOperator(
                  [&] {
                      if (ProfileInt("Misc", "ImageFileFormat", 7, file_) != 7) return 1;
                      if (!ProfileSectionNames(file_).empty()) return 2;
                      std::string error;
                      if (WriteProfileString("Misc", "ImageFileFormat", "1", file_, &error))
                          return 3;
                      return error.find("not a regular file") != std::string::npos ? 0 : 4;
                  },
                  std::chrono::seconds(10)),
              0);
    struct stat st{};
    ASSERT_EQ(lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A process killed while it replaces the file (here by the file size limit
// in the middle of writing the new content) leaves the old file whole and no
// temporary file beside it.
TEST_F(OperatorSettings, KilledReplacementLeavesNothingBehind) {
    const std::string old = "[Misc]\nImageFileFormat=0\n";
    WriteText(file_, old);
    ASSERT_EQ(testing::RunInChild([&] {
                  testing::EndAtFileSize(4096);
                  WriteProfileString("Misc", "EndorserFormat", std::string(10000, 'e'), file_);
                  return 0;
              }),
              128 + SIGXFSZ);
    EXPECT_EQ(ReadText(file_), old);
    EXPECT_EQ(orvo::testing::DirEntries(sysDir_), std::vector<std::string>{"OrvoScan.ini"});
}

// A rewrite in place that cannot finish leaves the file as a reader last saw
// it or as the writer wanted it, never a mix; and a rewrite recorded long
// ago never undoes what another operator stored since.
TEST_F(OperatorSettings, FullDiskAndStaleJournalsLeaveEveryStoredValue) {
    if (!user_.fromRoot) GTEST_SKIP() << "mounting a small file system needs root";
    // The file nearly fills a page of a file system with no page to spare.
    if (mount("tmpfs", sysDir_.c_str(), "tmpfs", 0, "size=8k,mode=0755") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string dir;
        ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
    } unmount{sysDir_};
    const std::string old =
        "[Misc]\nImageFileFormat=0\nFiller=" + std::string(4000, 'f') + "\nSerialNo=12345\n";
    PutOperatorFile(old);
    WriteText(sysDir_ + "/ballast", std::string(4096, 'b'));

    const struct {
        const char* what;
        std::function<void()> before;  // as root, before the operator's write
        std::string value;             // the operator writes SerialNo=value
        bool killedHalfWay;            // the operator's write is cut short
        std::function<void()> after;   // as root, before the operator reads again
        std::string expected;          // the file in the end
    } cases[] = {
        {"a full disk fails the write and leaves the file", [] {}, std::string(200, '9'), false,
         [] {}, old},
        {"a journal of a file changed since is dropped",
         [&] { ASSERT_EQ(truncate((sysDir_ + "/ballast").c_str(), 0), 0); }, "777", true,
         [&] {
             // Another operator stores a setting (as root, in place).
             std::string text = old;
             text.replace(text.find("ImageFileFormat=0"), 17, "ImageFileFormat=1");
             std::ofstream(file_, std::ios::trunc) << text;
         },
         [&] {
             std::string text = old;
             text.replace(text.find("ImageFileFormat=0"), 17, "ImageFileFormat=1");
             return text;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        const bool killed = c.killedHalfWay;
        const std::string value = c.value;
        const int code = AsOperator([&] {
            if (killed) test_hooks::g_afterHalfRewrite = [] { raise(SIGKILL); };
            std::string error;
            if (WriteProfileString("Misc", "SerialNo", value, file_, &error)) return 1;
            return error.find("left as it was") != std::string::npos ? 0 : 2;
        });
        EXPECT_EQ(code, killed ? 128 + SIGKILL : 0);
        c.after();
        EXPECT_EQ(AsOperator([&] { return ProfileInt("Misc", "Endorser", 0, file_); }), 0);
        EXPECT_EQ(ReadText(file_), c.expected);
        EXPECT_TRUE(orvo::testing::DirEntries(privateDir_).empty());
    }
}

}  // namespace
}  // namespace orvo::platform
