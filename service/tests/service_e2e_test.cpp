// orvoscand over HTTP against the virtual scanner: a batch against orvoscan
// scan, and the requests the service refuses.
#include "service_fixture.h"

namespace orvoscand_e2e {
namespace {

// A batch through the service writes what `orvoscan scan` writes for the same
// stack, byte for byte; the events carry each cheque once with its MICR line
// and the served pages are those files.
TEST_F(ServiceTest, BatchMatchesOrvoscanAndServesItsPages) {
    Scenario(R"("documents": [{"micr": "T021000021T 1234567890U 0101"},
                              {"micr": "T0210?0021T 12_4567890U 0102"},
                              {"frontDefects": {"skew": 4}}])");
    const fs::path viaService = home_ / "service-out";
    const fs::path viaTool = dir_ / "tool-out";
    for (const fs::path& out : {viaService, viaTool}) fs::create_directories(out);
    const pid_t tool =
        Run({ORVOSCAN_TOOL, "scan", "--profile", "Check", "--output", (viaTool / "A.tif").string()},
            "tool");
    ASSERT_EQ(orvo::testing::WaitChild(tool, 60s).code, 0) << Err("tool");

    Start();
    const std::string id = Post({{"profile", "Check"}, {"outputDir", viaService.string()}});
    const std::vector<SseEvent> events = Events(id);
    ASSERT_EQ(events.size(), 4u);
    // The MICR lines as orvoscan recorded them ("%07d%1d" and the line).
    std::vector<std::string> micr;
    std::istringstream records(ReadText(viaTool / "micr.txt"));
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
            ASSERT_TRUE(r && r->status == 200);
            EXPECT_EQ(r->get_header_value("Content-Type"), "image/tiff");
            const std::string name = e.data[side]["name"].get<std::string>() + ".tif";
            EXPECT_EQ(r->body, ReadText(viaTool / name)) << name;
            auto png = Client().Get(e.data[side]["png"].get<std::string>());
            ASSERT_TRUE(png);
            EXPECT_EQ(png->body.substr(1, 3), "PNG");
        }
    }
    EXPECT_EQ(events[3].name, "end");
    EXPECT_EQ(events[3].data["reason"], "feeder-empty");
    EXPECT_EQ(events[3].data["cheques"], 3);
    // Every file of the output, micr.txt and quality.txt too, as orvoscan wrote it.
    EXPECT_EQ(DirEntries(viaService), DirEntries(viaTool));
    for (const std::string& name : DirEntries(viaTool))
        EXPECT_EQ(ReadText(viaService / name), ReadText(viaTool / name)) << name;

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
    for (const char* sub : {"scans", ".ssh"}) fs::create_directories(home_ / sub);
    Config("AllowOrigin=https://teller.example\nReconnectGraceSeconds=30\n");
    // A value stored by another program that the scanner cannot take.
    std::ofstream(sys_ / "OrvoScan.ini", std::ios::app) << "[Wide]\nScanWidth=4000\n";
    Start();
    struct Case {
        const char* what;
        const char* request;  // method and path
        int status;
        const char* error;  // part of the error text
        std::string body = "";
        httplib::Headers headers = {{"Authorization", "TOKEN"}};
    };
    const auto batch = [](const fs::path& outputDir) {
        return json{{"profile", "Check"}, {"outputDir", outputDir}}.dump();
    };
    const httplib::Headers rebound = {{"Authorization", "TOKEN"},
                                      {"Host", "attacker.example:" + std::to_string(port_)}};
    const httplib::Headers evil = {{"Origin", "https://evil.example"}};
    const std::vector<Case> cases = {
        {"no token", "GET /v1/scanner", 401, "Authorization", "", {}},
        {"wrong token", "GET /v1/scanner", 401, "", "", {{"Authorization", "Bearer 00"}}},
        {"rebinding Host", "GET /v1/scanner", 403, "Host", "", rebound},
        {"other origin", "GET /v1/scanner", 403, "evil.example", "", evil},
        {"malformed JSON", "POST /v1/batches", 400, "JSON", "{\"profile\": "},
        {"no object", "POST /v1/batches", 400, "JSON", "[1,2]"},
        {"huge body", "POST /v1/batches", 413, "large", std::string(200 * 1024, ' ')},
        {"unknown path", "GET /v1/nothing", 404, ""},
        {"unknown profile", "POST /v1/batches", 404, "Nope", R"({"profile": "Nope"})"},
        {"bad start number", "POST /v1/batches", 422, "startNumber",
         R"({"profile": "Check", "startNumber": -1})"},
        {"relative outputDir", "POST /v1/batches", 422, "absolute", batch("scans")},
        {"outputDir outside home", "POST /v1/batches", 422, "not below",
         batch(home_ / "scans" / ".." / ".." / "..")},
        {"hidden outputDir", "POST /v1/batches", 422, "hidden", batch(home_ / ".ssh")},
        {"refused profile value", "PUT /v1/profiles/Check", 422, "ScanWidth=9999",
         R"({"ScanWidth": 9999})"},
        {"profile the scanner cannot take", "POST /v1/batches", 422, "ScanWidth=4000",
         R"({"profile": "Wide"})"},
        {"unknown batch", "GET /v1/batches/00000000000000000000000000000000", 404, "no such batch"},
        {"traversal in batch id", "GET /v1/batches/..%2f..%2ftoken", 404, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        httplib::Headers headers;
        for (const auto& [key, value] : c.headers)
            headers.emplace(key, value == "TOKEN" ? "Bearer " + token_ : value);
        if (headers.find("Host") == headers.end())
            headers.emplace("Host", "127.0.0.1:" + std::to_string(port_));
        const std::string request = c.request;
        const std::string method = request.substr(0, request.find(' '));
        const std::string path = request.substr(method.size() + 1);
        httplib::Client client("127.0.0.1", port_);
        httplib::Result r = method == "GET" ? client.Get(path, headers)
                            : method == "POST"
                                ? client.Post(path, headers, c.body, "application/json")
                                : client.Put(path, headers, c.body, "application/json");
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
    EXPECT_EQ(page.Get("/v1/batches/" + id)->status, 200);
}

// What keeps the service from starting, each with exit status 1 and the
// reason; a wrong option is status 2. One service per user: a second one
// names the first.
TEST_F(ServiceTest, RefusesToStart) {
    struct Case {
        std::vector<std::string> args;
        const char* config;
        int code;
        const char* message;
        bool running = false;  // a service of this user runs already
    };
    const Case cases[] = {
        {{"--listen", "0.0.0.0:0"}, "", 1, "not a loopback address"},
        {{}, "Listen=192.0.2.1:0\n", 1, "AllowRemote=yes"},
        {{}, "AllowOrigins=https://x.example\n", 1, "unknown key \"AllowOrigins\""},
        {{"--allow-origin", "teller.example"}, "", 2, "--allow-origin teller.example"},
        {{"--listen", "127.0.0.1"}, "", 2, "no ADDRESS:PORT"},
        {{"--listen", "127.0.0.1:0"}, "", 1, "orvoscand serves this user already", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Config(c.config);
        if (c.running) Start();
        EXPECT_EQ(orvo::testing::WaitChild(Run(Service(c.args), "refused"), 30s).code, c.code);
        EXPECT_NE(Err("refused").find(c.message), std::string::npos) << Err("refused");
    }
}

}  // namespace
}  // namespace orvoscand_e2e
