// The HTTP side of orvoscand: one server per listening socket (an inherited
// socket-activated one or one bound here), each with every route family.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "service.h"

namespace orvoscand {

// A listening socket: inherited from systemd, or bound here.
struct ListenSocket {
    int fd = -1;
    std::string address;  // as bound ("127.0.0.1", "::1")
    int port = 0;
    bool inherited = false;
};

// The sockets systemd passed (socket activation); empty when none.
std::vector<ListenSocket> InheritedSockets();
// Binds and listens on `address`; fd -1 with the reason in *error.
ListenSocket BindSocket(const ListenAddress& address, std::string* error);

// An httplib server that serves on a socket it did not bind itself.
class SocketServer : public httplib::Server {
  public:
    // Serves on `fd` (listening already) until Stop(); false on a failure.
    bool ServeOn(int fd);
};

// Sets the server's limits, the preflight answers, the JSON error answers
// and every route family.
void SetUpServer(httplib::Server& server, Service& service);

}  // namespace orvoscand
