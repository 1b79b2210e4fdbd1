// The scan command's run over a stand-in driver: what it prints, its JSON
// lines and exit codes, without a scanner.
#include "scan_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "orvo/scanrun/fake_driver.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvoscan {
namespace {

namespace fs = std::filesystem;

using orvo::scanrun::FakeDriver;
using orvo::testing::ReadText;

class ScanCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteSettings(1, 1);
        options_.profile = "Check";
        options_.output = (dir_ / "A.tif").string();
        options_.settingsFile = (dir_ / "OrvoScan.ini").string();
    }
    void WriteSettings(int side, int micr) {
        std::ofstream(dir_ / "OrvoScan.ini")
            << "[Check]\nSide=" << side << "\nScanWidth=1728\n[Misc]\nMicrDetect=" << micr << "\n";
    }
    void AddCheques(FakeDriver& driver, const std::vector<std::string>& micrs) {
        for (const std::string& m : micrs) {
            driver.pages.push_back({m});
            driver.pages.push_back({""});
        }
    }
    int Run(FakeDriver& driver, bool json = false) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        Console console(out, err, json, false);
        const int code = RunScan(driver, options_, console, nullptr);
        out_ = Slurp(out);
        err_ = Slurp(err);
        return code;
    }
    static std::string Slurp(std::FILE* f) {
        std::string text;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
        std::fclose(f);
        return text;
    }
    nlohmann::json LastEvent() {
        std::istringstream lines(out_);
        std::string line, last;
        while (std::getline(lines, line)) {
            EXPECT_TRUE(nlohmann::json::accept(line)) << line;
            last = line;
        }
        return nlohmann::json::parse(last);
    }

    const orvo::testing::TempDir temp_{"orvoscan-run"};
    const fs::path dir_ = temp_.path();
    FakeDriver driver_;
    ScanOptions options_;
    std::string out_;
    std::string err_;
};

// The driver could not store the format in OrvoScan.ini (-14): the run
// goes on in that format and says so.
TEST_F(ScanCommandTest, FormatNotStoredIsAWarningOnly) {
    options_.output = (dir_ / "A.bmp").string();
    driver_.imageFormatResult = -14;
    AddCheques(driver_, {"T021000021T 12"});
    EXPECT_EQ(Run(driver_), kExitDone) << err_;
    EXPECT_EQ(driver_.imageFormat, 1);
    EXPECT_NE(err_.find("orvoscan: warning: the output format could not be stored in OrvoScan.ini"),
              std::string::npos)
        << err_;
    EXPECT_TRUE(fs::exists(dir_ / "A000001F.bmp"));
}

TEST_F(ScanCommandTest, TwoSidedBatchPrintsStatisticsAndTheNextStart) {
    options_.start = 3;
    AddCheques(driver_, {"T021000021T 12", "T0210?0021T 13"});
    EXPECT_EQ(Run(driver_), kExitDone) << err_;
    EXPECT_EQ(driver_.imageFormat, 0);
    EXPECT_EQ(ReadText(dir_ / "micr.txt"), "00000030T021000021T 12\r\n00000041T0210?0021T 13\r\n");
    EXPECT_NE(out_.find("Warming up...Please wait...!"), std::string::npos);
    EXPECT_NE(out_.find("Saving 5th page... " + (dir_ / "A000003F.tif").string() +
                        "  00000030T021000021T 12"),
              std::string::npos)
        << out_;
    EXPECT_NE(out_.find("MICR OK :\t1\nMICR ERR :\t1\nOK rate : \t50.00%"), std::string::npos);
    EXPECT_NE(out_.find("Next start number: 5"), std::string::npos);
    EXPECT_TRUE(err_.empty()) << err_;
}

TEST_F(ScanCommandTest, OneSidedWithoutMicrAndJsonLines) {
    WriteSettings(0, 0);
    options_.output = (dir_ / "B.bmp").string();
    driver_.pages = {{"X"}, {"Y"}};
    EXPECT_EQ(Run(driver_, true), kExitDone);
    EXPECT_EQ(driver_.imageFormat, 1);
    EXPECT_EQ(driver_.requested[1], (dir_ / "B000002F.bmp").string());
    const auto end = LastEvent();
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(end["end"], "finished");
    EXPECT_EQ(end["pages"], 2);
    EXPECT_EQ(end["nextStart"], 3);
    EXPECT_EQ(end["exitCode"], 0);
}

TEST_F(ScanCommandTest, OtherExtensionsKeepTheDriversFormatUnlessAsked) {
    options_.output = (dir_ / "C.TIF").string();
    EXPECT_EQ(Run(driver_), kExitDone);
    EXPECT_EQ(driver_.imageFormat, -1);
    FakeDriver second;
    options_.format = 2;
    EXPECT_EQ(Run(second), kExitDone);
    EXPECT_EQ(second.imageFormat, 2);
}

TEST_F(ScanCommandTest, DeviceErrorEndsWithTheDriversMessage) {
    AddCheques(driver_, {"T1"});
    driver_.endResult = -100;
    driver_.deviceError = 0x81;
    EXPECT_EQ(Run(driver_), kExitDevice);
    EXPECT_NE(err_.find("Error occurred!! Check the scanner..\n\n  Scanner device error..\n  "
                        "-JAM1 error.."),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("No document"), std::string::npos);
    EXPECT_EQ(driver_.endCalls, 1);
}

TEST_F(ScanCommandTest, UnknownDriverResultIsStillReported) {
    driver_.endResult = -42;
    EXPECT_EQ(Run(driver_), kExitFailure);
    EXPECT_NE(err_.find("the driver ended the batch with result -42"), std::string::npos);
}

TEST_F(ScanCommandTest, StartBatchFailuresMapToExitCodes) {
    driver_.startResult = -10;
    EXPECT_EQ(Run(driver_), kExitSettings);
    EXPECT_NE(err_.find("Illegal endorser format error.."), std::string::npos);
    EXPECT_TRUE(driver_.requested.empty());
    EXPECT_EQ(driver_.endCalls, 0);
    driver_.startResult = -2;
    EXPECT_EQ(Run(driver_), kExitNoScanner);
}

TEST_F(ScanCommandTest, UnwrittenPageIsAnOutputError) {
    AddCheques(driver_, {"T1", "T2"});
    driver_.pages[2].result = -12;
    EXPECT_EQ(Run(driver_, true), kExitOutput);
    const auto end = LastEvent();
    EXPECT_EQ(end["end"], "pageNotWritten");
    EXPECT_EQ(end["nextStart"], 2);
    EXPECT_NE(end["message"].get<std::string>().find("Page file writing error.."),
              std::string::npos);
    EXPECT_NE(end["problem"].get<std::string>().find("A000002F.tif was not written"),
              std::string::npos);
}

TEST_F(ScanCommandTest, ExistingPagesAreRefusedWithAHint) {
    std::ofstream(dir_ / "A000001F.tif") << "old";
    std::ofstream(dir_ / "micr.txt", std::ios::binary) << "00000070X\r\n";
    AddCheques(driver_, {"T1"});
    EXPECT_EQ(Run(driver_), kExitOutput);
    EXPECT_NE(err_.find("A000001F.tif already exists"), std::string::npos) << err_;
    EXPECT_NE(err_.find("--continue"), std::string::npos);
    EXPECT_NE(err_.find("8 is next"), std::string::npos) << err_;
    EXPECT_TRUE(driver_.requested.empty());
    EXPECT_EQ(driver_.imageFormat, -1);  // nothing changed in the driver's settings

    options_.continueRun = true;
    EXPECT_EQ(Run(driver_), kExitDone) << err_;
    EXPECT_EQ(driver_.requested.front(), (dir_ / "A000008F.tif").string());
    // The front page of cheque 1 has no record of its own.
    EXPECT_NE(
        err_.find("warning: " + (dir_ / "A000001F.tif").string() + " has no record in micr.txt"),
        std::string::npos)
        << err_;
}

TEST_F(ScanCommandTest, NumberLimitSaysThereIsNoNextStart) {
    options_.start = 9999999;
    AddCheques(driver_, {"T1", "T2"});
    EXPECT_EQ(Run(driver_), kExitOutput);
    EXPECT_NE(out_.find("Next start number: none"), std::string::npos) << out_;
    EXPECT_NE(err_.find("Document number 9999999 has been reached"), std::string::npos);
    EXPECT_EQ(ReadText(dir_ / "micr.txt"), "99999990T1\r\n");
}

TEST(ExitCodes, DriverResults) {
    EXPECT_EQ(ExitForInit(0), kExitDone);
    EXPECT_EQ(ExitForInit(-1), kExitNoScanner);
    EXPECT_EQ(ExitForInit(-7), kExitNoScanner);
    EXPECT_EQ(ExitForBatchEnd(-3), kExitDone);
    EXPECT_EQ(ExitForBatchEnd(-100), kExitDevice);
    EXPECT_EQ(ExitForBatchEnd(-12), kExitOutput);
    EXPECT_EQ(ExitForBatchEnd(-42), kExitFailure);
}

}  // namespace
}  // namespace orvoscan
