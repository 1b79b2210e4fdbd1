// What every route family of orvoscand shares: the service's state, the
// caller a request comes from (after the access checks), the table routes
// are added to, and the JSON answers.
//
// A route family lives in a file of its own (routes_*.cpp) and is added by
// one function, called from AddAllRoutes (server.cpp):
//
//     void AddScannerRoutes(Routes& routes, Service& service) {
//         routes.Get(R"(/v1/scanner)", [&service](const Call& call) {
//             call.Json(200, {{"busy", false}});
//         });
//     }
//
// Every route added through Routes passes the access checks first (Host,
// Origin, token); a handler only runs for a caller that passed them, and
// `call.caller` says who it is. Routes marked Access::Public (the client
// script and the demo page) are Host-checked only.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "config.h"

namespace orvoscand {

class Scanner;    // scanner.h: the driver, one user at a time
class BatchList;  // batches.h: the batches of this service

// Who sent a request that passed the checks: a browser page of an allowed
// origin, or a program that showed the token. Batches belong to the caller
// that started them (`key`).
struct Caller {
    std::string origin;  // "https://teller.example" (empty for a token caller)
    bool token = false;  // the request carried the service's token
    std::string key;     // "origin https://..." or "token"
};

// The Host header values this service answers to ("127.0.0.1:6570", ...) and
// its own origins ("http://127.0.0.1:6570", ...), from its listening sockets.
struct HostNames {
    std::set<std::string> hosts;
    std::set<std::string> ownOrigins;
};

// The service: built once by main(), shared by every route family.
struct Service {
    Config config;
    std::string spoolDir;  // $XDG_RUNTIME_DIR/orvoscan/ (ends in '/')
    std::string token;     // the secret in <spoolDir>token
    std::string webDir;    // where orvoscan.js and the demo page are read from
    Scanner* scanner = nullptr;
    BatchList* batches = nullptr;
    HostNames names;

    // Idle time: the last request seen, and the streams still open.
    std::atomic<int64_t> lastActivityMs{0};
    std::atomic<int> openStreams{0};
};

// One request on its way through a handler.
struct Call {
    const httplib::Request& request;
    httplib::Response& response;
    Caller caller;

    // A JSON answer with `status`.
    void Json(int status, const nlohmann::json& body) const;
    // {"error": text} with `status`.
    void Error(int status, const std::string& text) const;
    // The path parameter `i` (1-based, from the route's pattern).
    std::string Match(int i) const { return request.matches[i].str(); }
    // The request body as a JSON object; false (with a 400 answer sent) when
    // it is no JSON object.
    bool BodyObject(nlohmann::json* body) const;
};

enum class Access {
    Checked,  // Host, Origin or token (the API)
    Public,   // Host only (the client script, the demo page)
};

using Handler = std::function<void(const Call& call)>;

// The route table of the server: each route runs the access checks, then
// the handler. Patterns are ECMAScript regular expressions of the whole path.
class Routes {
  public:
    Routes(httplib::Server& server, Service& service) : server_(server), service_(service) {}

    void Get(const std::string& pattern, Handler handler, Access access = Access::Checked);
    void Post(const std::string& pattern, Handler handler);
    void Put(const std::string& pattern, Handler handler);
    void Delete(const std::string& pattern, Handler handler);

    Service& service() { return service_; }

  private:
    httplib::Server::Handler Wrap(Handler handler, Access access);

    httplib::Server& server_;
    Service& service_;
};

// The route families.
void AddScannerRoutes(Routes& routes, Service& service);  // routes_scanner.cpp
void AddBatchRoutes(Routes& routes, Service& service);    // routes_batches.cpp
void AddClientRoutes(Routes& routes, Service& service);   // routes_client.cpp
void AddDriverRoutes(Routes& routes, Service& service);   // routes_driver.cpp

// Milliseconds of a steady clock, for idle times.
int64_t NowMs();

}  // namespace orvoscand
