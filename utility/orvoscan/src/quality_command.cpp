#include "quality_command.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "command_table.h"
#include "exit_codes.h"
#include "orvo/quality/page.h"
#include "orvo/quality/page_pairs.h"
#include "orvo/scanrun/exported_driver.h"

namespace orvoscan {

namespace q = orvo::quality;
using nlohmann::json;

namespace {

std::string Fixed(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

// The page's line for people: the file, its defects with their values (or
// "ok"), then the main measures.
std::string TextLine(const std::string& file, const q::SideReport& side) {
    const q::Measures& m = side.measures;
    std::string text = file + ": " + (side.defects.empty() ? "ok" : q::DefectDetails(side));
    if (!side.sizeJudged) text += std::string(" (") + q::kSizeNotJudged + ")";
    text += "  [" + Fixed(m.alongFeedMm, 1) + " mm along the feed x " + Fixed(m.acrossTrackMm, 1) +
            " mm across";
    text += m.skewFound ? ", skew " + Fixed(m.skewDegrees, 2) + " degrees" : ", skew unknown";
    text += ", black " + Fixed(m.inkPercent, 2) + "%";
    if (m.bitsPerPixel != 1) {
        text += ", brightness " + Fixed(m.brightness, 0) + ", contrast " + Fixed(m.contrast, 0);
    }
    text += ", streaks " + std::to_string(m.streakColumns.size()) + ", specks " +
            Fixed(m.specksPerSquareInch, 1) + "/sq in, " + std::to_string(m.fileBytes) + " bytes]";
    return text;
}

}  // namespace

void AddMeasures(const q::SideReport& side, json& out) {
    const q::Measures& m = side.measures;
    json defects = json::array();
    for (q::Defect d : side.defects) defects.push_back(q::DefectName(d));
    out["defects"] = defects;
    if (!side.sizeJudged) out["sizeJudged"] = false;
    out["width"] = m.width;
    out["height"] = m.height;
    out["bitsPerPixel"] = m.bitsPerPixel;
    out["xDpi"] = m.xDpi;
    out["yDpi"] = m.yDpi;
    if (m.resolutionAssumed) out["resolutionAssumed"] = true;
    out["pagesInFile"] = m.pagesInFile;
    out["alongFeedPixels"] = m.alongFeedPixels;
    out["alongFeedMm"] = m.alongFeedMm;
    out["acrossTrackPixels"] = m.acrossTrackPixels;
    out["acrossTrackMm"] = m.acrossTrackMm;
    out["backgroundPixels"] = {m.backgroundLeftPixels, m.backgroundRightPixels};
    out["skewDegrees"] = m.skewFound ? json(m.skewDegrees) : json(nullptr);
    out["blackPercent"] = m.blackPercent;
    out["inkPercent"] = m.inkPercent;
    if (m.bitsPerPixel != 1) {
        out["brightness"] = m.brightness;
        out["contrast"] = m.contrast;
        out["cutLevel"] = m.cutLevel;
    }
    out["streaks"] = m.streakColumns.size();
    out["streakColumns"] = m.streakColumns;
    out["specks"] = m.specks;
    out["specksPerSquareInch"] = m.specksPerSquareInch;
    out["fileBytes"] = m.fileBytes;
    out["compressed"] = m.compressed;
}

q::Limits LoadLimits(const std::string& file, Console& console) {
    q::Limits limits;
    const std::string path =
        file.empty() ? q::LimitsFilePath(orvo::scanrun::DriverSystemDir()) : file;
    std::vector<std::string> problems;
    q::ReadLimitsFile(path, &limits, &problems);
    for (const std::string& problem : problems) console.Error("warning: " + problem);
    return limits;
}

int QualityCommand(int argc, char** argv, Console& console) {
    static const option kOptions[] = {{"json", no_argument, nullptr, 'j'},
                                      {"limits", required_argument, nullptr, 'l'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    bool json = console.json();
    std::string limitsFile;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, "l:h", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'j':
                json = true;
                break;
            case 'l':
                limitsFile = optarg;
                break;
            case 'h':
                PrintUsage(stdout);
                return kExitDone;
            default:
                return UsageError("quality: unknown option");
        }
    }
    if (optind >= argc) return UsageError("quality needs page files");
    if (!limitsFile.empty()) {
        struct stat st{};
        if (::stat(limitsFile.c_str(), &st) != 0) {
            return UsageError("--limits: no file \"" + limitsFile + "\"");
        }
    }
    Console out(stdout, stderr, json, false);
    const q::Limits limits = LoadLimits(limitsFile, out);

    const std::vector<std::string> files(argv + optind, argv + argc);
    // Which named files have their other side among the files given.
    std::map<std::string, std::size_t> given;
    for (std::size_t i = 0; i < files.size(); ++i) given.emplace(files[i], i);

    int exitCode = kExitDone;
    std::vector<bool> done(files.size(), false);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (done[i]) continue;
        done[i] = true;
        // The cheque's files in the order front, rear.
        std::vector<std::string> cheque = {files[i]};
        const q::NamedSide side = q::SideOfPageFile(files[i]);
        if (side.named) {
            const auto partner = given.find(side.partner);
            if (partner != given.end() && partner->second != i && !done[partner->second]) {
                done[partner->second] = true;
                cheque.insert(side.front ? cheque.end() : cheque.begin(), side.partner);
            }
        }
        q::Page pages[2];
        const q::Page* read[2] = {nullptr, nullptr};
        for (std::size_t k = 0; k < cheque.size(); ++k) {
            std::string error;
            if (q::ReadPageFile(cheque[k], &pages[k], &error)) {
                read[k] = &pages[k];
                if (pages[k].pagesInFile > 1) {
                    out.Error("warning: " + cheque[k] + ": holds " +
                              std::to_string(pages[k].pagesInFile) +
                              " pages; only the first is checked");
                }
            } else {
                out.Error(error);
                out.Event({{"file", cheque[k]}, {"error", error}});
                exitCode = kExitUnreadable;
            }
        }
        const q::ChequeReport report =
            read[0] && read[1] ? q::CheckCheque(limits, read[0], read[1])
                               : q::CheckCheque(limits, read[0] ? read[0] : read[1], nullptr);
        std::size_t next = 0;
        for (std::size_t k = 0; k < cheque.size(); ++k) {
            if (!read[k] || next >= report.sides.size()) continue;
            const q::SideReport& result = report.sides[next++];
            nlohmann::json line = {{"file", cheque[k]}};
            AddMeasures(result, line);
            out.Event(line);
            out.Line(TextLine(cheque[k], result));
        }
    }
    return exitCode;
}

}  // namespace orvoscan
