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
#include <functional>
#include <sstream>
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
using orvo::testing::DirEntries;
using orvo::testing::ReadText;

// One SSE event as a client receives it.
struct SseEvent {
    long id = 0;
    std::string name;
    json data;
};

// Splits an event stream's text into its events (comment lines and an
// incomplete last line skipped).
inline std::vector<SseEvent> ParseEvents(const std::string& text) {
    std::vector<SseEvent> events;
    SseEvent e;
    std::string data;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line) && !in.eof();) {
        if (line.empty()) {
            if (!e.name.empty())
                events.push_back({e.id, e.name, json::parse(data, nullptr, false)});
            e = {};
            data.clear();
        } else if (line.starts_with("id: ")) {
            e.id = std::stol(line.substr(4));
        } else if (line.starts_with("event: ")) {
            e.name = line.substr(7);
        } else if (line.starts_with("data: ")) {
            data += line.substr(6);
        }
    }
    return events;
}

// Waits at most `bound` for `done`; false when it did not come.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds bound = 20s) {
    for (const auto end = std::chrono::steady_clock::now() + bound; !done();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
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
        const std::string keys =
            "Side=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\nBWSlice1=128\n"
            "ScanLines1=800\n";
        std::ofstream(sys_ / "OrvoScan.ini") << "[Default]\n" + keys + "[Check]\n" + keys +
                                                    "[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=1\n"
                                                    "ImageFileFormat=0\nEndorserFormat=\n";
        Scenario(R"("defaultStack": 3)");
        Config("ReconnectGraceSeconds=30\n");
    }
    void TearDown() override { Stop(); }

    // The virtual scanner's scenario: `members` (JSON object members) and
    // no latency, or (`paced`) a cheque every 150 ms of a clock in real time,
    // so that a test can act between cheques.
    void Scenario(const std::string& members, bool paced = false) {
        if (paced) timeScale_ = "1";
        std::ofstream(dir_ / "scenario.json")
            << R"({"latency": {"commandMs": 0, "blockMs": )"
            << (paced ? R"(5, "documentIntervalMs": 150})" : R"(0, "documentIntervalMs": 0})")
            << (members.empty() ? "" : ", ") << members << "}";
    }
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
    // Starts a program in that environment, its output in `name`.out and
    // `name`.err; `setup` runs in the child after the environment is set.
    pid_t Run(const std::vector<std::string>& argv, const std::string& name,
              const std::function<void()>& setup = {}) const {
        return orvo::testing::StartProgram(argv, dir_ / (name + ".out"), dir_ / (name + ".err"),
                                           [this, &setup] {
                                               Environment();
                                               if (setup) setup();
                                           });
    }
    std::string Err(const std::string& name) const { return ReadText(dir_ / (name + ".err")); }
    // orvoscand with this test's configuration file and `args`.
    std::vector<std::string> Service(std::vector<std::string> args = {}) const {
        args.insert(args.begin(), {ORVOSCAND, "--no-system-config", "--config",
                                   (dir_ / "orvoscand.conf").string()});
        return args;
    }

    // Starts orvoscand and waits until it listens; its port in port_.
    void Start() {
        fs::remove(dir_ / "service.out");
        pid_ = Run(Service({"--listen", "127.0.0.1:0"}), "service");
        ASSERT_GT(pid_, 0);
        ASSERT_TRUE(WaitFor([this] {
            const std::string out = ReadText(dir_ / "service.out");
            const auto at = out.find("http://127.0.0.1:");
            if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
            port_ = std::stoi(out.substr(at + 17));
            return true;
        })) << "orvoscand did not start: "
            << Err("service");
        ReadToken();
    }
    void ReadToken() {
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
        if (origin.empty())
            c.set_default_headers({{"Authorization", "Bearer " + token_}});
        else
            c.set_default_headers({{"Origin", origin}});
        return c;
    }
    static json Body(const httplib::Result& r) {
        return r ? json::parse(r->body, nullptr, false) : json();
    }

    // Starts a batch (token caller); its id, or "" with a test failure.
    std::string Post(const json& body = {{"profile", "Check"}}) {
        auto r = Client().Post("/v1/batches", body.dump(), "application/json");
        EXPECT_TRUE(r && r->status == 201) << (r ? r->body : "no answer");
        return r && r->status == 201 ? Body(r)["id"].get<std::string>() : "";
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
    // The virtual scanner's clock: fast, unless a scenario is paced.
    std::string timeScale_ = "10";
    pid_t pid_ = -1;
    int port_ = 0;
    std::string token_;
};

}  // namespace orvoscand_e2e
