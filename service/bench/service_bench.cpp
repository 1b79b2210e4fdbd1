// The service against `orvoscan scan` on the same stack: 200 two-sided
// cheques at the virtual scanner's zero latency, through orvoscand to a
// client that fetches every TIFF, and how soon a cheque's event reaches the
// client after its last page was written. Prints the rows of the
// performance table.
//
//   bench_service ORVOSCAND ORVOSCAN SYSTEM_DIR
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCheques = 200;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double RealNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double MTime(const fs::path& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return 0;
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
    const pid_t pid = fork();
    if (pid == 0) {
        FILE* f = std::fopen(out.c_str(), "w");
        if (f) dup2(fileno(f), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_service ORVOSCAND ORVOSCAN SYSTEM_DIR\n");
        return 2;
    }
    char tmpl[] = "/tmp/orvoscand-bench-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const fs::path sys = dir / "sys", run = dir / "run", home = dir / "home";
    fs::create_directories(sys);
    fs::create_directories(run);
    fs::create_directories(home / "service");
    fs::create_directories(home / "tool");
    for (const char* f : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"})
        fs::create_symlink(fs::absolute(argv[3]) / f, sys / f);
    std::ofstream(sys / "OrvoScan.ini")
        << "[Check]\nSide=1\nScanWidth=1728\nScanMode1=0\nCompressMode=0\nBWSlice1=128\n"
           "ScanLines1=800\n[Misc]\nEndorser=0\nDFDetect=1\nMicrDetect=1\nImageFileFormat=0\n";
    std::ofstream(dir / "scenario.json")
        << R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0}, "defaultStack": )"
        << kCheques << "}";
    std::ofstream(dir / "empty.conf");
    setenv("ORVOSCAN_ASPI", "sim", 1);
    setenv("ORVOSCAN_SYSTEM_DIR", sys.c_str(), 1);
    setenv("ORVOSCAN_SIM_SCENARIO", (dir / "scenario.json").c_str(), 1);
    setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
    setenv("TMPDIR", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    setenv("HOME", home.c_str(), 1);

    // orvoscan scan, the same stack.
    auto t0 = Clock::now();
    pid_t tool = Spawn(
        {argv[2], "scan", "--profile", "Check", "--output", (home / "tool" / "A.tif").string()},
        (dir / "tool.out").string());
    int status = 0;
    waitpid(tool, &status, 0);
    const double toolSeconds = Seconds(t0, Clock::now());

    // The service: started, then one batch whose every TIFF is fetched.
    pid_t service = Spawn({argv[1], "--listen", "127.0.0.1:0", "--no-system-config", "--config",
                           (dir / "empty.conf").string()},
                          (dir / "service.out").string());
    int port = 0;
    for (int i = 0; i < 500 && port == 0; ++i) {
        std::ifstream in(dir / "service.out");
        std::string line;
        std::getline(in, line);
        const auto at = line.find("http://127.0.0.1:");
        if (at != std::string::npos && line.back() == '/') port = std::stoi(line.substr(at + 17));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string token;
    std::ifstream(run / "orvoscan" / "token") >> token;
    httplib::Headers auth = {{"Authorization", "Bearer " + token}};
    httplib::Client events("127.0.0.1", port), pages("127.0.0.1", port);
    events.set_default_headers(auth);
    pages.set_default_headers(auth);
    events.set_read_timeout(60, 0);
    pages.Get("/v1/scanner");  // the driver starts

    std::vector<double> delays;
    std::size_t fetched = 0;
    std::string buffer;
    t0 = Clock::now();
    auto created =
        pages.Post("/v1/batches",
                   json{{"profile", "Check"}, {"outputDir", (home / "service").string()}}.dump(),
                   "application/json");
    if (!created || created->status != 201) {
        std::fprintf(stderr, "bench_service: the batch did not start\n");
        kill(service, SIGTERM);
        return 1;
    }
    const std::string id = json::parse(created->body)["id"];
    int cheques = 0;
    // The pages are fetched on a thread of their own, as a browser would.
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::string> urls;
    bool over = false;
    std::thread fetcher([&] {
        for (;;) {
            std::string url;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return over || !urls.empty(); });
                if (urls.empty()) return;
                url = urls.front();
                urls.erase(urls.begin());
            }
            auto r = pages.Get(url);
            if (r && r->status == 200) fetched += r->body.size();
        }
    });
    events.Get("/v1/batches/" + id + "/events", [&](const char* data, std::size_t n) {
        const double now = RealNow();
        buffer.append(data, n);
        for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
            const std::string event = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            if (event.find("event: end") != std::string::npos) return false;
            const auto at = event.find("data: ");
            if (event.find("event: cheque") == std::string::npos || at == std::string::npos)
                continue;
            const json cheque = json::parse(event.substr(at + 6));
            ++cheques;
            const fs::path rear =
                home / "service" / (cheque["rear"]["name"].get<std::string>() + ".tif");
            delays.push_back((now - MTime(rear)) * 1000);
            {
                std::lock_guard lock(mutex);
                for (const char* side : {"front", "rear"})
                    urls.push_back(cheque[side]["tiff"].get<std::string>());
            }
            wake.notify_one();
        }
        return true;
    });
    {
        std::lock_guard lock(mutex);
        over = true;
    }
    wake.notify_one();
    fetcher.join();
    const double serviceSeconds = Seconds(t0, Clock::now());
    kill(service, SIGTERM);
    waitpid(service, &status, 0);
    fs::remove_all(dir);

    std::sort(delays.begin(), delays.end());
    const double median = delays.empty() ? 0 : delays[delays.size() / 2];
    const double toolRate = kCheques / toolSeconds;
    const double serviceRate = cheques / serviceSeconds;
    std::printf(
        "| orvoscand, %d cheques, zero latency, every TIFF fetched | %.1f | cheques/s | "
        "orvoscan scan %.1f | %.2fx (target >= 0.8x) |\n",
        cheques, serviceRate, toolRate, serviceRate / toolRate);
    std::printf("|   TIFF bytes fetched | %zu | KiB | | |\n", fetched / 1024);
    std::printf(
        "| Page written -> cheque event at the client, median | %.2f | ms | max %.2f ms, "
        "target <= 5 | %.2fx |\n",
        median, delays.empty() ? 0 : delays.back(), median / 5);
    return cheques == kCheques ? 0 : 1;
}
