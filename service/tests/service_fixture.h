// orvoscand end to end: the program is started on a free port with its own
// system directory (links to the build's driver and code tables, its own
// OrvoScan.ini), its own runtime directory and a scenario of the virtual
// scanner; requests go over HTTP like any client's.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

namespace orvoscand_e2e {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;
using orvo::testing::ReadText;

// One SSE event as a client receives it.
struct SseEvent {
    long id = 0;
    std::string name;
    json data;
};

// Splits an event stream's text into its events (comment lines skipped).
inline std::vector<SseEvent> ParseEvents(const std::string& text) {
    std::vector<SseEvent> events;
    SseEvent e;
    std::string data;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) break;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            if (!e.name.empty()) {
                e.data = json::parse(data, nullptr, false);
                events.push_back(e);
            }
            e = {};
            data.clear();
        } else if (line.rfind("id: ", 0) == 0) {
            e.id = std::stol(line.substr(4));
        } else if (line.rfind("event: ", 0) == 0) {
            e.name = line.substr(7);
        } else if (line.rfind("data: ", 0) == 0) {
            data += line.substr(6);
        }
    }
    return events;
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* build = std::getenv("ORVOSCAN_SYSTEM_DIR");
        const fs::path buildSys =
            build && *build ? fs::path(build) : fs::path(ORVOSCAND).parent_path();
        fs::create_directories(sys_);
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        fs::create_directories(home_);
        for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"})
            fs::create_symlink(buildSys / f, sys_ / f);
        WriteSettings();
        Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                     "defaultStack": 3})");
        Config("ReconnectGraceSeconds=30\n");
    }
    void TearDown() override { Stop(); }

    void WriteSettings(const std::string& extra = "") {
        std::ofstream(sys_ / "OrvoScan.ini")
            << "[Default]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
               "BWSlice1=128\nScanLines1=800\n[Check]\nSide=1\nScanWidth=1728\nResolution=0\n"
               "ScanMode1=0\nCompressMode=0\nBWSlice1=128\nScanLines1=800\n"
            << extra
            << "[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=1\nImageFileFormat=0\nEndorserFormat=\n";
    }
    void Scenario(const std::string& text) { std::ofstream(dir_ / "scenario.json") << text; }
    void Config(const std::string& text) { std::ofstream(dir_ / "orvoscand.conf") << text; }

    // The environment of the service and of orvoscan runs beside it.
    void Environment() const {
        setenv("ORVOSCAN_ASPI", "sim", 1);
        setenv("ORVOSCAN_SYSTEM_DIR", sys_.c_str(), 1);
        setenv("ORVOSCAN_SIM_SCENARIO", (dir_ / "scenario.json").c_str(), 1);
        setenv("ORVOSCAN_TRACE_DIR", dir_.c_str(), 1);
        setenv("ORVOSCAN_TIME_SCALE", timeScale_.c_str(), 1);
        setenv("TMPDIR", dir_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        setenv("HOME", home_.c_str(), 1);
    }

    // Starts orvoscand and waits until it listens; its port in port_.
    void Start(std::vector<std::string> args = {}) {
        std::vector<std::string> argv = {ORVOSCAND,     "--listen",
                                         "127.0.0.1:0", "--no-system-config",
                                         "--config",    (dir_ / "orvoscand.conf").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        fs::remove(dir_ / "service.out");
        pid_ = orvo::testing::StartProgram(argv, dir_ / "service.out", dir_ / "service.err",
                                           [this] { Environment(); });
        ASSERT_GT(pid_, 0);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        for (;;) {
            const std::string out =
                fs::exists(dir_ / "service.out") ? ReadText(dir_ / "service.out") : "";
            const auto at = out.find("http://127.0.0.1:");
            if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
                port_ = std::stoi(out.substr(at + 17));
                break;
            }
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "orvoscand did not start: " << ReadText(dir_ / "service.err");
            std::this_thread::sleep_for(10ms);
        }
        token_ = ReadText(runtime_ / "orvoscan" / "token");
        while (!token_.empty() && token_.back() == '\n') token_.pop_back();
    }
    // Ends the service (SIGTERM, or `sig`) and returns its exit status.
    int Stop(int sig = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, sig);
        const int code = orvo::testing::WaitChild(pid_, 30s).code;
        pid_ = -1;
        return code;
    }

    // A client for the token caller (or an origin caller with `origin`).
    httplib::Client Client(const std::string& origin = "") const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30, 0);
        httplib::Headers h;
        if (origin.empty()) {
            h.emplace("Authorization", "Bearer " + token_);
        } else {
            h.emplace("Origin", origin);
        }
        c.set_default_headers(h);
        return c;
    }
    static json Body(const httplib::Result& r) {
        return r ? json::parse(r->body, nullptr, false) : json();
    }

    // Starts a batch (token caller); its id, or "" with a test failure.
    std::string Post(const json& body, int expect = 201) {
        auto r = Client().Post("/v1/batches", body.dump(), "application/json");
        EXPECT_TRUE(r);
        if (!r) return "";
        EXPECT_EQ(r->status, expect) << r->body;
        return r->status == 201 ? Body(r)["id"].get<std::string>() : "";
    }
    // Reads the batch's event stream to its end (or `stopAfter` cheques:
    // then the connection is dropped).
    std::vector<SseEvent> Events(const std::string& id, long lastEventId = 0, int stopAfter = -1) {
        auto c = Client();
        httplib::Headers h;
        if (lastEventId > 0) h.emplace("Last-Event-ID", std::to_string(lastEventId));
        std::string text;
        int cheques = 0;
        c.Get(("/v1/batches/" + id + "/events").c_str(), h, [&](const char* data, std::size_t n) {
            text.append(data, n);
            cheques = 0;
            for (const SseEvent& e : ParseEvents(text)) cheques += e.name == "cheque";
            return stopAfter < 0 || cheques < stopAfter;
        });
        return ParseEvents(text);
    }

    const orvo::testing::TempDir temp_{"orvoscand-e2e"};
    const fs::path dir_ = temp_.path();
    const fs::path sys_ = dir_ / "sys", runtime_ = dir_ / "run", home_ = dir_ / "home";
    // The virtual scanner's clock: fast, unless a test needs cheques to come
    // at a pace it can act between.
    std::string timeScale_ = "10";
    pid_t pid_ = -1;
    int port_ = 0;
    std::string token_;
};

}  // namespace orvoscand_e2e
