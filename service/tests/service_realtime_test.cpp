// orvoscand over HTTP against the virtual scanner, where cheques come at the
// pace of real time or the service is restarted: how batches end, cancelling,
// the scanner shared with orvoscan, a client that goes away, a killed service.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "service_fixture.h"

namespace orvoscand_e2e {
namespace {

// How a batch ends, with the driver's message.
TEST_F(ServiceTest, EndReasons) {
    struct Case {
        const char* scenario;
        const char* reason;
        int cheques;
        const char* message;
    };
    const Case cases[] = {
        {R"("documents": [{}, {}, {"jam": "jam1"}, {}])", "jam", 2, "JAM1 error"},
        {R"("terminateAtFirstPoll": true)", "feeder-empty", 0, ""},
        {R"("documents": [{}, {"jam": "doubleFeed"}])", "double-feed", 1, "Double feed error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        // The scenario is read when the ASPI layer starts: a service per case.
        Scenario(c.scenario);
        Stop();
        Start();
        const std::vector<SseEvent> events = Events(Post());
        ASSERT_FALSE(events.empty());
        const json end = events.back().data;
        EXPECT_EQ(end["reason"], c.reason);
        EXPECT_EQ(end["cheques"], c.cheques);
        EXPECT_NE(end["message"].get<std::string>().find(c.message), std::string::npos)
            << end["message"];
    }
}

// DELETE while a cheque comes in: that cheque is delivered whole, then the
// batch ends; nothing torn is left in the spool.
TEST_F(ServiceTest, CancelCompletesTheChequeInProgress) {
    Scenario(R"("defaultStack": 10)", true);
    Start();
    const std::string id = Post();
    ASSERT_EQ(Events(id, 0, 1).size(), 1u);
    auto r = Client().Delete("/v1/batches/" + id);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 202);
    const std::vector<SseEvent> events = Events(id);
    const json end = events.back().data;
    EXPECT_EQ(end["reason"], "cancelled");
    const int cheques = end["cheques"];
    EXPECT_LT(cheques, 10);
    EXPECT_EQ(static_cast<int>(events.size()), cheques + 1);
    const fs::path spool = runtime_ / "orvoscan" / "batches" / id;
    int pages = 0;
    for (const std::string& name : DirEntries(spool)) pages += fs::path(name).extension() == ".tif";
    EXPECT_EQ(pages, 2 * cheques);
    // DELETE of the ended batch removes its pages.
    r = Client().Delete("/v1/batches/" + id);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 204);
    EXPECT_FALSE(fs::exists(spool));
    EXPECT_EQ(Client().Get("/v1/batches/" + id)->status, 404);
}

// The scanner is used by one program at a time: a batch request while
// orvoscan scans gets 409 naming it, and orvoscan is refused while the
// service scans.
TEST_F(ServiceTest, OneProgramAtATime) {
    Scenario(R"("defaultStack": 6, "deviceNode": ")" + (dir_ / "sg-node").string() + "\"", true);
    Start();
    fs::create_directories(dir_ / "tool-out");
    const auto scan = [this](const char* page, const char* name) {
        return Run({ORVOSCAN_TOOL, "scan", "--profile", "Check", "--output",
                    (dir_ / "tool-out" / page).string()},
                   name);
    };
    const pid_t tool = scan("A.tif", "tool");
    // Once orvoscan has its first page it holds the scanner.
    ASSERT_TRUE(WaitFor([this] { return !ReadText(dir_ / "tool-out" / "micr.txt").empty(); }, 30s));
    auto r = Client().Post("/v1/batches", R"({"profile": "Check"})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 409);
    EXPECT_NE(Body(r)["error"].get<std::string>().find("orvoscan"), std::string::npos) << r->body;
    kill(tool, SIGINT);
    orvo::testing::WaitChild(tool, 60s);

    const std::string id = Post();
    ASSERT_EQ(Events(id, 0, 1).size(), 1u);
    EXPECT_NE(orvo::testing::WaitChild(scan("B.tif", "tool2"), 60s).code, 0);
    EXPECT_NE(Err("tool2").find("Scanner in use"), std::string::npos) << Err("tool2");
    Client().Delete("/v1/batches/" + id);
}

// A client that goes away mid-batch: the batch ends after the cheque in
// progress, with every cheque whole in micr.txt.
TEST_F(ServiceTest, ClientThatGoesAwayEndsTheBatch) {
    Config("ReconnectGraceSeconds=1\n");
    Scenario(R"("defaultStack": 20)", true);
    fs::create_directories(home_ / "scans");
    Start();
    const std::string id = Post({{"profile", "Check"}, {"outputDir", (home_ / "scans").string()}});
    ASSERT_EQ(Events(id, 0, 1).size(), 1u);  // then the connection is dropped
    json batch;
    ASSERT_TRUE(WaitFor(
        [&] { return (batch = Body(Client().Get("/v1/batches/" + id)))["state"] == "ended"; },
        30s));
    EXPECT_EQ(batch["end"]["reason"], "disconnected");
    const int cheques = batch["end"]["cheques"];
    EXPECT_LT(cheques, 20);
    const std::string micr = ReadText(home_ / "scans" / "micr.txt");
    EXPECT_EQ(std::count(micr.begin(), micr.end(), '\n'), cheques);
    EXPECT_TRUE(micr.empty() || micr.substr(micr.size() - 2) == "\r\n");
}

// kill -9 during a batch: the next start frees the scanner and empties the
// spool.
TEST_F(ServiceTest, KilledServiceLeavesNothingBehind) {
    const std::string node = R"("deviceNode": ")" + (dir_ / "sg-node").string() + "\"";
    Scenario(R"("defaultStack": 20, )" + node, true);
    Start();
    const std::string id = Post();
    ASSERT_EQ(Events(id, 0, 1).size(), 1u);
    EXPECT_EQ(Stop(SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(fs::exists(runtime_ / "orvoscan" / "batches" / id));
    Scenario(R"("defaultStack": 2, )" + node);
    Start();
    EXPECT_TRUE(DirEntries(runtime_ / "orvoscan" / "batches").empty());
    EXPECT_EQ(Events(Post()).back().data["reason"], "feeder-empty");
    // A clean stop removes the token and the pages.
    EXPECT_EQ(Stop(), 0);
    EXPECT_FALSE(fs::exists(runtime_ / "orvoscan" / "token"));
    EXPECT_TRUE(DirEntries(runtime_ / "orvoscan" / "batches").empty());
}

// Started through its socket unit, it serves the socket systemd passes and
// ends itself once idle.
TEST_F(ServiceTest, SocketActivatedServiceEndsWhenIdle) {
    Config("IdleExitSeconds=1\n");
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
    pid_ = Run(Service(), "service", [fd] {
        dup2(fd, 3);
        setenv("LISTEN_FDS", "1", 1);
        setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    });
    close(fd);
    ASSERT_TRUE(WaitFor([this] { return fs::exists(runtime_ / "orvoscan" / "token"); }))
        << Err("service");
    ReadToken();
    auto r = Client().Get("/v1/scanner");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(orvo::testing::WaitChild(pid_, 20s).code, 0);
    pid_ = -1;
    EXPECT_NE(Err("service").find("idle"), std::string::npos);
}

}  // namespace
}  // namespace orvoscand_e2e
