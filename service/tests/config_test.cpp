// orvoscand.conf and the batch request as the service reads them.
#include <gtest/gtest.h>

#include "config.h"
#include "request.h"

namespace orvoscand {
namespace {

TEST(ConfigTest, ReadsEachKeyAndRefusesWhatItDoesNotKnow) {
    struct Case {
        const char* text;
        bool ok;
        const char* error;  // part of the message
    };
    const Case cases[] = {
        {"# comment\n\nAllowOrigin=https://A.example\nallow ORIGIN = https://b.example:8443\n",
         false, "unknown key"},
        {"AllowOrigin=https://Teller.Example:8443\n", true, ""},
        {"AllowOrigin=https://teller.example/path\n", false,
         "AllowOrigin=https://teller.example/path"},
        {"AllowOrigin=ftp://teller.example\n", false, "no origin"},
        {"Listen=127.0.0.1:6570\nListen=[::1]:6570\n", true, ""},
        {"Listen=127.0.0.1\n", false, "Listen=127.0.0.1"},
        {"Listen=127.0.0.1:70000\n", false, "ADDRESS:PORT"},
        {"AllowRemote=maybe\n", false, "neither yes nor no"},
        {"IdleExitSeconds=-1\n", false, "IdleExitSeconds"},
        {"OutputRoot=relative\n", false, "absolute"},
        {"[orvoscand]\nRetentionMinutes=5\n", true, ""},
        {"[other]\nRetentionMinutes=5\n", false, "unknown section [other]"},
        {"Bogus=1\n", false, "unknown key \"Bogus\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Config config;
        std::string error;
        EXPECT_EQ(ApplyConfigText(c.text, "f.conf", &config, &error), c.ok) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    // Repeated keys add up, in file order, without duplicates; names are
    // taken in lower case.
    Config config;
    std::string error;
    ASSERT_TRUE(ApplyConfigText(
        "AllowOrigin=https://A.example\nAllowOrigin=http://127.0.0.1:8000\n"
        "AllowOrigin=https://a.example\nListen=[::1]:0\nAllowRemote=yes\nIdleExitSeconds=0\n",
        "f.conf", &config, &error))
        << error;
    EXPECT_EQ(config.allowOrigins,
              (std::vector<std::string>{"https://a.example", "http://127.0.0.1:8000"}));
    ASSERT_EQ(config.listen.size(), 1u);
    EXPECT_EQ(config.listen[0].host, "::1");
    EXPECT_EQ(config.listen[0].port, 0);
    EXPECT_TRUE(config.allowRemote);
    EXPECT_EQ(config.idleExitSeconds, 0);
}

TEST(ConfigTest, LoopbackHosts) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},    {"127.8.9.10", true}, {"::1", true},       {"localhost", true},
        {"LocalHost", true},    {"0.0.0.0", false},   {"10.0.0.1", false}, {"::", false},
        {"example.com", false}, {"", false}};
    for (const auto& [host, loopback] : cases) EXPECT_EQ(IsLoopbackHost(host), loopback) << host;
}

TEST(RequestTest, BatchRequestFields) {
    struct Case {
        const char* body;
        int status;
        const char* error;
    };
    const Case cases[] = {
        {R"({"profile": "Check"})", 0, ""},
        {R"({"profile": "Check", "startNumber": 9999999, "outputDir": null})", 0, ""},
        {R"({"profile": "Check", "startNumber": 10000000})", 422, "startNumber"},
        {R"({"profile": "Check", "startNumber": 1.5})", 422, "startNumber"},
        {R"({"profile": ""})", 422, "profile"},
        {R"({"startNumber": 3})", 422, "profile"},
        {R"({"profile": "Check", "outputDir": 7})", 422, "outputDir"},
        {R"({"profile": "Check", "extra": 1})", 422, "unknown field \"extra\""},
        {R"(["Check"])", 400, "JSON object"},
        {R"({"profile": "Ch)", 400, "JSON object"},
        {"", 400, "JSON object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        BatchRequest request;
        std::string error;
        EXPECT_EQ(ParseBatchRequest(c.body, &request, &error), c.status) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace orvoscand
