// orvoscand: the local scanning service. Web pages of allowed origins and
// programs that show the token scan cheques over HTTP on the loopback address.
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "access.h"
#include "batches.h"
#include "config.h"
#include "orvo/platform/file_lock.h"
#include "orvo/scanrun/exported_driver.h"
#include "scanner.h"
#include "server.h"
#include "service.h"

namespace orvoscand {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Usage(FILE* out) {
    std::fputs(
        "Usage: orvoscand [--listen ADDR:PORT]... [--allow-origin ORIGIN]... [--config FILE]\n"
        "                 [--demo]\n"
        "The local scanning service: web pages of allowed origins and programs that show\n"
        "the token in $XDG_RUNTIME_DIR/orvoscan/token scan cheques over HTTP.\n\n"
        "  --listen ADDR:PORT     listen here (default 127.0.0.1:6570 and [::1]:6570);\n"
        "                         repeatable; port 0 lets the system choose\n"
        "  --allow-origin ORIGIN  also allow web pages of ORIGIN (https://host[:port])\n"
        "  --config FILE          read FILE instead of ~/.config/orvoscan/orvoscand.conf\n"
        "                         (after /etc/orvoscan/orvoscand.conf)\n"
        "  --no-system-config     do not read /etc/orvoscan/orvoscand.conf\n"
        "  --demo                 serve the demo page at /\n"
        "  --help                 this text\n\n"
        "Started by systemd (orvoscand.socket) it serves the sockets it is given.\n"
        "See orvoscand(8).\n",
        out);
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "orvoscand: %s\n", text.c_str());
    return kExitFailure;
}

// $XDG_RUNTIME_DIR/orvoscan/, made private when missing; empty when there is
// no usable one.
std::string SpoolDirectory(std::string* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        *error = "XDG_RUNTIME_DIR is not set; orvoscand runs in a user session (systemctl --user)";
        return {};
    }
    const std::string dir = std::string(runtime) + "/orvoscan";
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + dir + ": " + std::strerror(errno);
        return {};
    }
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        *error = dir + " is not a directory of this user";
        return {};
    }
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
        *error = "cannot close " + dir + " to others: " + std::strerror(errno);
        return {};
    }
    return dir + "/";
}

std::string RandomHex(std::size_t bytes) {
    std::string out;
    unsigned char b[64];
    bytes = std::min(bytes, sizeof b);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(b + got, bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<std::size_t>(n);
    }
    char hex[3];
    for (std::size_t i = 0; i < bytes; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", b[i]);
        out += hex;
    }
    return out;
}

// Writes the token file (mode 0600) whole, replacing an older one.
bool WriteToken(const std::string& spool, const std::string& token, std::string* error) {
    const std::string path = spool + "token";
    const std::string temp = path + ".new";
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = temp + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = token + "\n";
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// The pages of batches an earlier run of the service left (it may have been
// killed) go.
void CleanSpool(const std::string& spool) {
    const std::string batches = spool + "batches/";
    if (DIR* d = opendir(batches.c_str())) {
        while (dirent* entry = readdir(d)) {
            if (ValidBatchId(entry->d_name)) RemoveSpoolDir(batches + entry->d_name + "/");
        }
        closedir(d);
    }
    mkdir(batches.c_str(), 0700);
}

int Main(int argc, char** argv) {
    static const option kOptions[] = {{"listen", required_argument, nullptr, 'l'},
                                      {"allow-origin", required_argument, nullptr, 'o'},
                                      {"config", required_argument, nullptr, 'c'},
                                      {"no-system-config", no_argument, nullptr, 'n'},
                                      {"demo", no_argument, nullptr, 'd'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    std::vector<ListenAddress> listen;
    std::vector<std::string> origins;
    std::string configFile;
    bool systemConfig = true;
    bool demo = false;
    for (int c; (c = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'l': {
                ListenAddress a;
                if (!ParseListenAddress(optarg, &a)) {
                    std::fprintf(stderr, "orvoscand: --listen %s is no ADDRESS:PORT\n", optarg);
                    return kExitUsage;
                }
                listen.push_back(a);
                break;
            }
            case 'o': {
                std::string o;
                if (!ParseOrigin(optarg, &o)) {
                    std::fprintf(stderr,
                                 "orvoscand: --allow-origin %s is no origin like "
                                 "https://host[:port]\n",
                                 optarg);
                    return kExitUsage;
                }
                origins.push_back(o);
                break;
            }
            case 'c':
                configFile = optarg;
                break;
            case 'n':
                systemConfig = false;
                break;
            case 'd':
                demo = true;
                break;
            case 'h':
                Usage(stdout);
                return kExitOk;
            default:
                std::fputs("Try 'orvoscand --help'.\n", stderr);
                return kExitUsage;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "orvoscand: unexpected argument \"%s\"\n", argv[optind]);
        return kExitUsage;
    }

    Service service;
    std::string error;
    if (systemConfig && !ApplyConfigFile("/etc/orvoscan/orvoscand.conf", &service.config, &error))
        return Fail(error);
    if (configFile.empty()) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        if (xdg && *xdg == '/') {
            configFile = std::string(xdg) + "/orvoscan/orvoscand.conf";
        } else if (home && *home == '/') {
            configFile = std::string(home) + "/.config/orvoscan/orvoscand.conf";
        }
    }
    if (!configFile.empty() && !ApplyConfigFile(configFile, &service.config, &error))
        return Fail(error);
    for (const std::string& o : origins) service.config.allowOrigins.push_back(o);
    if (!listen.empty()) service.config.listen = listen;
    service.config.demo = demo;

    service.spoolDir = SpoolDirectory(&error);
    if (service.spoolDir.empty()) return Fail(error);
    // One service per user: the lock holds as long as this process lives.
    const std::string lockPath = service.spoolDir + "orvoscand.lock";
    const int lockFd = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) return Fail(lockPath + ": " + std::strerror(errno));
    if (orvo::platform::TryLockExclusive(lockFd) != orvo::platform::LockState::Held)
        return Fail("another orvoscand serves this user already (" +
                    orvo::platform::LockHolder(lockFd) + ")");
    CleanSpool(service.spoolDir);
    service.token = RandomHex(32);
    if (service.token.empty()) return Fail("no random numbers from the system");
    if (!WriteToken(service.spoolDir, service.token, &error)) return Fail(error);

    // The sockets: systemd's, else bound here.
    std::vector<ListenSocket> sockets = InheritedSockets();
    const bool activated = !sockets.empty();
    if (!activated) {
        std::vector<ListenAddress> addresses = service.config.listen;
        const bool defaults = addresses.empty();
        if (defaults) addresses = {{"127.0.0.1", kDefaultPort}, {"::1", kDefaultPort}};
        for (const ListenAddress& a : addresses) {
            if (!IsLoopbackHost(a.host) && !service.config.allowRemote)
                return Fail("refusing to listen on " + a.host +
                            ", which is not a loopback address (AllowRemote=yes in "
                            "orvoscand.conf allows it, at a risk)");
            ListenSocket s = BindSocket(a, &error);
            if (s.fd < 0) {
                // [::1] is optional where IPv6 is not up.
                if (defaults && a.host == "::1") continue;
                return Fail("cannot listen on " + error);
            }
            sockets.push_back(s);
        }
    }
    for (const ListenSocket& s : sockets) {
        if (!IsLoopbackHost(s.address) && !service.config.allowRemote)
            return Fail("refusing to serve on " + s.address +
                        ", which is not a loopback address (AllowRemote=yes allows it)");
        AddHostNames(&service.names, s.address, s.port);
    }

    // Signals end the service; a thread of its own takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    Scanner scanner(std::make_unique<orvo::scanrun::ExportedDriver>());
    service.scanner = &scanner;
    BatchList batches(service);
    service.batches = &batches;
    service.lastActivityMs = NowMs();

    std::vector<std::unique_ptr<SocketServer>> servers;
    std::vector<std::thread> threads;
    for (const ListenSocket& s : sockets) {
        auto server = std::make_unique<SocketServer>();
        SetUpServer(*server, service);
        const bool v6 = s.address.find(':') != std::string::npos;
        std::printf("orvoscand: listening on http://%s%s%s:%d/\n", v6 ? "[" : "", s.address.c_str(),
                    v6 ? "]" : "", s.port);
        threads.emplace_back([srv = server.get(), fd = s.fd] { srv->ServeOn(fd); });
        servers.push_back(std::move(server));
    }
    std::fflush(stdout);

    std::atomic<bool> stopping{false};
    std::thread janitor([&] {
        while (!stopping) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            batches.Tick();
            const int64_t idleMs = int64_t{service.config.idleExitSeconds} * 1000;
            if (activated && idleMs > 0 && !batches.running() && batches.empty() &&
                service.openStreams == 0 && NowMs() - service.lastActivityMs >= idleMs) {
                std::fprintf(stderr, "orvoscand: idle for %d s, ending\n",
                             service.config.idleExitSeconds);
                kill(getpid(), SIGTERM);
                return;
            }
        }
    });

    int signo = 0;
    sigwait(&stopSignals, &signo);
    stopping = true;
    batches.Shutdown();
    for (auto& server : servers) server->stop();
    for (auto& thread : threads) thread.join();
    janitor.join();
    batches.Clear();
    unlink((service.spoolDir + "token").c_str());
    return kExitOk;
}

}  // namespace
}  // namespace orvoscand

int main(int argc, char** argv) {
    return orvoscand::Main(argc, argv);
}
