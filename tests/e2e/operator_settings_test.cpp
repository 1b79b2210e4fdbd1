// The output format through the exported interface for an operator whose
// OrvoScan.ini is writable while the system directory is not (the usual
// installation: root owns the directory). Each scenario runs in a child
// process; run as root, the child becomes "nobody" first (root ignores
// permission bits), otherwise the directory is made read-only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "harness.h"
#include "orvo/sim/scanner.h"
#include "orvo/testing/child.h"
#include "orvoscan.h"

namespace {

class OperatorFormat : public ::testing::Test {
  protected:
    void SetUp() override {
        sys_ = e2e::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0), 10.0);
        ASSERT_EQ(chmod(sys_.c_str(), 0755), 0);
        settings_ = sys_ + "OrvoScan.ini";
        // Traces and pages go to directories of the operator.
        traces_ = OperatorDir("orvo-traces");
        out_ = OperatorDir("orvo-pages");
        tmp_ = OperatorDir("orvo-tmp");
        setenv("ORVOSCAN_TRACE_DIR", traces_.c_str(), 1);
    }
    void TearDown() override { chmod(sys_.c_str(), 0755); }

    std::string OperatorDir(const std::string& prefix) {
        const std::string dir = e2e::MakeTempDir(prefix);
        if (user_.fromRoot) {
            EXPECT_EQ(chown(dir.c_str(), user_.uid, user_.gid), 0);
        }
        return dir;
    }

    // The settings file is the operator's, with `mode`; the directory is not.
    void OperatorOwnsSettings(mode_t mode) {
        ASSERT_EQ(chmod(settings_.c_str(), mode), 0);
        if (user_.fromRoot) {
            ASSERT_EQ(chown(settings_.c_str(), user_.uid, user_.gid), 0);
        } else {
            ASSERT_EQ(chmod(sys_.c_str(), 0555), 0);
        }
    }

    // Runs `step` as the operator in a child process; its exit code.
    int AsOperator(const std::function<int()>& step) {
        return orvo::testing::RunAsUser(user_, [&] {
            setenv("TMPDIR", tmp_.c_str(), 1);
            if (access(sys_.c_str(), W_OK) == 0) return 101;
            return step();
        });
    }

    // One page of a batch of one cheque, written to `name`; its first bytes.
    static std::string FirstPageBytes(const std::string& path) {
        orvo::sim::TheScanner().SetScenario(e2e::FastScenario(1));
        if (OrvoScan_StartBatch("Check") != 0) return "no batch";
        int height = 0;
        const int taken = OrvoScan_GetOneImage(path.c_str(), &height);
        while (OrvoScan_GetOneImage((path + ".rest").c_str(), &height) == 0) {
        }
        OrvoScan_EndBatch();
        if (taken != 0) return "no page";
        const std::vector<uint8_t> bytes = e2e::ReadBytes(path);
        return std::string(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 3));
    }

    std::string Log() const { return e2e::ReadText(traces_ + "log.txt"); }

    const orvo::testing::TestUser user_ = orvo::testing::UnprivilegedUser();
    std::string sys_, settings_, traces_, out_, tmp_;
};

// The format the operator chooses is stored and still holds after the batch
// start loads the settings again.
TEST_F(OperatorFormat, ChosenFormatIsStoredAndHoldsForTheBatch) {
    OperatorOwnsSettings(0644);
    EXPECT_EQ(AsOperator([&] {
                  if (OrvoScan_Init() != 0) return 1;
                  if (OrvoScan_ImageFormat(ORVOSCAN_FORMAT_DIB) != 1) return 2;
                  return FirstPageBytes(out_ + "front.bmp").substr(0, 2) == "BM" ? 0 : 3;
              }),
              0);
    EXPECT_NE(e2e::ReadText(settings_).find("ImageFileFormat=1"), std::string::npos);
    struct stat st{};
    ASSERT_EQ(stat(settings_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user_.uid);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(Log().find("settings not written"), std::string::npos) << Log();
}

// A settings file the operator may not write: the choice is reported as not
// stored (-14, with the reason in log.txt) and still holds for this process.
TEST_F(OperatorFormat, UnstorableFormatIsReportedAndStillUsed) {
    OperatorOwnsSettings(0444);
    EXPECT_EQ(AsOperator([&] {
                  if (OrvoScan_Init() != 0) return 1;
                  if (OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW) != ORVOSCAN_ERR_SETTINGS) return 2;
                  // The reason is in log.txt until the batch start empties it.
                  if (Log().find("settings not written: cannot write " + settings_) ==
                      std::string::npos) {
                      return 4;
                  }
                  const std::string first = FirstPageBytes(out_ + "front.raw");
                  // Raw pages are the scanner's data, not a TIFF file.
                  return first.size() == 3 && first != "II*" && first != "no page" ? 0 : 3;
              }),
              0);
    EXPECT_NE(e2e::ReadText(settings_).find("ImageFileFormat=0"), std::string::npos);
}

}  // namespace
