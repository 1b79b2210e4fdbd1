// SANE clients this project did not write, on the virtual scanner: Debian's
// python3-sane (sane_client.py), and saned serving the backend to the net
// backend on the loopback of a network namespace of the test's own (saned
// takes the net backend's port 6566 without meeting the machine's).
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "orvo/testing/child.h"
#include "sane_fixture.h"

namespace sane_e2e {
namespace {

using namespace std::chrono_literals;

constexpr int kSanedPort = 6566;  // the port the net backend connects to

// A network of this process's own with its loopback up; empty, or why not.
std::string EnterOwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return std::strerror(errno);
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const bool up = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    close(s);
    return up ? "" : std::string("loopback not up: ") + std::strerror(errno);
}

bool SanedListens() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kSanedPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class ClientsTest : public ::testing::Test {
  protected:
    // saned and the children it forked for its connections end with the
    // test (the test program adopts orphans: they are reaped here).
    ~ClientsTest() override {
        if (saned_ <= 0) return;
        kill(-saned_, SIGTERM);
        orvo::testing::WaitChild(saned_, 20s);
        kill(-saned_, SIGKILL);
        while (waitpid(-saned_, nullptr, 0) > 0 || errno == EINTR) {
        }
    }

    // `argv` with the backend's environment (`server`) or that of a client
    // of the net backend; output in dir/NAME.out and dir/NAME.err.
    pid_t Start(const std::string& name, const std::vector<std::string>& argv, bool server) {
        return orvo::testing::StartProgram(
            argv, world_.dir / (name + ".out"), world_.dir / (name + ".err"), [&] {
                // A group of its own, which ends with it; killed should the
                // test end first.
                setpgid(0, 0);
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                for (const auto& [key, value] : world_.Env()) setenv(key.c_str(), value.c_str(), 1);
                if (!server) setenv("SANE_CONFIG_DIR", (world_.dir / "client").c_str(), 1);
                // The instrumented backend in programs that are not (sanitizer builds).
                if (*ORVO_SANE_PRELOAD != '\0') {
                    setenv("LD_PRELOAD", ORVO_SANE_PRELOAD, 1);
                    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
                }
                if (chdir(world_.out.c_str()) != 0) _exit(126);
            });
    }
    int Run(const std::string& name, const std::vector<std::string>& argv, bool server) {
        const orvo::testing::ChildEnd end =
            orvo::testing::WaitChild(Start(name, argv, server), 120s);
        EXPECT_FALSE(end.timedOut) << name;
        return end.code;
    }
    std::string Err(const std::string& name) const {
        return ReadText(world_.dir / (name + ".err"));
    }

    // saned serving the backend on this process's own loopback; the net
    // backend's configuration for its clients.
    void StartSaned() {
        const std::string why = EnterOwnNetwork();
        if (!why.empty()) GTEST_SKIP() << "no network of the test's own: " << why;
        WriteText(world_.conf / "saned.conf", "127.0.0.1\n");
        fs::create_directories(world_.dir / "client");
        WriteText(world_.dir / "client" / "dll.conf", "net\n");
        WriteText(world_.dir / "client" / "net.conf", "connect_timeout = 20\n127.0.0.1\n");
        saned_ = Start(
            "saned", {ORVO_SANED, "-l", "-b", "127.0.0.1", "-p", std::to_string(kSanedPort), "-e"},
            true);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!SanedListens()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << Err("saned");
            std::this_thread::sleep_for(5ms);
        }
    }

    // A lineart frame sane_client.py wrote (0 = black).
    Image Frame(const std::string& name) const {
        Image image;
        EXPECT_TRUE(ReadPnm(world_.out / name, &image)) << name;
        image.maxval = 1;
        for (uint8_t& v : image.values) v = v == 0 ? 1 : 0;
        return image;
    }

    // What sane_client.py gets from `device`: the options, a two-sided stack
    // of three cheques with their MICR lines, a cancel and a new scan.
    void ExpectTheClientsScans(const std::string& device) {
        world_.Scenario(FastScenario(R"([{"micr": "T1A."}, {"micr": "T2?B."}, {"micr": "T3C."}])"));
        ASSERT_EQ(Run("python",
                      {"/usr/bin/python3", ORVO_SANE_SOURCE_DIR "/tests/sane_client.py", device,
                       world_.out.string()},
                      device == "orvoscan"),
                  0)
            << Err("python") << Err("saned");
        const std::string options = ReadText(world_.out / "options.txt");
        for (const char* name : {"source\n", "tl-x\n", "tl-y\n", "br-x\n", "br-y\n", "page-width\n",
                                 "page-height\n", "micr\n"}) {
            EXPECT_NE(options.find(name), std::string::npos) << name << options;
        }
        EXPECT_EQ(ReadText(world_.out / "micr.txt"), "0T1A\n0T1A\n1T2?B\n1T2?B\n0T3C\n0T3C\n");
        for (int n = 1; n <= 6; ++n) {
            ExpectSameAsScanned(Frame("page" + std::to_string(n) + ".pgm"),
                                world_.Record((n - 1) / 2, n % 2 == 1));
        }
        EXPECT_FALSE(fs::exists(world_.out / "page7.pgm"));
        // After the cancel a new stack: its first cheque again. Through
        // saned the cancel may come after saned has read the whole frame, and
        // the stack then goes on with the rear.
        EXPECT_EQ(ReadText(world_.out / "again.txt"), "0T1A\n");
        const auto again = Frame("again.pgm").values;
        EXPECT_TRUE(again == Frame("page1.pgm").values ||
                    (device != "orvoscan" && again == Frame("page2.pgm").values));
    }

    World world_;
    pid_t saned_ = -1;
};

TEST_F(ClientsTest, PythonSaneScansTheStackWithTheMicrOfEveryFrame) {
    ExpectTheClientsScans("orvoscan");
}

TEST_F(ClientsTest, PythonSaneThroughSaned) {
    StartSaned();
    ExpectTheClientsScans("net:127.0.0.1:orvoscan:virtual");
}

TEST_F(ClientsTest, ScanimageThroughSanedGetsTheFramesScannedHere) {
    StartSaned();
    world_.Scenario(FastScenario("[{}, {}, {}]"));
    ASSERT_EQ(Run("list", {ORVO_SCANIMAGE, "-L"}, false), 0) << Err("list");
    EXPECT_NE(ReadText(world_.dir / "list.out").find("`net:127.0.0.1:orvoscan:virtual'"),
              std::string::npos);
    const std::vector<std::string> batch = {"--source", "ADF Duplex", "-y", "330"};
    auto scan = [&](const std::string& name, const std::string& device, bool server) {
        std::vector<std::string> argv = {ORVO_SCANIMAGE, "-d", device,
                                         "--batch=" + name + "%d.pnm"};
        argv.insert(argv.end(), batch.begin(), batch.end());
        EXPECT_EQ(Run(name, argv, server), 0) << Err(name) << Err("saned");
        EXPECT_NE(Err(name).find("Batch terminated, 6 pages scanned"), std::string::npos)
            << Err(name);
    };
    scan("net", "net:127.0.0.1:orvoscan:virtual", false);
    scan("here", "orvoscan", true);
    for (int n = 1; n <= 6; ++n) {
        const std::string page = std::to_string(n) + ".pnm";
        EXPECT_EQ(ReadText(world_.out / ("net" + page)), ReadText(world_.out / ("here" + page)))
            << page;
        Image image;
        ASSERT_TRUE(ReadPnm(world_.out / ("net" + page), &image));
        ExpectSameAsScanned(image, world_.Record((n - 1) / 2, n % 2 == 1));
    }
    // An empty feeder ends a batch through the network as it does here.
    world_.Scenario(R"({"terminateAtFirstPoll": true})");
    EXPECT_EQ(
        Run("empty", {ORVO_SCANIMAGE, "-d", "net:127.0.0.1:orvoscan:virtual", "--batch"}, false),
        7);
    EXPECT_NE(Err("empty").find("Document feeder out of documents"), std::string::npos)
        << Err("empty");
}

}  // namespace
}  // namespace sane_e2e
