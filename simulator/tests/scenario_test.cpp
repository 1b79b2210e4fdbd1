// Scenario files: the shipped examples load, values reach the scenario, and
// mistakes are refused with a reason.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "orvo/sim/scenario.h"
#include "orvo/testing/temp_dir.h"

namespace orvo::sim {
namespace {

std::string ScenarioDir() {
    const char* src = std::getenv("ORVO_SOURCE_DIR");
    if (src && *src) return std::string(src) + "/simulator/scenarios";
    return ORVOSIM_SCENARIO_DIR;
}

TEST(Scenario, ShippedExamplesAllParse) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ScenarioDir())) {
        if (entry.path().extension() != ".json") continue;
        ++files;
        std::ifstream in(entry.path());
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Scenario s;
        std::string error;
        EXPECT_TRUE(ParseScenario(text, ScenarioDir(), &s, &error))
            << entry.path() << ": " << error;
    }
    EXPECT_GE(files, 5);
}

TEST(Scenario, FieldsReachTheScenario) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(R"({
        "adapters": 2, "adapter": 1, "target": 7, "product": "OTHER",
        "latency": {"commandMs": 0, "blockMs": 2, "documentIntervalMs": 30},
        "alignEol": true, "qa": [1,2,3,4,5,6,7,8,9,10,11,12],
        "documents": [
          {"micr": "T1T", "pauseBeforeMs": 40000, "frontFaults": {"wrongMarkers": "once", "claimBlocks": 2000}},
          {"jam": "doubleFeed", "rearFaults": {"noRtc": "always", "micrNoCr": true}},
          {"jam": {"sense3": 3, "sense4": 4}, "front": {"synthetic": 42}}],
        "commandFaults": [
          {"opcode": "0x3C", "occurrence": 5, "action": "noCompletion"},
          {"opcode": 0, "count": 3, "action": "notClean"},
          {"opcode": 27, "error": "coverOpen"}]})",
                              "", &s, &error))
        << error;
    EXPECT_EQ(s.adapterCount, 2);
    EXPECT_EQ(s.target, 7);
    EXPECT_EQ(s.product, "OTHER");
    EXPECT_EQ(s.latency.blockMs, 2u);
    EXPECT_TRUE(s.alignEol);
    EXPECT_EQ(s.qaBlock[11], 12);
    ASSERT_EQ(s.documents.size(), 3u);
    EXPECT_EQ(s.documents[0].micr, "T1T");
    EXPECT_EQ(s.documents[0].pauseBeforeMs, 40000u);
    EXPECT_EQ(s.documents[0].frontFaults.wrongMarkers, Repeat::Once);
    EXPECT_EQ(s.documents[0].frontFaults.claimBlocks, 2000);
    EXPECT_TRUE(s.documents[1].jam);
    EXPECT_EQ(s.documents[1].jamSense.byte3, 0x40);
    EXPECT_EQ(s.documents[1].rearFaults.noRtc, Repeat::Always);
    EXPECT_TRUE(s.documents[1].rearFaults.micrNoCr);
    EXPECT_FALSE(s.documents[1].micr.empty()) << "a document without MICR text gets a default one";
    EXPECT_EQ(s.documents[2].jamSense.byte4, 4);
    EXPECT_EQ(s.documents[2].front.syntheticSeed, 42);
    ASSERT_EQ(s.commandFaults.size(), 3u);
    EXPECT_EQ(s.commandFaults[0].opcode, 0x3C);
    EXPECT_EQ(s.commandFaults[0].occurrence, 5);
    EXPECT_EQ(s.commandFaults[0].action, FaultAction::NoCompletion);
    EXPECT_EQ(s.commandFaults[1].count, 3);
    EXPECT_EQ(s.commandFaults[1].targStat, 8) << "not clean defaults to BUSY";
    EXPECT_EQ(s.commandFaults[2].sense.byte4, 0x01);
}

TEST(Scenario, DeviceNodeIsFoundBesideTheScenario) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(s.deviceNode.empty());
    ASSERT_TRUE(ParseScenario(R"({"deviceNode": "sg3"})", "/some/dir", &s, &error)) << error;
    EXPECT_EQ(s.deviceNode, "/some/dir/sg3");
    ASSERT_TRUE(ParseScenario(R"({"deviceNode": "/run/sg3"})", "/some/dir", &s, &error)) << error;
    EXPECT_EQ(s.deviceNode, "/run/sg3");
}

TEST(Scenario, SideDataOnlyFromRegularFilesOfAtMost1024Blocks) {
    const orvo::testing::TempDir temp("orvosim_data");
    const std::string dir = temp.path();
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    // One byte more than 1024 blocks, as a sparse file: refused unread.
    {
        std::ofstream big(dir + "/big.bin", std::ios::binary);
        big.seekp(1024L * 32768L);
        big.put('x');
    }
    std::ofstream(dir + "/fits.bin", std::ios::binary) << "coded";
    struct Case {
        std::string file;
        std::string reason;
    };
    for (const Case& c :
         {Case{"/dev/zero", "not a regular file"}, Case{dir + "/fifo", "not a regular file"},
          Case{dir, "not a regular file"}, Case{dir + "/big.bin", "too large"},
          Case{dir + "/missing.bin", "cannot read"}}) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(R"({"documents": [{"front": {"data": ")" + c.file + R"("}}]})",
                                   "", &s, &error))
            << c.file;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.file << ": " << error;
    }
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        ParseScenario(R"({"documents": [{"rear": {"data": "fits.bin"}}]})", dir, &s, &error))
        << error;
    ASSERT_NE(s.documents[0].rear.data, nullptr);
    EXPECT_EQ(s.documents[0].rear.data->size(), 5u);
    // Neither a scenario file nor an image can be a FIFO.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadScenarioFile(dir + "/fifo").documents.size(), 10u);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a regular file"),
              std::string::npos);
    Image img;
    EXPECT_FALSE(LoadImageFile(dir + "/fifo", &img, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(Scenario, MistakesAreRefusedWithAReason) {
    for (const char* bad : {
             "{",                                                  // not JSON
             R"({"adapterz": 1})",                                 // unknown key
             R"({"target": 99})",                                  // out of range
             R"({"documents": [{"jam": "jam9"}]})",                // unknown error name
             R"({"documents": [{"front": "no/such/file.tif"}]})",  // missing image
             R"({"commandFaults": [{"action": "notClean"}]})",     // no opcode
             R"({"commandFaults": [{"opcode": "0xZZ"}]})",         // bad number
             R"({"documents": [{"frontFaults": {"noRtc": "twice"}}]})",
             R"({"qa": [1, 2]})",
         }) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(bad, "", &s, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(Scenario, UnusableFileGivesTheDefaultStack) {
    ::testing::internal::CaptureStderr();
    Scenario s = LoadScenarioFile("/nonexistent/scenario.json");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("default stack"), std::string::npos);
    ASSERT_EQ(s.documents.size(), 10u);
    int unreadable = 0;
    for (const auto& d : s.documents) {
        EXPECT_EQ(d.micr[0], 'T');
        unreadable += d.micr.find_first_of("?_") != std::string::npos;
    }
    EXPECT_GE(unreadable, 2);
}

TEST(Scenario, SampleImagesLoad) {
    Image front, rear;
    std::string error;
    ASSERT_TRUE(LoadImageFile(ScenarioDir() + "/images/cheque_front.pgm", &front, &error)) << error;
    ASSERT_TRUE(LoadImageFile(ScenarioDir() + "/images/cheque_rear.pbm", &rear, &error)) << error;
    EXPECT_EQ(front.width, 400);
    EXPECT_EQ(rear.height, 180);
    EXPECT_EQ(rear.at(220, 50), 0);
    EXPECT_EQ(rear.at(0, 0), 255);
}

}  // namespace
}  // namespace orvo::sim

namespace orvo::sim {
namespace {

TEST(Scenario, GrayAndBilevelTiffPagesLoad) {
    for (int bits : {1, 8}) {
        std::string path = ::testing::TempDir() + "orvosim_page_" + std::to_string(bits) + ".tif";
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16u);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                     bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
        std::vector<uint8_t> row(16, 0);
        for (uint32_t y = 0; y < 2; ++y) {
            if (bits == 1) {
                row[0] = y ? 0x80 : 0x00;  // pixel 0 of row 1 black
            } else {
                for (int x = 0; x < 16; ++x)
                    row[static_cast<size_t>(x)] = static_cast<uint8_t>(x * 16 + y);
            }
            TIFFWriteScanline(t, row.data(), y, 0);
        }
        TIFFClose(t);
        Image img;
        std::string error;
        ASSERT_TRUE(LoadImageFile(path, &img, &error)) << error;
        EXPECT_EQ(img.width, 16);
        EXPECT_EQ(img.height, 2);
        if (bits == 1) {
            EXPECT_EQ(img.at(0, 1), 0);
            EXPECT_EQ(img.at(0, 0), 255);
        } else {
            EXPECT_EQ(img.at(5, 1), 81);
        }
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace orvo::sim
