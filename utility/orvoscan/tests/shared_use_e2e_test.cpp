// orvoscan end to end where other users and programs share what it uses: the
// settings file (locked by someone who may only read it, or by a writer that
// stopped), the output directory (another run writing there), and the
// shipped settings file (a scan leaves it as shipped).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "tool_fixture.h"

namespace orvoscan_e2e {
namespace {

// A process holding a lock of `kind` on `file` until it is ended.
class LockHolder {
  public:
    enum class Kind { Flock, ReadLock, ProcessReadLock, WriteLock };

    LockHolder(const fs::path& file, Kind kind, const orvo::testing::TestUser& user) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            const int fd = open(file.c_str(), kind == Kind::WriteLock ? O_RDWR : O_RDONLY);
            // Anyone may read the file; only the writer keeps its rights.
            if (kind != Kind::WriteLock && user.fromRoot &&
                (setgid(user.gid) != 0 || setuid(user.uid) != 0)) {
                _exit(100);
            }
            struct flock lock{};
            lock.l_type = kind == Kind::WriteLock ? F_WRLCK : F_RDLCK;
            lock.l_whence = SEEK_SET;
            const bool held = kind == Kind::Flock             ? flock(fd, LOCK_EX) == 0
                              : kind == Kind::ProcessReadLock ? fcntl(fd, F_SETLK, &lock) == 0
                                                              : fcntl(fd, F_OFD_SETLK, &lock) == 0;
            if (!held || write(ready[1], "x", 1) != 1) _exit(101);
            // A writer stopped in the middle of its write holds on forever.
            for (;;) pause();
        }
        close(ready[1]);
        char c = 0;
        held_ = pid_ > 0 && read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~LockHolder() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        orvo::testing::WaitChild(pid_, 10s);
    }
    bool held() const { return held_; }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

class SharedUseTest : public RunOutputTest {};

// Every batch start reads the settings file a hundred times or more: a lock
// someone took on it must cost none of them a wait, and a writer stuck in
// its write one bounded wait at most (a second here: the tool's clock runs ten
// times as fast).
TEST_F(SharedUseTest, SettingsLocksOfOthersNeverStallAScan) {
    const orvo::testing::TestUser nobody = orvo::testing::UnprivilegedUser();
    const struct {
        const char* who;
        LockHolder::Kind kind;
    } cases[] = {
        {"flock -x by a user who may only read", LockHolder::Kind::Flock},
        {"a read lock by a user who may only read", LockHolder::Kind::ReadLock},
        {"a process read lock by a user who may only read", LockHolder::Kind::ProcessReadLock},
        {"a writer stopped in its write", LockHolder::Kind::WriteLock},
    };
    std::vector<std::string> args = ScanArgs();
    args.push_back("--overwrite");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.who);
        const LockHolder holder(sys_ / "OrvoScan.ini", c.kind, nobody);
        ASSERT_TRUE(holder.held());
        const Result r = Wait(Start(args), 30s);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Count("F.tif"), 3);
    }
    // Ctrl-C ends a run at once while it waits for a stuck writer.
    const LockHolder writer(sys_ / "OrvoScan.ini", LockHolder::Kind::WriteLock, nobody);
    ASSERT_TRUE(writer.held());
    const pid_t pid = Start(args);
    std::this_thread::sleep_for(300ms);
    kill(pid, SIGINT);
    const Result r = Wait(pid, 20s);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
}

TEST_F(SharedUseTest, SecondRunIntoTheSameOutputIsRefusedAtOnce) {
    // The first run waits for its second cheque as long as the test needs.
    const std::string fast =
        R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0}, )";
    Scenario(fast + R"("documents": [{}, {"pauseBeforeMs": 600000}]})");
    const pid_t first = Start(ScanArgs());
    ASSERT_TRUE(AwaitOutput("A000001R.tif"));
    fs::rename(dir_ / "stdout", dir_ / "first-stdout");  // the later runs' own

    for (const auto& [file, option] :
         {std::pair{"A.tif", "--continue"}, {"A.tif", "--overwrite"}, {"B.tif", ""}}) {
        SCOPED_TRACE(std::string(file) + " " + option);
        std::vector<std::string> args = {"scan", "-p", "Check", "-o", (out_ / file).string()};
        if (*option != '\0') args.push_back(option);
        const Result r = Wait(Start(args), 20s);
        EXPECT_EQ(r.code, 8) << r.out << r.err;
        EXPECT_NE(
            r.err.find("in use by another scan run: pid " + std::to_string(first) + " (orvoscan)"),
            std::string::npos)
            << r.err;
    }
    kill(first, SIGINT);
    const Result r = Wait(first, 30s);
    EXPECT_EQ(r.code, 130) << r.err;
    // One run's pages and records only, and the lock gone with the run.
    const Output o = ReadOutput(out_);
    EXPECT_EQ(o.fronts, (std::set<int>{1}));
    EXPECT_EQ(o.records.size(), 1u);
    EXPECT_TRUE(o.badLines.empty());
    EXPECT_TRUE(o.others.empty()) << o.others.front();
    Scenario(fast + R"("defaultStack": 1})");
    EXPECT_EQ(Run({"scan", "-p", "Check", "-o", (out_ / "A.tif").string(), "--continue"}).code, 0);
}

TEST_F(SharedUseTest, ScanWithTheStarterSettingsLeavesThemAsShipped) {
    fs::copy_file(buildSys_ / "OrvoScan.ini", sys_ / "OrvoScan.ini",
                  fs::copy_options::overwrite_existing);
    const std::string shipped = ReadText(sys_ / "OrvoScan.ini");
    ASSERT_NE(shipped.find("[Check]"), std::string::npos);
    const Result r = Run(ScanArgs());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadText(sys_ / "OrvoScan.ini"), shipped);
}

// A settings file that is none is refused with what it is, before anything
// is fed, never read as a file without the profile or without MICR.
TEST_F(SharedUseTest, UnreadableSettingsFileIsRefusedWithTheReason) {
    const fs::path ini = sys_ / "OrvoScan.ini";
    const std::string valid = ReadText(ini);
    std::string nulBeforeMisc = valid;
    nulBeforeMisc.insert(nulBeforeMisc.find("[Misc]"), 1, '\0');
    // `text` in the settings file, grown to `size` bytes if given.
    const auto write = [&](const std::string& text, std::uintmax_t size = 0) {
        std::ofstream(ini) << text;
        if (size > 0) fs::resize_file(ini, size);
    };
    const char* notAFile = "is not a regular file";
    const struct {
        const char* what;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"a directory", [&] { fs::create_directory(ini); }, notAFile},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0); }, notAFile},
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", ini); }, notAFile},
        {"over 16 MiB", [&] { write(valid, 17u << 20); }, "larger than 16 MiB"},
        {"a zero byte before the profile",
         [&] { write(std::string("[Default]\nSide=1\n\0", 19) + valid); }, "zero byte"},
        {"a zero byte before [Misc]", [&] { write(nulBeforeMisc); }, "zero byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(ini);
        c.make();
        const Result r = Run(ScanArgs());
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_NE(r.err.find(ini.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(Count(".tif"), 0);
    }
}

}  // namespace
}  // namespace orvoscan_e2e
