// The image quality checks end to end: defective cheques planted in the
// virtual scanner, scanned through the real driver by `orvoscan scan`, then
// checked again from disk by `orvoscan quality`.
#include "tool_fixture.h"

namespace orvoscan_e2e {
namespace {

using nlohmann::json;
using Defects = std::set<std::string>;

// One cheque per defect: what the scenario plants on each side, and what
// both the scan and the later check must report, nothing more.
struct Planted {
    const char* defect;
    const char* front;  // frontDefects / rearDefects of the scenario ("" none)
    const char* rear;
    Defects frontDefects, rearDefects;
    // Also on the bilevel pages: a page nearly white or nearly black codes
    // to less in Group 4 than any printed page.
    bool bilevelCodesSmall = false;
};
const std::vector<Planted> kPlanted = {
    {"none", "", "", {}, {}},
    {"undersize", R"({"lines": 360})", R"({"lines": 360})", {"undersize"}, {"undersize"}},
    {"oversize", R"({"lines": 1440})", R"({"lines": 1440})", {"oversize"}, {"oversize"}},
    {"length-mismatch", "", R"({"lines": 560})", {"length-mismatch"}, {"length-mismatch"}},
    {"skew", R"({"skew": 4})", "", {"skew"}, {}},
    {"too-light", "", R"({"brightness": 100})", {}, {"too-light"}, true},
    {"too-dark", R"({"brightness": -130})", "", {"too-dark"}, {}, true},
    // A blank page also codes to less than any printed page.
    {"blank", "", R"({"blank": true})", {}, {"blank", "compressed-size"}},
    {"streaks", R"({"streaks": [500, 1200]})", "", {"streaks"}, {}},
    {"spot-noise", R"({"specks": 600})", "", {"spot-noise"}, {}},
    {"none", "", "", {}, {}},
};

Defects DefectsOf(const json& line) {
    Defects d;
    for (const auto& name : line.at("defects")) d.insert(name.get<std::string>());
    return d;
}

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
}

class QualityTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        // Each cheque scanned to its own length: bilevel and 8-bit gray.
        std::ofstream(sys_ / "OrvoScan.ini")
            << "[Auto]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
               "BWSlice1=128\nScanLines1=0\n[Gray]\nSide=1\nScanWidth=1728\nResolution=0\n"
               "ScanMode1=4\nCompressMode=0\nScanLines1=0\n[Misc]\nMicrDetect=1\n"
               "GrayTifCompress=1\n";
        std::string documents;
        for (const Planted& p : kPlanted) {
            json doc = json::object();
            if (*p.front) doc["frontDefects"] = json::parse(p.front);
            if (*p.rear) doc["rearDefects"] = json::parse(p.rear);
            documents += (documents.empty() ? "" : ",") + doc.dump();
        }
        Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                     "documents": [)" +
                 documents + "]}");
    }
};

TEST_F(QualityTest, ScanAndLaterCheckReportExactlyThePlantedDefects) {
    for (const char* profile : {"Auto", "Gray"}) {
        SCOPED_TRACE(profile);
        const fs::path out = out_ / profile;
        fs::create_directories(out);
        const Result scan =
            Run({"--json", "scan", "--profile", profile, "--output", (out / "A.tif").string()});
        ASSERT_EQ(scan.code, 0) << scan.err;

        std::map<std::string, Defects> scanned;
        std::vector<std::string> files;
        for (const json& e : JsonLines(scan.out)) {
            if (e.at("event") != "page") continue;
            scanned[e.at("path")] = DefectsOf(e);
            files.push_back(e.at("path"));
        }
        ASSERT_EQ(files.size(), 2 * kPlanted.size());
        std::vector<std::string> args = {"quality", "--json"};
        args.insert(args.end(), files.begin(), files.end());
        const Result check = Run(args);
        ASSERT_EQ(check.code, 0) << check.err;
        const std::vector<json> lines = JsonLines(check.out);
        ASSERT_EQ(lines.size(), files.size());

        std::string expectedRecords;
        for (std::size_t i = 0; i < kPlanted.size(); ++i) {
            const Planted& p = kPlanted[i];
            SCOPED_TRACE(p.defect);
            for (int side = 0; side < 2; ++side) {
                const std::string& file = files[2 * i + side];
                Defects want = side == 0 ? p.frontDefects : p.rearDefects;
                if (p.bilevelCodesSmall && !want.empty() && profile == std::string("Auto")) {
                    want.insert("compressed-size");
                }
                EXPECT_EQ(scanned[file], want) << file;
                EXPECT_EQ(lines[2 * i + side].at("file"), file);
                EXPECT_EQ(DefectsOf(lines[2 * i + side]), want) << lines[2 * i + side].dump();
            }
            char number[24];
            std::snprintf(number, sizeof number, "%07zu", i + 1);
            Defects both = p.frontDefects;
            both.insert(p.rearDefects.begin(), p.rearDefects.end());
            if (p.bilevelCodesSmall && profile == std::string("Auto")) {
                both.insert("compressed-size");
            }
            expectedRecords += number;
            for (const char* name :
                 {"undersize", "oversize", "length-mismatch", "width-mismatch", "skew", "too-light",
                  "too-dark", "blank", "streaks", "spot-noise", "compressed-size"}) {
                if (both.count(name)) expectedRecords += std::string(" ") + name;
            }
            expectedRecords += "\r\n";
        }
        EXPECT_EQ(ReadText(out / "quality.txt"), expectedRecords);
        EXPECT_NE(scan.out.find(R"("flagged":9)"), std::string::npos);
    }
}

TEST_F(QualityTest, FilesThatCannotBeReadAreNamedAndTheOthersChecked) {
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "defaultStack": 1})");
    ASSERT_EQ(Run({"scan", "-p", "Auto", "-o", (out_ / "A.bmp").string()}).code, 0);
    std::ofstream(out_ / "A000002F.bmp") << "not a page";
    // A sparse 30 GiB file that starts like a bitmap: refused by its header,
    // never read whole.
    {
        std::ofstream(out_ / "huge.bmp") << "BM";
        fs::resize_file(out_ / "huge.bmp", std::uintmax_t{30} << 30);
    }
    const Result r = Run({"quality", "--json", (out_ / "A000001R.bmp").string(),
                          (out_ / "huge.bmp").string(), (out_ / "A000002F.bmp").string(),
                          (out_ / "A000001F.bmp").string(), (out_ / "missing.tif").string()});
    fs::remove(out_ / "huge.bmp");
    EXPECT_EQ(r.code, 7) << r.err;
    const std::vector<json> lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    // The named pair is checked together, front first; the others alone.
    EXPECT_EQ(lines[0].at("file"), (out_ / "A000001F.bmp").string());
    EXPECT_EQ(lines[1].at("file"), (out_ / "A000001R.bmp").string());
    EXPECT_EQ(DefectsOf(lines[0]), Defects{});
    EXPECT_EQ(lines[0].at("compressed"), false);
    EXPECT_TRUE(lines[2].contains("error"));
    EXPECT_TRUE(lines[3].contains("error"));
    EXPECT_TRUE(lines[4].contains("error"));
    EXPECT_NE(r.err.find("missing.tif"), std::string::npos);
    EXPECT_NE(r.err.find("huge.bmp: a bitmap header this reader does not know"), std::string::npos)
        << r.err;

    // A site's limits file: a stricter skew limit flags the ordinary cheque,
    // a value that is no number keeps its default and is named.
    std::ofstream(sys_ / "quality.ini") << "[skew]\nMaxDegrees=0.01\n[blank]\nMaxContrast=x\n";
    const Result strict = Run({"quality", (out_ / "A000001F.bmp").string()});
    EXPECT_EQ(strict.code, 0);
    EXPECT_NE(strict.out.find("skew"), std::string::npos) << strict.out;
    EXPECT_NE(strict.err.find("[blank] MaxContrast"), std::string::npos) << strict.err;
}

}  // namespace
}  // namespace orvoscan_e2e
