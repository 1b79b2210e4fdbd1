#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "access.h"

namespace orvoscand {

namespace {

// Request bodies are small JSON objects.
constexpr std::size_t kMaxBody = 64 * 1024;
// Worker threads of one server: event streams hold one each.
constexpr std::size_t kThreads = 24;

std::string AddressText(const sockaddr_storage& ss, int* port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        *port = ntohs(a->sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        *port = ntohs(a->sin6_port);
    }
    return text;
}

}  // namespace

std::vector<ListenSocket> InheritedSockets() {
    std::vector<ListenSocket> sockets;
    const int n = sd_listen_fds(1);
    for (int i = 0; i < n; ++i) {
        const int fd = SD_LISTEN_FDS_START + i;
        if (sd_is_socket(fd, AF_UNSPEC, SOCK_STREAM, 1) <= 0) continue;
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) continue;
        ListenSocket s;
        s.fd = fd;
        s.address = AddressText(ss, &s.port);
        s.inherited = true;
        sockets.push_back(s);
    }
    return sockets;
}

ListenSocket BindSocket(const ListenAddress& address, std::string* error) {
    ListenSocket s;
    sockaddr_storage ss{};
    socklen_t len = 0;
    std::string host = address.host == "localhost" ? "127.0.0.1" : address.host;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(address.port));
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(address.port));
        len = sizeof *v6;
    } else {
        *error = host + " is no address";
        return s;
    }
    const int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return s;
    }
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (ss.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(fd, 64) != 0) {
        *error = host + ":" + std::to_string(address.port) + ": " + std::strerror(errno);
        close(fd);
        return s;
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
    s.fd = fd;
    s.address = AddressText(bound, &s.port);
    return s;
}

bool SocketServer::ServeOn(int fd) {
    // Answers go out at once, head and body (K4TR.dll makes a call per
    // page); accepted connections take this from the listening socket.
    const int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    svr_sock_ = fd;
    return listen_after_bind();
}

void SetUpServer(httplib::Server& server, Service& service) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(kMaxBody);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_max_count(1000);
    server.set_idle_interval(0, 200000);

    // CORS preflight: allowed origins only.
    server.Options(
        R"(/v1/.*)", [&service](const httplib::Request& request, httplib::Response& response) {
            service.lastActivityMs = NowMs();
            AccessResult verdict = CheckAccess(request, service, Access::Public);
            const std::string origin = RequestOrigin(request);
            bool allowed = verdict.status == 0 && !origin.empty();
            if (allowed) {
                std::string o = origin;
                for (char& c : o)
                    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                allowed = service.names.ownOrigins.count(o) != 0;
                for (const std::string& a : service.config.allowOrigins)
                    allowed = allowed || a == o;
            }
            if (!allowed) {
                std::fprintf(stderr, "orvoscand: refused preflight of %s from origin %s\n",
                             request.path.c_str(), origin.c_str());
                response.status = 403;
                response.set_content(R"({"error":"origin not allowed"})", "application/json");
                return;
            }
            response.status = 204;
            response.set_header("Access-Control-Allow-Origin", origin);
            response.set_header("Vary", "Origin");
            response.set_header("Access-Control-Allow-Methods", "GET, POST, PUT, DELETE");
            response.set_header("Access-Control-Allow-Headers",
                                "Content-Type, Authorization, Last-Event-ID");
            response.set_header("Access-Control-Max-Age", "600");
            if (request.get_header_value("Access-Control-Request-Private-Network") == "true")
                response.set_header("Access-Control-Allow-Private-Network", "true");
        });

    // Every failure without a body of its own gets a JSON one.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        const char* text = response.status == 404   ? "no such resource"
                           : response.status == 413 ? "request body too large"
                           : response.status == 405 ? "method not allowed"
                           : response.status == 400 ? "malformed request"
                                                    : "request failed";
        response.set_content(nlohmann::json{{"error", text}}.dump(), "application/json");
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            response.status = 500;
            response.set_content(R"({"error":"internal error"})", "application/json");
        });

    Routes routes(server, service);
    AddScannerRoutes(routes, service);
    AddBatchRoutes(routes, service);
    AddClientRoutes(routes, service);
    AddDriverRoutes(routes, service);
}

}  // namespace orvoscand
