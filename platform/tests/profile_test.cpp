#include "orvo/platform/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::platform {
namespace {

class ProfileTest : public ::testing::Test {
  protected:
    void TearDown() override { ASSERT_TRUE(testing::RemoveTree(dir_.path())); }

    void Put(const std::string& text) { testing::WriteText(file_, text); }
    std::string Contents() const { return testing::ReadText(file_); }
    // Names in the directory other than the settings file.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names = testing::DirEntries(dir_.path());
        std::erase(names, "OrvoScan.ini");
        return names;
    }

    const testing::TempDir dir_{"profile_test"};
    const std::string file_ = dir_ / "OrvoScan.ini";
};

TEST_F(ProfileTest, MissingFileGivesDefaults) {
    EXPECT_TRUE(ProfileSectionNames(file_).empty());
    EXPECT_EQ(ProfileInt("Default", "Side", 1, file_), 1);
    EXPECT_EQ(ProfileString("Misc", "EndorserFormat", "abcdef", 4, file_), "abc");
    EXPECT_EQ(ProfileString("Misc", "EndorserFormat", "abc", 0, file_), "");
}

TEST_F(ProfileTest, SectionNamesInFileOrderAndLookupIgnoresCase) {
    Put("top=1\n[Zeta]\na=1\n[Default]\nSide=0\n[alpha]\n[MISC]\nMicrDetect=2\n");
    EXPECT_EQ(ProfileSectionNames(file_),
              (std::vector<std::string>{"Zeta", "Default", "alpha", "MISC"}));
    EXPECT_EQ(ProfileInt("default", "SIDE", 1, file_), 0);
    EXPECT_EQ(ProfileInt("Misc", "micrdetect", 0, file_), 2);
    EXPECT_EQ(ProfileInt("Misc", "Missing", 9, file_), 9);
    EXPECT_EQ(ProfileInt("Nowhere", "a", 9, file_), 9);
}

TEST_F(ProfileTest, IntegersReadLikeThePlatform) {
    Put("[S]\nplain=1704\nneg=-12\npos=+5\ntrail=12abc\nalpha=abc\nempty=\nblank=   \n"
        "sign=-\nwrap=4294967297\nquoted=\"42\"\nspaced=  7  \n");
    EXPECT_EQ(ProfileInt("S", "plain", 0, file_), 1704);
    EXPECT_EQ(ProfileInt("S", "neg", 0, file_), -12);
    EXPECT_EQ(ProfileInt("S", "pos", 0, file_), 5);
    EXPECT_EQ(ProfileInt("S", "trail", 0, file_), 12);
    EXPECT_EQ(ProfileInt("S", "alpha", 3, file_), 0);
    EXPECT_EQ(ProfileInt("S", "empty", 3, file_), 3);
    EXPECT_EQ(ProfileInt("S", "blank", 3, file_), 3);
    EXPECT_EQ(ProfileInt("S", "sign", 3, file_), 0);
    EXPECT_EQ(ProfileInt("S", "wrap", 0, file_), 1);
    EXPECT_EQ(ProfileInt("S", "quoted", 0, file_), 42);
    EXPECT_EQ(ProfileInt("S", "spaced", 0, file_), 7);
}

TEST_F(ProfileTest, TextCutToBufferAndQuotesRemoved) {
    Put("[Misc]\nEndorserFormat=0123456789\nQ='it is'\nHalf=\"open\nDate=2003051499\n");
    EXPECT_EQ(ProfileString("Misc", "EndorserFormat", "", 36, file_), "0123456789");
    EXPECT_EQ(ProfileString("Misc", "EndorserFormat", "", 5, file_), "0123");
    EXPECT_EQ(ProfileString("Misc", "EndorserFormat", "", 1, file_), "");
    EXPECT_EQ(ProfileString("Misc", "Date", "", 9, file_), "20030514");
    EXPECT_EQ(ProfileString("Misc", "Q", "", 36, file_), "it is");
    EXPECT_EQ(ProfileString("Misc", "Half", "", 36, file_), "\"open");
    EXPECT_EQ(ProfileString("Misc", "None", "dflt", 36, file_), "dflt");
}

TEST_F(ProfileTest, DuplicateKeyFirstValueWinsAndWriteReplacesIt) {
    Put("[S]\nk=first\nK=second\nz=1\n");
    EXPECT_EQ(ProfileString("S", "k", "", 36, file_), "first");
    ASSERT_TRUE(WriteProfileString("S", "K", "new", file_));
    EXPECT_EQ(ProfileString("S", "k", "", 36, file_), "new");
    const std::string text = Contents();
    // Still before z, where the first occurrence was.
    EXPECT_LT(text.find("=new"), text.find("z=1"));
}

TEST_F(ProfileTest, DuplicateSectionsAreMergedIntoTheFirst) {
    Put("[A]\nx=1\n[B]\n[a]\nx=2\ny=3\n");
    EXPECT_EQ(ProfileSectionNames(file_), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ProfileInt("A", "x", 0, file_), 1);
    EXPECT_EQ(ProfileInt("A", "y", 0, file_), 3);
}

TEST_F(ProfileTest, WriteCreatesFileAndSection) {
    ASSERT_TRUE(WriteProfileString("Misc", "ImageFileFormat", "2", file_));
    ASSERT_TRUE(WriteProfileString("Check2", "Side", "0", file_));
    EXPECT_EQ(ProfileSectionNames(file_), (std::vector<std::string>{"Misc", "Check2"}));
    EXPECT_EQ(ProfileInt("misc", "imagefileformat", 0, file_), 2);
    EXPECT_EQ(ProfileInt("Check2", "Side", 1, file_), 0);
    EXPECT_NE(Contents().find("[Misc]\nImageFileFormat=2\n"), std::string::npos);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ProfileTest, WriteKeepsCommentsOrderAndUnknownKeys) {
    Put("; settings of the scanner\n\n[Default]\n; the side\nSide=1\nUnknown=keep me\n"
        "ScanWidth=1700\n[Misc]\n# hash comment\nFoo=bar\n");
    ASSERT_TRUE(WriteProfileString("DEFAULT", "scanwidth", "1704", file_));
    ASSERT_TRUE(WriteProfileString("Default", "LED", "1", file_));
    const std::string text = Contents();
    EXPECT_NE(text.find("; settings of the scanner"), std::string::npos);
    EXPECT_NE(text.find("; the side"), std::string::npos);
    EXPECT_NE(text.find("# hash comment"), std::string::npos);
    EXPECT_NE(text.find("Unknown=keep me"), std::string::npos);
    // The existing key keeps its spelling and place; the new one goes to the end
    // of its section, before the next section.
    const auto side = text.find("Side=1");
    const auto width = text.find("ScanWidth=1704");
    const auto led = text.find("LED=1");
    const auto misc = text.find("[Misc]");
    ASSERT_NE(width, std::string::npos);
    ASSERT_NE(led, std::string::npos);
    EXPECT_LT(side, width);
    EXPECT_LT(width, led);
    EXPECT_LT(led, misc);
    EXPECT_EQ(ProfileString("Misc", "Foo", "", 36, file_), "bar");
}

TEST_F(ProfileTest, CommentAtTheEndOfTheFileSurvivesRewrites) {
    Put("[Misc]\nA=1\n; last words\n");
    ASSERT_TRUE(WriteProfileString("Misc", "B", "2", file_));
    ASSERT_TRUE(WriteProfileString("Misc", "B", "3", file_));
    const std::string text = Contents();
    EXPECT_NE(text.find("B=3\n; last words\n"), std::string::npos);
    EXPECT_EQ(text.find("; last words"), text.rfind("; last words"));
}

TEST_F(ProfileTest, BytesOfOtherEncodingsAreKept) {
    const std::string giro = "\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE";  // CP949 text
    const std::string utf8 = "\xEC\x9D\xBC\xEB\xB0\x98";
    Put("[" + giro + "]\nName=" + utf8 + "\n");
    EXPECT_EQ(ProfileSectionNames(file_), (std::vector<std::string>{giro}));
    EXPECT_EQ(ProfileString(giro, "Name", "", 64, file_), utf8);
    ASSERT_TRUE(WriteProfileString(giro, "Other", giro, file_));
    EXPECT_EQ(ProfileString(giro, "Other", "", 64, file_), giro);
    EXPECT_NE(Contents().find("[" + giro + "]"), std::string::npos);
}

TEST_F(ProfileTest, CrLfFileKeepsItsLineEnds) {
    Put("[Default]\r\nSide=1\r\n");
    ASSERT_TRUE(WriteProfileString("Default", "LED", "1", file_));
    const std::string text = Contents();
    EXPECT_NE(text.find("Side=1\r\nLED=1\r\n"), std::string::npos);
    EXPECT_EQ(text.find("1\n"), std::string::npos);
}

TEST_F(ProfileTest, WriteRefusesTextThatWouldBreakTheFile) {
    Put("[Misc]\nEndorserFormat=x\n");
    EXPECT_FALSE(WriteProfileString("Misc", "EndorserFormat", "a\n[Evil]\nk=v", file_));
    EXPECT_FALSE(WriteProfileString("Mi]sc", "K", "v", file_));
    EXPECT_FALSE(WriteProfileString("Misc", "K=1", "v", file_));
    EXPECT_FALSE(WriteProfileString("Misc", "", "v", file_));
    EXPECT_FALSE(WriteProfileString("", "K", "v", file_));
    EXPECT_EQ(Contents(), "[Misc]\nEndorserFormat=x\n");
}

TEST_F(ProfileTest, FailedWriteLeavesOldFileWhole) {
    const std::string old = "[Default]\nSide=1\nScanWidth=1700\n";
    Put(old);
    // The file size limit makes the write of the replacement fail half way.
    struct rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written = WriteProfileString("Default", "ScanWidth", "1704", file_);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(Contents(), old);
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_TRUE(WriteProfileString("Default", "ScanWidth", "1704", file_));
    EXPECT_EQ(ProfileInt("Default", "ScanWidth", 0, file_), 1704);
}

TEST_F(ProfileTest, FileWithZeroByteIsNotRewritten) {
    const std::string old("[A]\nx=1\n\0[B]\ny=2\n", 17);
    Put(old);
    // Not settings: read as no file at all, and the reason told.
    EXPECT_EQ(ProfileInt("A", "x", 0, file_), 0);
    std::string text, error;
    EXPECT_FALSE(ReadProfileText(file_, text, &error));
    EXPECT_NE(error.find("zero byte"), std::string::npos) << error;
    EXPECT_FALSE(WriteProfileString("A", "x", "3", file_));
    EXPECT_EQ(Contents(), old);
}

TEST_F(ProfileTest, UnreadableTargetIsNotReplaced) {
    // A directory where the file should be: nothing is read, nothing replaced.
    ASSERT_EQ(::mkdir(file_.c_str(), 0700), 0);
    EXPECT_FALSE(WriteProfileString("Misc", "K", "1", file_));
    EXPECT_EQ(ProfileInt("Misc", "K", 5, file_), 5);
    struct stat st{};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ProfileTest, WriteThroughSymbolicLinkKeepsTheLink) {
    const std::string real = dir_ / "real.ini";
    {
        std::ofstream out(real);
        out << "[Misc]\nA=1\n";
    }
    ASSERT_EQ(::symlink(real.c_str(), file_.c_str()), 0);
    ASSERT_TRUE(WriteProfileString("Misc", "B", "2", file_));
    struct stat st{};
    ASSERT_EQ(::lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ProfileInt("Misc", "B", 0, real), 2);
    EXPECT_EQ(ProfileInt("Misc", "A", 0, real), 1);
}

TEST_F(ProfileTest, ReadersSeeTheOldOrTheNewFileNeverAPart) {
    std::string body = "[Misc]\nValue=0\n";
    for (int i = 0; i < 200; ++i)
        body += "Filler" + std::to_string(i) + "=" + std::string(40, 'f') + "\n";
    Put(body);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const int v = ProfileInt("Misc", "Value", -1, file_);
            const std::string last = ProfileString("Misc", "Filler199", "", 64, file_);
            if (v < 0 || last.size() != 40) torn.fetch_add(1);
        }
    });
    for (int i = 1; i <= 50; ++i) {
        EXPECT_TRUE(WriteProfileString("Misc", "Value", std::to_string(i), file_));
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(ProfileInt("Misc", "Value", -1, file_), 50);
}

TEST_F(ProfileTest, ReplacementKeepsFileMode) {
    Put("[Misc]\nA=1\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
    ASSERT_TRUE(WriteProfileString("Misc", "A", "2", file_));
    struct stat st{};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A write changes the line of its key where a read finds it (or adds one line
// after the last key of the first section of that name): sections differing
// only in letter case stay apart, and no blank line, comment or byte moves.
TEST_F(ProfileTest, WriteChangesOnlyTheLineOfItsKey) {
    const std::string cased =
        "[misc]\nMicrDetect=0\n[Default]\nSide=1\n[Misc]\nDFDetect=1\n"
        "[MISC]\nImageFileFormat=2\n[default]\nLED=1\n";
    const struct {
        std::string before, section, key, value, after;
    } cases[] = {
        {cased, "Misc", "ImageFileFormat", "1",
         "[misc]\nMicrDetect=0\n[Default]\nSide=1\n[Misc]\nDFDetect=1\n[MISC]\nImageFileFormat=1\n"
         "[default]\nLED=1\n"},
        {cased, "MISC", "SerialNo", "5",
         "[misc]\nMicrDetect=0\nSerialNo=5\n[Default]\nSide=1\n[Misc]\nDFDetect=1\n[MISC]\n"
         "ImageFileFormat=2\n[default]\nLED=1\n"},
        {cased, "default", "LED", "0",
         "[misc]\nMicrDetect=0\n[Default]\nSide=1\n[Misc]\nDFDetect=1\n[MISC]\nImageFileFormat=2\n"
         "[default]\nLED=0\n"},
        {"[Misc]\r\n  Key = old value \r\n\r\n; about B\r\n[B]\r\n", "misc", "key", "new",
         "[Misc]\r\n  Key = new \r\n\r\n; about B\r\n[B]\r\n"},
        {"[Misc]\r\n  Key = old\r\n\r\n; about B\r\n[B]\r\n", "Misc", "Other", "2",
         "[Misc]\r\n  Key = old\r\nOther=2\r\n\r\n; about B\r\n[B]\r\n"},
        {"; top\n[A]\nx=1", "B", "y", "2", "; top\n[A]\nx=1\n[B]\ny=2\n"},
        {"\xEF\xBB\xBF", "A", "x", "1", "\xEF\xBB\xBF[A]\nx=1\n"},
    };
    for (const auto& c : cases) {
        Put(c.before);
        ASSERT_TRUE(WriteProfileString(c.section, c.key, c.value, file_)) << c.before;
        EXPECT_EQ(Contents(), c.after) << c.section << " " << c.key;
        EXPECT_EQ(ProfileString(c.section, c.key, "", 64, file_), c.value);
    }
    // Several values in one write; a conditional one only while its key
    // still reads as given.
    Put(cased);
    ASSERT_TRUE(WriteProfileStrings({{"Misc", "DFDetect", "2", "1"},
                                     {"Misc", "MicrDetect", "2", "1"},
                                     {"Misc", "Endorser", "3", ""}},
                                    file_));
    EXPECT_EQ(ProfileInt("Misc", "DFDetect", 0, file_), 2);
    EXPECT_EQ(ProfileInt("Misc", "MicrDetect", 9, file_), 0);
    EXPECT_EQ(ProfileInt("Misc", "Endorser", 0, file_), 3);
}

// Three programs write different keys of one file at once, each counting up
// its own; none ever finds its last value gone, and each last value stays.
// ORVO_SETTINGS_RACE_SECONDS=60 runs them for a minute instead of 100 writes.
TEST_F(ProfileTest, WritersInOtherProcessesKeepEachOthersChanges) {
    Put("; shared\n[Check]\nScanWidth=0\n[Misc]\nImageFileFormat=0\nGrayTifCompress=0\n");
    const char* env = std::getenv("ORVO_SETTINGS_RACE_SECONDS");
    const int seconds = env != nullptr ? std::atoi(env) : 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    const struct {
        const char* section;
        const char* key;
    } writers[] = {
        {"Misc", "ImageFileFormat"}, {"Check", "ScanWidth"}, {"MISC", "GrayTifCompress"}};
    std::vector<pid_t> children;
    for (const auto& w : writers) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int n = 0;
            while (seconds > 0 ? std::chrono::steady_clock::now() < until : n < 100) {
                if (ProfileInt(w.section, w.key, -1, file_) != n) _exit(1);  // a change lost
                if (!WriteProfileString(w.section, w.key, std::to_string(++n), file_)) _exit(2);
            }
            testing::WriteText(file_ + "." + w.key, std::to_string(n));
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        EXPECT_EQ(
            testing::WaitChild(pid, testing::kChildBound + std::chrono::seconds(seconds)).code, 0);
    }
    for (const auto& w : writers) {
        EXPECT_EQ(ProfileString(w.section, w.key, "", 16, file_),
                  testing::ReadText(file_ + "." + w.key));
    }
    EXPECT_EQ(Contents().find("\n\n"), std::string::npos);
}

}  // namespace
}  // namespace orvo::platform
