// orvoscand over HTTP against the virtual scanner: a batch against orvoscan
// scan, and the requests the service refuses.
#include <set>
#include <sstream>

#include "service_fixture.h"

namespace orvoscand_e2e {
namespace {

std::string Page(const fs::path& path) {
    return ReadText(path.string());
}

std::set<std::string> Files(const fs::path& dir) {
    std::set<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// A batch through the service writes what `orvoscan scan` writes for the same
// stack, byte for byte; the events carry each cheque once with its MICR line
// and the served pages are those files.
TEST_F(ServiceTest, BatchMatchesOrvoscanAndServesItsPages) {
    Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
                 "documents": [{"micr": "T021000021T 1234567890U 0101"},
                               {"micr": "T0210?0021T 12_4567890U 0102"},
                               {"frontDefects": {"skew": 4}}]})");
    const fs::path viaService = home_ / "service-out";
    const fs::path viaTool = dir_ / "tool-out";
    fs::create_directories(viaService);
    fs::create_directories(viaTool);
    const pid_t tool = orvo::testing::StartProgram(
        {ORVOSCAN_TOOL, "scan", "--profile", "Check", "--output", (viaTool / "A.tif").string()},
        dir_ / "tool.out", dir_ / "tool.err", [this] { Environment(); });
    ASSERT_EQ(orvo::testing::WaitChild(tool, 60s).code, 0) << ReadText(dir_ / "tool.err");

    Start();
    const std::string id = Post({{"profile", "Check"}, {"outputDir", viaService.string()}});
    const std::vector<SseEvent> events = Events(id);
    ASSERT_EQ(events.size(), 4u);
    // The MICR lines as orvoscan recorded them ("%07d%1d" and the line).
    std::vector<std::string> micr;
    std::istringstream records(Page(viaTool / "micr.txt"));
    for (std::string line; std::getline(records, line);)
        micr.push_back(line.substr(8, line.size() - 9));
    ASSERT_EQ(micr.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        const SseEvent& e = events[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(e.name, "cheque");
        EXPECT_EQ(e.id, n);
        EXPECT_EQ(e.data["number"], n);
        EXPECT_EQ(e.data["micr"], micr[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(e.data["micrReadable"], n != 2);
        EXPECT_EQ(e.data["defects"].size() > 0, n == 3) << e.data["defects"];
        for (const char* side : {"front", "rear"}) {
            auto r = Client().Get(e.data[side]["tiff"].get<std::string>());
            ASSERT_TRUE(r);
            ASSERT_EQ(r->status, 200);
            EXPECT_EQ(r->get_header_value("Content-Type"), "image/tiff");
            const std::string name = e.data[side]["name"].get<std::string>() + ".tif";
            EXPECT_EQ(r->body, Page(viaTool / name)) << name;
            auto png = Client().Get(e.data[side]["png"].get<std::string>());
            ASSERT_TRUE(png);
            EXPECT_EQ(png->body.substr(1, 3), "PNG");
        }
    }
    EXPECT_EQ(events[3].name, "end");
    EXPECT_EQ(events[3].data["reason"], "feeder-empty");
    EXPECT_EQ(events[3].data["cheques"], 3);
    // Every file of the output, micr.txt and quality.txt too, as orvoscan wrote it.
    EXPECT_EQ(Files(viaService), Files(viaTool));
    for (const std::string& name : Files(viaTool))
        EXPECT_EQ(Page(viaService / name), Page(viaTool / name)) << name;

    // The whole batch as JSON, and a client that reconnects after event 2.
    const json batch = Body(Client().Get("/v1/batches/" + id));
    EXPECT_EQ(batch["state"], "ended");
    EXPECT_EQ(batch["cheques"].size(), 3u);
    const std::vector<SseEvent> missed = Events(id, 2);
    ASSERT_EQ(missed.size(), 2u);
    EXPECT_EQ(missed[0].id, 3);
    EXPECT_EQ(missed[1].name, "end");
}

// Requests the service refuses, each with a JSON error.
TEST_F(ServiceTest, Refusals) {
    fs::create_directories(home_ / "scans");
    fs::create_directories(home_ / ".ssh");
    Config("AllowOrigin=https://teller.example\nReconnectGraceSeconds=30\n");
    Start();
    const std::string own = "127.0.0.1:" + std::to_string(port_);
    struct Case {
        const char* what;
        std::string method, path, body;
        httplib::Headers headers;
        int status;
        std::string error;  // part of the error text
    };
    const std::string bearer = "Bearer " + token_;
    const std::vector<Case> cases = {
        {"no token", "GET", "/v1/scanner", "", {}, 401, "Authorization"},
        {"wrong token", "GET", "/v1/scanner", "", {{"Authorization", "Bearer 00"}}, 401, ""},
        {"rebinding Host",
         "GET",
         "/v1/scanner",
         "",
         {{"Authorization", bearer}, {"Host", "attacker.example:" + std::to_string(port_)}},
         403,
         "Host"},
        {"other origin",
         "GET",
         "/v1/scanner",
         "",
         {{"Origin", "https://evil.example"}},
         403,
         "evil.example"},
        {"malformed JSON",
         "POST",
         "/v1/batches",
         "{\"profile\": ",
         {{"Authorization", bearer}},
         400,
         "JSON"},
        {"no object", "POST", "/v1/batches", "[1,2]", {{"Authorization", bearer}}, 400, "JSON"},
        {"huge body",
         "POST",
         "/v1/batches",
         std::string(200 * 1024, ' '),
         {{"Authorization", bearer}},
         413,
         "large"},
        {"unknown path", "GET", "/v1/nothing", "", {{"Authorization", bearer}}, 404, ""},
        {"unknown profile",
         "POST",
         "/v1/batches",
         R"({"profile": "Nope"})",
         {{"Authorization", bearer}},
         404,
         "Nope"},
        {"bad start number",
         "POST",
         "/v1/batches",
         R"({"profile": "Check", "startNumber": -1})",
         {{"Authorization", bearer}},
         422,
         "startNumber"},
        {"relative outputDir",
         "POST",
         "/v1/batches",
         R"({"profile": "Check", "outputDir": "scans"})",
         {{"Authorization", bearer}},
         422,
         "absolute"},
        {"outputDir outside home",
         "POST",
         "/v1/batches",
         R"({"profile": "Check", "outputDir": ")" +
             (home_ / "scans" / ".." / ".." / "..").string() + R"("})",
         {{"Authorization", bearer}},
         422,
         "not below"},
        {"hidden outputDir",
         "POST",
         "/v1/batches",
         R"({"profile": "Check", "outputDir": ")" + (home_ / ".ssh").string() + R"("})",
         {{"Authorization", bearer}},
         422,
         "hidden"},
        {"refused profile value",
         "PUT",
         "/v1/profiles/Check",
         R"({"ScanWidth": 9999})",
         {{"Authorization", bearer}},
         422,
         "ScanWidth=9999"},
        {"unknown batch",
         "GET",
         "/v1/batches/00000000000000000000000000000000",
         "",
         {{"Authorization", bearer}},
         404,
         "no such batch"},
        {"traversal in batch id",
         "GET",
         "/v1/batches/..%2f..%2ftoken",
         "",
         {{"Authorization", bearer}},
         404,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        httplib::Client client("127.0.0.1", port_);
        httplib::Headers headers = c.headers;
        if (headers.find("Host") == headers.end()) headers.emplace("Host", own);
        httplib::Result r = c.method == "GET" ? client.Get(c.path, headers)
                            : c.method == "POST"
                                ? client.Post(c.path, headers, c.body, "application/json")
                                : client.Put(c.path, headers, c.body, "application/json");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        const json body = Body(r);
        ASSERT_TRUE(body.is_object() && body.contains("error")) << r->body;
        EXPECT_NE(body["error"].get<std::string>().find(c.error), std::string::npos) << r->body;
    }
    // The refused value names key, value and range; nothing was stored.
    auto r = Client().Put("/v1/profiles/Check", R"({"ScanWidth": 9999})", "application/json");
    EXPECT_EQ(Body(r)["key"], "ScanWidth");
    EXPECT_EQ(Body(r)["range"], "1-2592");
    EXPECT_EQ(Body(Client().Get("/v1/profiles/Check"))["settings"]["ScanWidth"], 1728);
    // A value taken is stored and answered with the profile's settings.
    r = Client().Put("/v1/profiles/Check", R"({"settings": {"BWSlice1": 100}})",
                     "application/json");
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(Body(r)["settings"]["BWSlice1"], 100);
    EXPECT_EQ(Body(r)["settings"]["ScanWidth"], 1728);
    // A value stored by another program that the scanner cannot take stops the
    // batch before anything is fed.
    WriteSettings("");
    std::ofstream(sys_ / "OrvoScan.ini", std::ios::app) << "[Wide]\nScanWidth=4000\n";
    r = Client().Post("/v1/batches", R"({"profile": "Wide"})", "application/json");
    EXPECT_EQ(r->status, 422);
    EXPECT_NE(Body(r)["error"].get<std::string>().find("ScanWidth=4000"), std::string::npos);

    // An allowed origin gets CORS headers and its own batches; the token
    // caller does not see them, and the other way round.
    auto page = Client("https://teller.example");
    r = page.Get("/v1/scanner");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Access-Control-Allow-Origin"), "https://teller.example");
    httplib::Headers preflight = {{"Origin", "https://teller.example"},
                                  {"Access-Control-Request-Method", "POST"},
                                  {"Access-Control-Request-Private-Network", "true"}};
    r = httplib::Client("127.0.0.1", port_).Options("/v1/batches", preflight);
    EXPECT_EQ(r->status, 204);
    EXPECT_EQ(r->get_header_value("Access-Control-Allow-Private-Network"), "true");
    r = page.Post("/v1/batches", R"({"profile": "Check"})", "application/json");
    ASSERT_EQ(r->status, 201) << r->body;
    const std::string id = Body(r)["id"];
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(Client().Get("/v1/batches/" + id)->status, 404);
    EXPECT_EQ(Client("https://teller.example").Get("/v1/batches/" + id)->status, 200);
}

// What keeps the service from starting, each with exit status 1 and the
// reason; a wrong option is status 2.
TEST_F(ServiceTest, RefusesToStart) {
    struct Case {
        std::vector<std::string> args;
        const char* config;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {{"--listen", "0.0.0.0:0"}, "", 1, "not a loopback address"},
        {{}, "Listen=192.0.2.1:0\n", 1, "AllowRemote=yes"},
        {{}, "AllowOrigins=https://x.example\n", 1, "unknown key \"AllowOrigins\""},
        {{"--allow-origin", "teller.example"}, "", 2, "--allow-origin teller.example"},
        {{"--listen", "127.0.0.1"}, "", 2, "no ADDRESS:PORT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Config(c.config);
        std::vector<std::string> argv = {ORVOSCAND, "--no-system-config", "--config",
                                         (dir_ / "orvoscand.conf").string()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const pid_t pid = orvo::testing::StartProgram(
            argv, dir_ / "refused.out", dir_ / "refused.err", [this] { Environment(); });
        EXPECT_EQ(orvo::testing::WaitChild(pid, 30s).code, c.code);
        EXPECT_NE(ReadText(dir_ / "refused.err").find(c.message), std::string::npos)
            << ReadText(dir_ / "refused.err");
    }
    // One service per user: a second one names the first.
    Config("");
    Start();
    const pid_t second = orvo::testing::StartProgram(
        {ORVOSCAND, "--no-system-config", "--listen", "127.0.0.1:0"}, dir_ / "second.out",
        dir_ / "second.err", [this] { Environment(); });
    EXPECT_EQ(orvo::testing::WaitChild(second, 30s).code, 1);
    EXPECT_NE(ReadText(dir_ / "second.err").find("orvoscand serves this user already"),
              std::string::npos)
        << ReadText(dir_ / "second.err");
}

}  // namespace
}  // namespace orvoscand_e2e
