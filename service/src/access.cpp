#include "access.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace orvoscand {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The hex form /proc/net/tcp uses for an IPv4 address and port.
bool ProcEndpoint(const std::string& address, int port, std::string* v4, std::string* v6) {
    char text[64];
    in_addr a4{};
    in6_addr a6{};
    if (inet_pton(AF_INET, address.c_str(), &a4) == 1) {
        std::snprintf(text, sizeof text, "%08X:%04X", a4.s_addr, port);
        *v4 = text;
        // The same address as an IPv4-mapped IPv6 address, on a v6 socket.
        const uint32_t w[4] = {0, 0, htonl(0xFFFF), a4.s_addr};
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", w[0], w[1], w[2], w[3], port);
        *v6 = text;
        return true;
    }
    if (inet_pton(AF_INET6, address.c_str(), &a6) == 1) {
        uint32_t w[4];
        std::memcpy(w, &a6, sizeof w);
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", w[0], w[1], w[2], w[3], port);
        *v6 = text;
        return true;
    }
    return false;
}

// The uid of the socket whose local end is `endpoint` in a /proc/net table;
// -1 when none.
long OwnerIn(const char* table, const std::string& endpoint) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits;
        long uid = -1;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (local == endpoint) return uid;
    }
    return -1;
}

}  // namespace

void AddHostNames(HostNames* names, const std::string& address, int port) {
    const std::string p = ":" + std::to_string(port);
    auto add = [&](const std::string& host) {
        names->hosts.insert(host + p);
        names->ownOrigins.insert("http://" + host + p);
    };
    add("127.0.0.1");
    add("localhost");
    add("[::1]");
    if (address.find(':') != std::string::npos) {
        add("[" + Lower(address) + "]");
    } else if (!address.empty()) {
        add(Lower(address));
    }
}

std::string RequestOrigin(const httplib::Request& request) {
    if (request.has_header("Origin")) return request.get_header_value("Origin");
    if (request.get_header_value("Sec-Fetch-Site") == "same-origin")
        return "http://" + Lower(request.get_header_value("Host"));
    return {};
}

bool PeerIsOwnUser(const std::string& address, int port) {
    std::string v4;
    std::string v6;
    if (!ProcEndpoint(address, port, &v4, &v6)) return false;
    long uid = -1;
    if (!v4.empty()) uid = OwnerIn("/proc/net/tcp", v4);
    if (uid < 0 && !v6.empty()) uid = OwnerIn("/proc/net/tcp6", v6);
    return uid >= 0 && static_cast<uid_t>(uid) == geteuid();
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

AccessResult CheckAccess(const httplib::Request& request, const Service& service, Access access) {
    const HostNames& names = service.names;
    AccessResult result;
    const std::string host = Lower(request.get_header_value("Host"));
    if (names.hosts.count(host) == 0) {
        result.status = 403;
        result.error = "this service answers only to its own address (Host: 127.0.0.1:PORT)";
        return result;
    }
    if (access == Access::Public) return result;

    const std::string origin = RequestOrigin(request);
    if (!origin.empty()) {
        const std::string o = Lower(origin);
        bool allowed = names.ownOrigins.count(o) != 0;
        for (const std::string& a : service.config.allowOrigins) allowed = allowed || a == o;
        if (!allowed) {
            result.status = 403;
            result.error = "origin " + origin + " is not allowed";
            return result;
        }
        if (IsLoopbackHost(request.remote_addr) &&
            !PeerIsOwnUser(request.remote_addr, request.remote_port)) {
            result.status = 403;
            result.error = "the connection does not belong to this service's user";
            return result;
        }
        result.caller.origin = o;
        result.caller.key = "origin " + o;
        return result;
    }
    const std::string auth = request.get_header_value("Authorization");
    const std::string bearer = "Bearer ";
    if (auth.size() <= bearer.size() || auth.compare(0, bearer.size(), bearer) != 0 ||
        !SameSecret(auth.substr(bearer.size()), service.token)) {
        result.status = 401;
        result.error =
            "a request without Origin needs \"Authorization: Bearer <token>\" (the token is in "
            "$XDG_RUNTIME_DIR/orvoscan/token)";
        return result;
    }
    result.caller.token = true;
    result.caller.key = "token";
    return result;
}

}  // namespace orvoscand
