// Who may use the service. A request must name the service itself in its
// Host header (a page of another site that had its name resolved to the
// loopback address sends that site's name: DNS rebinding); a request with an
// Origin header must come from an allowed origin, and from a connection of
// this service's user; any other request must carry the token.
#pragma once

#include <httplib.h>

#include <string>

#include "service.h"

namespace orvoscand {

struct AccessResult {
    int status = 0;  // 0 passed; 401 or 403 refused
    std::string error;
    Caller caller;
};

// Adds the names of a listening socket on `port` bound to `address`.
void AddHostNames(HostNames* names, const std::string& address, int port);

AccessResult CheckAccess(const httplib::Request& request, const Service& service, Access access);

// The origin of a browser's request: its Origin header, or the service's own
// origin for a same-origin request (which browsers send without Origin but
// with "Sec-Fetch-Site: same-origin"). Empty when it is none.
std::string RequestOrigin(const httplib::Request& request);

// Whether the loopback TCP connection whose far end is `address`:`port`
// belongs to a process of this user (looked up in /proc/net/tcp{,6}).
bool PeerIsOwnUser(const std::string& address, int port);

// Constant-time comparison of secrets.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace orvoscand
