// orvoscan end to end where a run meets trouble: a full disk, a file size
// limit, a second run into the same output, document numbers running out, a
// micr.txt that is no file, a front page without its record. Afterwards every
// record of micr.txt must belong to a front page on disk and the reverse, and
// the pages and records must be those a run without trouble makes.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "tool_fixture.h"

namespace orvoscan_e2e {
namespace {

class RunFaultsTest : public RunOutputTest {};

// "0000012" for 12: the number as quality.txt lines begin.
std::string SevenDigits(int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07d", number);
    return digits;
}

TEST_F(RunFaultsTest, FullDiskEndsTheRunAtTheFirstLostPage) {
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "defaultStack": 25})");
    const Output ref = Reference();
    // A small file system for the output: room for a few cheques.
    if (mount("tmpfs", out_.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    }
    mounted_ = true;

    const Result r = Run(ScanArgs());
    EXPECT_EQ(r.code, 6) << r.out << r.err;
    EXPECT_NE(r.err.find("Page file writing error.."), std::string::npos) << r.err;
    const Output o = ReadOutput(out_);
    ASSERT_FALSE(o.fronts.empty());
    ASSERT_LT(o.fronts.size(), 25u);  // the disk really filled
    const int last = *o.fronts.rbegin();
    // Nothing was written after the lost page, and the run says where to go on.
    EXPECT_EQ(o.fronts.size(), static_cast<std::size_t>(last));
    EXPECT_EQ(NextStart(r.out), last + 1) << r.out;
    if (o.rears.count(last) == 0) {
        EXPECT_NE(r.err.find("A" + std::string(6 - std::to_string(last).size(), '0') +
                             std::to_string(last) + "R.tif was not written"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("Cheque " + std::to_string(last) + " has its front page"),
                  std::string::npos);
        // Without its rear page the cheque is not called clean in quality.txt.
        EXPECT_EQ(ReadText(out_ / "quality.txt").find(SevenDigits(last)), std::string::npos);
    }
    ExpectConsistent(o, ref);

    // With room again, the next run continues where this one ended.
    ASSERT_EQ(mount("tmpfs", out_.c_str(), "tmpfs", MS_REMOUNT, "size=4m,mode=0755"), 0);
    std::vector<std::string> args = ScanArgs();
    args.resize(5);
    args.push_back("--continue");
    const Result again = Run(args);
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("Continuing with document " + std::to_string(last + 1)),
              std::string::npos);
    const Output after = ReadOutput(out_);
    EXPECT_TRUE(after.badLines.empty());
    EXPECT_EQ(after.records.size(), static_cast<std::size_t>(last + 25));
    for (const auto& [number, line] : after.records) EXPECT_TRUE(after.fronts.count(number));
}

TEST_F(RunFaultsTest, FileSizeLimitIsReportedNotFatal) {
    // Bitmap pages (about 170 kB) do not fit under the limit; the driver's
    // temporary files (about 14 kB) do.
    std::vector<std::string> args = ScanArgs();
    args[4] = (out_ / "A.bmp").string();
    const Result r = Run(args, [] {
        const rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.code, 6) << "killed by a signal? " << r.code << r.err;
    EXPECT_NE(r.err.find("Page file writing error.."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("A000001F.bmp was not written"), std::string::npos) << r.err;
    EXPECT_EQ(NextStart(r.out), 1);
    const Output o = ReadOutput(out_, "bmp");
    EXPECT_TRUE(o.fronts.empty());
    EXPECT_TRUE(o.records.empty());
}

TEST_F(RunFaultsTest, RecordCutShortIsRemovedAndTheNextRecordStartsWhole) {
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "defaultStack": 6})");
    const Output ref = Reference();
    // micr.txt lies just under the file size limit: three records fit, the
    // fourth is cut short by the limit.
    const std::size_t recordSize = ref.records.at(1).size() + 2;
    const rlim_t kLimit = 60000;
    std::string earlier;
    while (earlier.size() + 40 < kLimit - 3 * recordSize - 10)
        earlier += std::string(38, '-') + "\r\n";
    earlier.resize(kLimit - 3 * recordSize - 10 - 2, '-');
    earlier += "\r\n";
    std::ofstream(out_ / "micr.txt", std::ios::binary) << earlier;

    const Result r = Run(ScanArgs(), [] {
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("A000004F.tif has no record"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(ref.records.at(4)), std::string::npos) << "the lost record is shown";
    std::string expected = earlier;
    for (int n = 1; n <= 3; ++n) expected += ref.records.at(n) + "\r\n";
    EXPECT_EQ(ReadText(out_ / "micr.txt"), expected);
    EXPECT_EQ(NextStart(r.out), 5);

    // The next run names the front page without a record and continues.
    std::vector<std::string> args = ScanArgs();
    args.resize(5);
    args.push_back("--continue");
    const Result again = Run(args);
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.err.find("A000004F.tif has no record in micr.txt"), std::string::npos)
        << again.err;
    const std::string micr = ReadText(out_ / "micr.txt");
    ASSERT_GT(micr.size(), expected.size());
    EXPECT_EQ(micr.substr(0, expected.size() + 7), expected + "0000005");
}

TEST_F(RunFaultsTest, SecondRunIntoTheSameOutputIsRefused) {
    const Output ref = Reference();
    ASSERT_EQ(Run(ScanArgs()).code, 0);
    const Output first = ReadOutput(out_);
    struct stat before{};
    ASSERT_EQ(stat((out_ / "A000001F.tif").c_str(), &before), 0);

    const Result r = Run(ScanArgs());
    EXPECT_EQ(r.code, 6);
    EXPECT_NE(r.err.find((out_ / "A000001F.tif").string() + " already exists"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--continue"), std::string::npos);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos);
    struct stat after{};
    ASSERT_EQ(stat((out_ / "A000001F.tif").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadText(out_ / "micr.txt"), first.micr);

    // --continue numbers on after the highest document.
    std::vector<std::string> args = ScanArgs();
    args.resize(5);
    args.push_back("--continue");
    const Result next = Run(args);
    EXPECT_EQ(next.code, 0) << next.err;
    const Output o = ReadOutput(out_);
    EXPECT_EQ(o.fronts, (std::set<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(o.records.size(), 6u);
    EXPECT_TRUE(o.badLines.empty()) << o.badLines.front();
    EXPECT_EQ(NextStart(next.out), 7);

    // --overwrite replaces on request.
    args = ScanArgs();
    args.push_back("--overwrite");
    EXPECT_EQ(Run(args).code, 0);
    EXPECT_EQ(
        Run({"scan", "-p", "Check", "-o", (out_ / "A.tif").string(), "--start", "2", "--continue"})
            .code,
        2);
}

TEST_F(RunFaultsTest, DocumentNumbersStopAtSevenDigits) {
    const Output ref = Reference(9999998, 6);
    const Result r = Run(ScanArgs(9999998));
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("Document number 9999999 has been reached"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Next start number: none"), std::string::npos) << r.out;
    const Output o = ReadOutput(out_);
    EXPECT_EQ(o.fronts, (std::set<int>{9999998, 9999999}));
    EXPECT_EQ(o.rears, (std::set<int>{9999998, 9999999}));
    ASSERT_EQ(o.records.size(), 2u);
    EXPECT_EQ(o.records.begin()->second.substr(0, 7), "9999998");
    ExpectConsistent(o, ref);

    std::vector<std::string> args = ScanArgs();
    args.resize(5);
    args.push_back("--continue");
    const Result next = Run(args);
    EXPECT_EQ(next.code, 6);
    EXPECT_NE(next.err.find("start number 10000000 is outside 0-9999999"), std::string::npos)
        << next.err;
    EXPECT_EQ(Run(ScanArgs(10000000)).code, 2);
}

TEST_F(RunFaultsTest, MicrFileThatIsNoFileIsRefusedBeforeTheBatch) {
    ASSERT_EQ(mkfifo((out_ / "micr.txt").c_str(), 0644), 0);
    Result r = Run(ScanArgs(), {});
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("micr.txt is a FIFO, not a regular file"), std::string::npos) << r.err;
    EXPECT_EQ(Count(".tif"), 0);  // no cheque was fed

    fs::remove(out_ / "micr.txt");
    fs::create_directory(out_ / "micr.txt");
    r = Run(ScanArgs());
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("micr.txt is a directory, not a regular file"), std::string::npos)
        << r.err;
    EXPECT_EQ(Count(".tif"), 0);
}

TEST_F(RunFaultsTest, FrontPageWithoutRecordIsNamed) {
    const Output ref = Reference();
    for (const auto& e : fs::directory_iterator(dir_ / "ref")) {
        if (e.path().filename() != "micr.txt") fs::copy_file(e.path(), out_ / e.path().filename());
    }
    // As after a crash between the page of cheque 2 and its record, and
    // one between the two sides of cheque 3.
    std::ofstream(out_ / "micr.txt", std::ios::binary) << ref.records.at(1) << "\r\n"
                                                       << ref.records.at(3) << "\r\n";
    fs::remove(out_ / "A000003R.tif");
    std::vector<std::string> args = ScanArgs();
    args.resize(5);
    args.push_back("--continue");
    const Result r = Run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(
        r.err.find("warning: " + (out_ / "A000002F.tif").string() + " has no record in micr.txt"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("A000001F.tif has no record"), std::string::npos);
    EXPECT_NE(r.err.find("warning: " + (out_ / "A000003F.tif").string() + " has no rear page"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("A000002F.tif has no rear"), std::string::npos);
    EXPECT_EQ(ReadOutput(out_).fronts, (std::set<int>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace orvoscan_e2e
