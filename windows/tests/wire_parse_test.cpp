// What K4TR.dll accepts from the scanning service: response heads, JSON
// objects and base64, each parsed strictly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire_parse.h"

namespace {

// Each head and what is read from it: status, length and whether the
// connection closes, or "refused".
TEST(K4trWire, ResponseHeads) {
    const std::pair<std::string, std::string> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", "200 12 keep"},
        {"HTTP/1.1 409 Conflict\r\ncontent-length:0\r\nConnection: keep-alive, Close\r\n\r\n",
         "409 0 close"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n", "200 1 close"},
        {"HTTP/1.1 200\r\nContent-Length: 3\r\n\r\n", "200 3 keep"},
        {"HTTP/1.1 200 OK\r\n\r\n", "refused"},  // no length
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", "refused"},
        {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", "refused"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\n", "refused"},  // too large
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 1\r\n\r\n", "refused"},
        {"HTTP/2 200 OK\r\nContent-Length: 1\r\n\r\n", "refused"},
        {"HTTP/1.1 20x OK\r\nContent-Length: 1\r\n\r\n", "refused"},
        {"HTTP/1.1 200 OK\r\nNoColon\r\nContent-Length: 1\r\n\r\n", "refused"},
        {"HTTP/1.1 200 OK\r\n Content-Length: 1\r\n\r\n", "refused"},  // folded
        {"HTTP/1.1 200 OK\nContent-Length: 1\r\n\r\n", "refused"},     // bare LF
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", "refused"},       // no blank line
    };
    for (const auto& [head, expected] : cases) {
        wire_head h{};
        const int result = wire_parse_head(head.data(), head.size(), &h);
        EXPECT_EQ(result == -1  ? "refused"
                  : result != 0 ? "result " + std::to_string(result)
                                : std::to_string(h.status) + " " + std::to_string(h.contentLength) +
                                      (h.close ? " close" : " keep"),
                  expected)
            << head;
    }
}

TEST(K4trWire, JsonObjects) {
    const std::string text =
        R"( {"result":-100, "rows":99, "micr":"T0210\"0\\21\u0041", "none":null,)"
        R"( "flag":true, "nested":{"a":[1,2,{"b":"c"}]}, "ratio":1.5e3} )";
    wire_object o{};
    ASSERT_EQ(wire_parse_object(text.data(), text.size(), &o), 0);
    EXPECT_EQ(o.count, 7);
    ASSERT_NE(wire_find(&o, "result"), nullptr);
    EXPECT_EQ(wire_find(&o, "result")->number, -100);
    EXPECT_EQ(wire_find(&o, "rows")->number, 99);
    EXPECT_EQ(wire_find(&o, "none")->kind, WIRE_NULL);
    EXPECT_EQ(wire_find(&o, "flag")->number, 1);
    EXPECT_EQ(wire_find(&o, "nested")->kind, WIRE_OTHER);
    EXPECT_EQ(wire_find(&o, "ratio")->kind, WIRE_OTHER);
    EXPECT_EQ(wire_find(&o, "absent"), nullptr);
    char micr[32];
    EXPECT_EQ(wire_string(wire_find(&o, "micr"), micr, sizeof micr), 11);
    EXPECT_STREQ(micr, "T0210\"0\\21A");
    EXPECT_EQ(wire_string(wire_find(&o, "micr"), micr, 11), -1);  // does not fit

    for (const std::string& bad : std::vector<std::string>{
             "", "[]", "{", "{\"a\":1,}", "{\"a\" 1}", "{\"a\":01}", "{\"a\":1} x", "{'a':1}",
             "{\"a\":\"\x01\"}", "{\"a\":\"\\x\"}", "{\"a\":\"\\u12\"}", "{\"a\":tru}",
             "{\"a\":12345678901234567890}",
             "{\"a\":" + std::string(20, '[') + std::string(20, ']') + "}"}) {
        EXPECT_EQ(wire_parse_object(bad.data(), bad.size(), &o), -1) << bad;
    }
    const std::string zero = R"({"a":"x\u0000y","b":"\u0100"})";
    ASSERT_EQ(wire_parse_object(zero.data(), zero.size(), &o), 0);
    EXPECT_EQ(wire_string(wire_find(&o, "a"), micr, sizeof micr), -1);
    EXPECT_EQ(wire_string(wire_find(&o, "b"), micr, sizeof micr), -1);
}

TEST(K4trWire, Base64BothWays) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {std::string("\xff\x00\x7f", 3), "/wB/"}};
    for (const auto& [bytes, text] : cases) {
        std::vector<char> encoded(text.size() + 1);
        EXPECT_EQ(wire_base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                     bytes.size(), encoded.data()),
                  text.size());
        EXPECT_EQ(std::string(encoded.data()), text);
        unsigned char out[8];
        ASSERT_EQ(wire_base64(text.data(), text.size(), out, sizeof out),
                  static_cast<long>(bytes.size()));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), bytes.size()), bytes);
    }
    unsigned char out[8];
    for (const std::string& bad :
         std::vector<std::string>{"Zg=", "Z===", "Zg==Zg==", "Zm9v!A==", "Zm 9"})
        EXPECT_EQ(wire_base64(bad.data(), bad.size(), out, sizeof out), -1) << bad;
    EXPECT_EQ(wire_base64("Zm9vZm9v", 8, out, 5), -1);  // does not fit
}

TEST(K4trWire, JsonStringsWritten) {
    char out[64];
    size_t used = 0;
    ASSERT_EQ(wire_json_string("Ch\"e\\que\n\xc3\xa9", out, sizeof out, &used), 0);
    EXPECT_STREQ(out, "\"Ch\\\"e\\\\que\\u000a\xc3\xa9\"");
    used = 0;
    EXPECT_EQ(wire_json_string("0123456789", out, 12, &used), -1);
}

}  // namespace
