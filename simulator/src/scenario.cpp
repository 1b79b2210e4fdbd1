#include "orvo/sim/scenario.h"

#include "orvo/platform/files.h"
#include "orvo/sim/side_data.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace orvo::sim {

namespace {
// A scenario file is a page of JSON; anything larger is not one.
constexpr size_t kMaxScenarioFileBytes = 16u * 1024u * 1024u;
}  // namespace

bool SenseByName(const std::string& name, SenseBits* out) {
    static const std::map<std::string, SenseBits> kNames = {
        {"jam1", {0x01, 0}},       {"jam2", {0x02, 0}},           {"jam3", {0x04, 0}},
        {"jam4", {0x08, 0}},       {"elevationSetup", {0x10, 0}}, {"elevationHome", {0x20, 0}},
        {"doubleFeed", {0x40, 0}}, {"noDocument", {0x80, 0}},     {"coverOpen", {0, 0x01}},
        {"micrError", {0, 0x02}},  {"modelError", {0, 0x04}},     {"none", {0, 0}},
    };
    auto it = kNames.find(name);
    if (it == kNames.end()) return false;
    *out = it->second;
    return true;
}

Scenario FastScenario(int documents) {
    Scenario s;
    s.documents = DefaultStack(documents);
    s.latency = kNoLatency;
    return s;
}

std::vector<Document> DefaultStack(int count) {
    std::vector<Document> docs;
    for (int i = 0; i < count; ++i) {
        Document d;
        d.front.syntheticSeed = i;
        d.rear.syntheticSeed = i;
        char micr[64];
        // Transit symbol T, on-us symbol U; routing, account and cheque number.
        std::snprintf(micr, sizeof micr, "T%09dT %010dU %04d", 21000021 + 1111 * i,
                      1234567890 - 7919 * i, 101 + i);
        d.micr = micr;
        if (i == 3) d.micr[5] = '?';   // a character the reader could not recognise
        if (i == 7) d.micr[14] = '_';  // a damaged symbol
        docs.push_back(std::move(d));
    }
    return docs;
}

Scenario DefaultScenario() {
    Scenario s;
    s.documents = DefaultStack();
    return s;
}

namespace {

using nlohmann::json;

struct ParseError {
    std::string what;
};

[[noreturn]] void Fail(const std::string& what) {
    throw ParseError{what};
}

void CheckKeys(const json& j, const std::set<std::string>& allowed, const std::string& where) {
    if (!j.is_object()) Fail(where + " must be an object");
    for (auto it = j.begin(); it != j.end(); ++it)
        if (!allowed.count(it.key())) Fail("unknown key \"" + it.key() + "\" in " + where);
}

long Int(const json& j, const std::string& key, long lo, long hi, long def) {
    if (!j.contains(key)) return def;
    const json& v = j.at(key);
    long n = 0;
    if (v.is_number_integer()) {
        n = v.get<long>();
    } else if (v.is_string()) {  // "0x3C" style numbers
        const std::string& s = v.get_ref<const std::string&>();
        size_t used = 0;
        try {
            n = std::stol(s, &used, 0);
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != s.size()) Fail("\"" + key + "\" is not a number");
    } else {
        Fail("\"" + key + "\" must be a number");
    }
    if (n < lo || n > hi)
        Fail("\"" + key + "\" out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return n;
}

bool Bool(const json& j, const std::string& key, bool def) {
    if (!j.contains(key)) return def;
    if (!j.at(key).is_boolean()) Fail("\"" + key + "\" must be true or false");
    return j.at(key).get<bool>();
}

std::string Str(const json& j, const std::string& key, const std::string& def) {
    if (!j.contains(key)) return def;
    if (!j.at(key).is_string()) Fail("\"" + key + "\" must be a text");
    return j.at(key).get<std::string>();
}

Repeat RepeatOf(const json& j, const std::string& key) {
    if (!j.contains(key)) return Repeat::Never;
    const json& v = j.at(key);
    if (v.is_boolean()) return v.get<bool>() ? Repeat::Always : Repeat::Never;
    std::string s = v.is_string() ? v.get<std::string>() : "";
    if (s == "once") return Repeat::Once;
    if (s == "always") return Repeat::Always;
    if (s == "never") return Repeat::Never;
    Fail("\"" + key + "\" must be \"once\", \"always\", \"never\" or a boolean");
}

SenseBits SenseOf(const json& j, const std::string& where) {
    SenseBits s;
    if (j.contains("error")) {
        std::string name = Str(j, "error", "");
        if (!SenseByName(name, &s)) Fail("unknown error name \"" + name + "\" in " + where);
    }
    s.byte3 = static_cast<uint8_t>(Int(j, "sense3", 0, 255, s.byte3));
    s.byte4 = static_cast<uint8_t>(Int(j, "sense4", 0, 255, s.byte4));
    return s;
}

SideFaults SideFaultsOf(const json& j, const std::string& where) {
    CheckKeys(j, {"wrongMarkers", "noRtc", "claimBlocks", "micrNoCr"}, where);
    SideFaults f;
    f.wrongMarkers = RepeatOf(j, "wrongMarkers");
    f.noRtc = RepeatOf(j, "noRtc");
    f.claimBlocks = static_cast<int>(Int(j, "claimBlocks", -1, 65535, -1));
    f.micrNoCr = Bool(j, "micrNoCr", false);
    return f;
}

double Number(const json& j, const std::string& key, double lo, double hi) {
    if (!j.contains(key)) return 0;
    if (!j.at(key).is_number()) Fail("\"" + key + "\" must be a number");
    const double v = j.at(key).get<double>();
    if (!(v >= lo && v <= hi))
        Fail("\"" + key + "\" out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

PageDefects PageDefectsOf(const json& j, const std::string& where) {
    CheckKeys(j, {"blank", "lines", "skew", "brightness", "specks", "streaks"}, where);
    PageDefects d;
    d.blank = Bool(j, "blank", false);
    d.lines = static_cast<int>(Int(j, "lines", 0, 4000, 0));
    d.skewDegrees = Number(j, "skew", -45, 45);
    d.brightness = static_cast<int>(Int(j, "brightness", -255, 255, 0));
    d.specks = static_cast<int>(Int(j, "specks", 0, 100000, 0));
    if (j.contains("streaks")) {
        const json& s = j.at("streaks");
        if (!s.is_array()) Fail("\"streaks\" must be an array of columns in " + where);
        for (const json& x : s) {
            if (!x.is_number_integer() || x.get<long>() < 0 || x.get<long>() >= 5184)
                Fail("\"streaks\" columns must be 0..5183 in " + where);
            d.streaks.push_back(x.get<int>());
        }
    }
    return d;
}

PageSource PageOf(const json& j, const std::string& key, int index, const std::string& baseDir) {
    PageSource p;
    p.syntheticSeed = index;
    if (!j.contains(key)) return p;
    const json& v = j.at(key);
    if (v.is_object()) {
        CheckKeys(v, {"synthetic", "data"}, key);
        p.syntheticSeed = static_cast<int>(Int(v, "synthetic", 0, 1000000, index));
        if (v.contains("data")) {
            std::string path = Str(v, "data", "");
            if (!path.empty() && path[0] != '/' && !baseDir.empty()) path = baseDir + "/" + path;
            // Refused before anything is read: a FIFO or a device (never
            // ending, like /dev/zero), or more than the scanner can send.
            std::string text;
            switch (platform::ReadRegularFile(path, kMaxSideDataBytes, text)) {
                case platform::ReadResult::Ok:
                    break;
                case platform::ReadResult::NotRegular:
                    Fail("\"" + path + "\" is not a regular file");
                case platform::ReadResult::TooLarge:
                    Fail("\"" + path + "\" is too large (more than 1024 blocks)");
                default:
                    Fail("cannot read \"" + path + "\"");
            }
            p.data = std::make_shared<std::vector<uint8_t>>(text.begin(), text.end());
        }
        return p;
    }
    if (!v.is_string())
        Fail("\"" + key + "\" must be a file name or {\"synthetic\": n} or {\"data\": file}");
    std::string path = v.get<std::string>();
    if (!path.empty() && path[0] != '/' && !baseDir.empty()) path = baseDir + "/" + path;
    auto img = std::make_shared<Image>();
    std::string err;
    if (!LoadImageFile(path, img.get(), &err)) Fail(err);
    p.image = std::move(img);
    return p;
}

Document DocumentOf(const json& j, int index, const std::string& baseDir,
                    const Document& defaults) {
    std::string where = "document " + std::to_string(index);
    CheckKeys(j,
              {"front", "rear", "micr", "pauseBeforeMs", "jam", "frontFaults", "rearFaults",
               "frontDefects", "rearDefects"},
              where);
    Document d;
    d.front = PageOf(j, "front", index, baseDir);
    d.rear = PageOf(j, "rear", index, baseDir);
    d.micr = Str(j, "micr", defaults.micr);
    d.pauseBeforeMs = static_cast<uint32_t>(Int(j, "pauseBeforeMs", 0, 3600000, 0));
    if (j.contains("jam")) {
        const json& v = j.at("jam");
        d.jam = true;
        if (v.is_string()) {
            if (!SenseByName(v.get<std::string>(), &d.jamSense))
                Fail("unknown error name in " + where);
        } else {
            CheckKeys(v, {"error", "sense3", "sense4"}, where + " jam");
            d.jamSense = SenseOf(v, where);
        }
    }
    if (j.contains("frontFaults")) d.frontFaults = SideFaultsOf(j.at("frontFaults"), where);
    if (j.contains("rearFaults")) d.rearFaults = SideFaultsOf(j.at("rearFaults"), where);
    if (j.contains("frontDefects"))
        d.frontDefects = PageDefectsOf(j.at("frontDefects"), where + " frontDefects");
    if (j.contains("rearDefects"))
        d.rearDefects = PageDefectsOf(j.at("rearDefects"), where + " rearDefects");
    return d;
}

CommandFault CommandFaultOf(const json& j, size_t index) {
    std::string where = "command fault " + std::to_string(index);
    CheckKeys(j,
              {"opcode", "occurrence", "count", "action", "error", "sense3", "sense4", "srbStatus",
               "haStat", "targStat"},
              where);
    if (!j.contains("opcode")) Fail(where + " has no opcode");
    CommandFault f;
    f.opcode = static_cast<uint8_t>(Int(j, "opcode", 0, 255, 0));
    f.occurrence = static_cast<int>(Int(j, "occurrence", 1, 1000000000, 1));
    f.count = static_cast<int>(Int(j, "count", 1, 1000000000, 1));
    std::string action = Str(j, "action", "checkCondition");
    if (action == "checkCondition")
        f.action = FaultAction::CheckCondition;
    else if (action == "selectionTimeout")
        f.action = FaultAction::SelectionTimeout;
    else if (action == "noCompletion")
        f.action = FaultAction::NoCompletion;
    else if (action == "notClean")
        f.action = FaultAction::NotClean;
    else
        Fail("unknown action \"" + action + "\" in " + where);
    f.sense = SenseOf(j, where);
    f.srbStatus = static_cast<uint8_t>(Int(j, "srbStatus", 0, 255, f.srbStatus));
    f.haStat = static_cast<uint8_t>(Int(j, "haStat", 0, 255, f.haStat));
    f.targStat = static_cast<uint8_t>(Int(j, "targStat", 0, 255, f.targStat));
    return f;
}

Scenario ScenarioOf(const json& j, const std::string& baseDir) {
    CheckKeys(j,
              {"adapters", "adapter", "target", "present", "vendor", "product", "revision",
               "latency", "alignEol", "terminateAtFirstPoll", "qa", "defaultStack", "documents",
               "recordDir", "deviceNode", "commandFaults", "comment"},
              "scenario");
    Scenario s;
    s.adapterCount = static_cast<int>(Int(j, "adapters", 0, 255, s.adapterCount));
    s.adapter = static_cast<int>(Int(j, "adapter", 0, 255, s.adapter));
    s.target = static_cast<int>(Int(j, "target", 0, 15, s.target));
    s.present = Bool(j, "present", s.present);
    s.vendor = Str(j, "vendor", s.vendor);
    s.product = Str(j, "product", s.product);
    s.revision = Str(j, "revision", s.revision);
    if (j.contains("latency")) {
        const json& l = j.at("latency");
        CheckKeys(l, {"commandMs", "blockMs", "documentIntervalMs"}, "latency");
        s.latency.commandMs =
            static_cast<uint32_t>(Int(l, "commandMs", 0, 600000, s.latency.commandMs));
        s.latency.blockMs = static_cast<uint32_t>(Int(l, "blockMs", 0, 600000, s.latency.blockMs));
        s.latency.documentIntervalMs = static_cast<uint32_t>(
            Int(l, "documentIntervalMs", 0, 3600000, s.latency.documentIntervalMs));
    }
    s.alignEol = Bool(j, "alignEol", s.alignEol);
    s.terminateAtFirstPoll = Bool(j, "terminateAtFirstPoll", s.terminateAtFirstPoll);
    if (j.contains("recordDir")) {
        std::string dir = Str(j, "recordDir", "");
        if (!dir.empty() && dir[0] != '/' && !baseDir.empty()) dir = baseDir + "/" + dir;
        s.recordDir = dir;
    }
    if (j.contains("deviceNode")) {
        std::string node = Str(j, "deviceNode", "");
        if (!node.empty() && node[0] != '/' && !baseDir.empty()) node = baseDir + "/" + node;
        s.deviceNode = node;
    }
    if (j.contains("qa")) {
        const json& q = j.at("qa");
        if (!q.is_array() || q.size() != 12) Fail("\"qa\" must be an array of 12 numbers");
        for (size_t i = 0; i < 12; ++i) {
            if (!q[i].is_number_integer() || q[i].get<long>() < 0 || q[i].get<long>() > 255)
                Fail("\"qa\" values must be 0..255");
            s.qaBlock[i] = static_cast<uint8_t>(q[i].get<long>());
        }
    }
    int stackSize = static_cast<int>(Int(j, "defaultStack", 0, 10000, 10));
    if (j.contains("documents")) {
        const json& docs = j.at("documents");
        if (!docs.is_array()) Fail("\"documents\" must be an array");
        if (docs.size() > 10000) Fail("too many documents");
        // Documents without their own MICR text take the default stack's.
        std::vector<Document> defaults = DefaultStack(static_cast<int>(docs.size()));
        for (size_t i = 0; i < docs.size(); ++i)
            s.documents.push_back(DocumentOf(docs[i], static_cast<int>(i), baseDir, defaults[i]));
    } else {
        s.documents = DefaultStack(stackSize);
    }
    if (j.contains("commandFaults")) {
        const json& faults = j.at("commandFaults");
        if (!faults.is_array()) Fail("\"commandFaults\" must be an array");
        for (size_t i = 0; i < faults.size(); ++i)
            s.commandFaults.push_back(CommandFaultOf(faults[i], i));
    }
    return s;
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& baseDir, Scenario* out,
                   std::string* error) {
    try {
        json j = json::parse(text);
        *out = ScenarioOf(j, baseDir);
        return true;
    } catch (const ParseError& e) {
        if (error) *error = e.what;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    }
    return false;
}

Scenario LoadScenarioFile(const std::string& path) {
    std::string error;
    std::string text;
    Scenario s;
    switch (platform::ReadRegularFile(path, kMaxScenarioFileBytes, text)) {
        case platform::ReadResult::Ok: {
            std::string dir;
            size_t slash = path.find_last_of('/');
            if (slash != std::string::npos) dir = path.substr(0, slash);
            if (ParseScenario(text, dir, &s, &error)) return s;
            break;
        }
        case platform::ReadResult::NotRegular:
            error = "not a regular file";
            break;
        case platform::ReadResult::TooLarge:
            error = "larger than a scenario file can be";
            break;
        default:
            error = "cannot open the file";
            break;
    }
    std::fprintf(stderr, "virtual scanner: scenario %s: %s; using the default stack\n",
                 path.c_str(), error.c_str());
    return DefaultScenario();
}

}  // namespace orvo::sim
