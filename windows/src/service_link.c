/* HTTP/1.1 over Winsock to the scanning service on a loopback address. One
 * kept connection serves the calls of the program's thread; a call made
 * while another one waits (a Stop button ending the batch from a second
 * thread) gets a connection of its own. */
#include "service_link.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
/* clang-format off */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
/* clang-format on */

#include "host.h"
#include "wire_parse.h"

/* The service when ORVOSCAN_SERVICE does not name another one. */
#ifndef ORVO_DEFAULT_SERVICE_PORT
#define ORVO_DEFAULT_SERVICE_PORT 6570
#endif

/* A receive looks at the call's deadline at least every RECEIVE_LOOK_MS. */
enum { CONNECT_WAIT_MS = 3000, SEND_WAIT_MS = 10000, RECEIVE_LOOK_MS = 1000, MAX_TOKEN = 512 };

static CRITICAL_SECTION g_lock;
static SOCKET g_kept = INVALID_SOCKET;
static int g_started;           /* WSAStartup done */
static char g_address[64];      /* "127.0.0.1:PORT" */
static struct sockaddr_in g_to; /* where the service listens */
static char g_session[40];      /* this process's session with the service */
static char g_token[MAX_TOKEN]; /* the service's token as last read */

void link_attach(void) {
    InitializeCriticalSection(&g_lock);
}

void link_detach(void) {
    /* No Winsock call here: the loader lock is held. The process is ending
     * or the library going; the kept socket goes with the process. */
    DeleteCriticalSection(&g_lock);
}

const char* link_address(void) {
    return g_address[0] ? g_address : "127.0.0.1";
}

static void set_why(char* why, size_t cap, const char* text) {
    if (cap > 0) snprintf(why, cap, "%s", text);
}

/* Reads ORVOSCAN_SERVICE: "http://HOST:PORT" with an optional "/", HOST a
 * loopback IPv4 address or "localhost". The token never leaves the machine. */
static int parse_service(const char* url, struct sockaddr_in* to, char* why, size_t whyCap) {
    char host[64];
    const char* p;
    const char* colon;
    unsigned long port = 0;
    unsigned long addr;
    size_t n;
    if (strncmp(url, "http://", 7) != 0) {
        set_why(why, whyCap, "ORVOSCAN_SERVICE is not http://127.0.0.1:PORT");
        return -1;
    }
    p = url + 7;
    colon = strchr(p, ':');
    if (!colon || colon == p || (size_t)(colon - p) >= sizeof host) {
        set_why(why, whyCap, "ORVOSCAN_SERVICE names no port (http://127.0.0.1:PORT)");
        return -1;
    }
    n = (size_t)(colon - p);
    memcpy(host, p, n);
    host[n] = '\0';
    for (p = colon + 1; *p >= '0' && *p <= '9'; ++p) {
        port = port * 10 + (unsigned long)(*p - '0');
        if (port > 65535) break;
    }
    if (p == colon + 1 || port == 0 || port > 65535 || (*p != '\0' && strcmp(p, "/") != 0)) {
        set_why(why, whyCap, "ORVOSCAN_SERVICE has no valid port (http://127.0.0.1:PORT)");
        return -1;
    }
    addr = strcmp(host, "localhost") == 0 ? htonl(INADDR_LOOPBACK) : inet_addr(host);
    if (addr == INADDR_NONE || (ntohl(addr) >> 24) != 127) {
        set_why(why, whyCap, "ORVOSCAN_SERVICE is not a loopback address (127.0.0.1)");
        return -1;
    }
    memset(to, 0, sizeof *to);
    to->sin_family = AF_INET;
    to->sin_port = htons((unsigned short)port);
    to->sin_addr.s_addr = addr;
    return 0;
}

/* The service's address, the token and this process's session name; read
 * again for every connection made (a service restarted with a new token is
 * found). */
static int configure(int refreshAddress, char* token, size_t tokenCap, char* why, size_t whyCap) {
    char url[256], runtime[1024], tokenPath[1100];
    long n;
    if (!g_started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            set_why(why, whyCap, "Winsock could not be started");
            return -1;
        }
        g_started = 1;
    }
    if (!refreshAddress) {
        /* another thread's call, while the program's thread holds the link */
    } else if (host_env("ORVOSCAN_SERVICE", url, sizeof url) && url[0] != '\0') {
        if (parse_service(url, &g_to, why, whyCap) != 0) return -1;
    } else {
        memset(&g_to, 0, sizeof g_to);
        g_to.sin_family = AF_INET;
        g_to.sin_port = htons(ORVO_DEFAULT_SERVICE_PORT);
        g_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    if (refreshAddress)
        snprintf(g_address, sizeof g_address, "%s:%u", inet_ntoa(g_to.sin_addr),
                 (unsigned)ntohs(g_to.sin_port));
    if (!refreshAddress && g_token[0]) {
        snprintf(token, tokenCap, "%s", g_token);
        return 0;
    }
    if (!host_env("XDG_RUNTIME_DIR", runtime, sizeof runtime) || runtime[0] != '/') {
        set_why(why, whyCap, "XDG_RUNTIME_DIR is not set: the service's token cannot be found");
        return -1;
    }
    snprintf(tokenPath, sizeof tokenPath, "%s/orvoscan/token", runtime);
    n = host_read_unix_file(tokenPath, token, tokenCap);
    while (n > 0 && (token[n - 1] == '\n' || token[n - 1] == '\r' || token[n - 1] == ' '))
        token[--n] = '\0';
    if (n <= 0) {
        set_why(why, whyCap, "the service's token $XDG_RUNTIME_DIR/orvoscan/token cannot be read");
        return -1;
    }
    for (long i = 0; i < n; ++i) {
        if (token[i] <= ' ' || token[i] > '~') {
            set_why(why, whyCap, "the service's token file holds more than a token");
            return -1;
        }
    }
    if (refreshAddress) snprintf(g_token, sizeof g_token, "%s", token);
    if (!g_session[0]) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        snprintf(g_session, sizeof g_session, "%08lx%08lx%08lx",
                 (unsigned long)GetCurrentProcessId(), (unsigned long)now.LowPart,
                 (unsigned long)GetTickCount());
    }
    return 0;
}

static SOCKET open_connection(char* why, size_t whyCap) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1, blocking = 0;
    fd_set writable, failed;
    struct timeval wait;
    int error = 0, len = sizeof error, one = 1;
    if (s == INVALID_SOCKET) {
        set_why(why, whyCap, "no socket could be made");
        return INVALID_SOCKET;
    }
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, (const struct sockaddr*)&g_to, sizeof g_to) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(s);
        snprintf(why, whyCap, "the scanning service at %s does not answer", g_address);
        return INVALID_SOCKET;
    }
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    wait.tv_sec = CONNECT_WAIT_MS / 1000;
    wait.tv_usec = 0;
    if (select(0, NULL, &writable, &failed, &wait) != 1 || FD_ISSET(s, &failed) ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&error, &len) != 0 || error != 0) {
        closesocket(s);
        snprintf(why, whyCap, "the scanning service at %s does not answer", g_address);
        return INVALID_SOCKET;
    }
    ioctlsocket(s, FIONBIO, &blocking);
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&one, sizeof one);
    {
        DWORD sendWait = SEND_WAIT_MS, receiveWait = RECEIVE_LOOK_MS;
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char*)&sendWait, sizeof sendWait);
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&receiveWait, sizeof receiveWait);
    }
    return s;
}

static int send_all(SOCKET s, const char* data, size_t len) {
    while (len > 0) {
        int chunk = len > 65536 ? 65536 : (int)len;
        int sent = send(s, data, chunk, 0);
        if (sent <= 0) return -1;
        data += sent;
        len -= (size_t)sent;
    }
    return 0;
}

/* Receives into buf up to `cap` bytes before `deadline` (GetTickCount64):
 * the count, 0 at the end of the connection, -1 on error, -2 too late, -3
 * nothing yet (look again). */
static int recv_until(SOCKET s, char* buf, int cap, ULONGLONG deadline) {
    int got;
    if (GetTickCount64() >= deadline) return -2;
    /* A blocking receive bounded by the socket's own time-out of a second
     * (set when the connection was made). */
    got = recv(s, buf, cap, 0);
    if (got >= 0) return got;
    if (WSAGetLastError() == WSAETIMEDOUT) return GetTickCount64() >= deadline ? -2 : -3;
    return -1;
}

/* One exchange on `s`. Returns 0, -1 (failed; why says so), or -4 when the
 * connection had ended before any byte of an answer (a kept connection the
 * service closed while idle: the caller may try once more). */
static int exchange(SOCKET s, const char* request, size_t requestLen, const char* body,
                    size_t bodyLen, unsigned waitMs, link_reply* reply, int* keep, char* why,
                    size_t whyCap) {
    char head[WIRE_MAX_HEAD];
    size_t have = 0, headLen = 0;
    wire_head parsed;
    ULONGLONG deadline = GetTickCount64() + waitMs;
    if (send_all(s, request, requestLen) != 0 || (bodyLen && send_all(s, body, bodyLen) != 0)) {
        snprintf(why, whyCap, "the scanning service at %s closed the connection", g_address);
        return -4;
    }
    while (headLen == 0) {
        int got;
        size_t i;
        if (have == sizeof head) {
            set_why(why, whyCap, "the scanning service's answer has an overlong head");
            return -1;
        }
        got = recv_until(s, head + have, (int)(sizeof head - have), deadline);
        if (got == -3) continue;
        if (got == -2) {
            snprintf(why, whyCap, "the scanning service at %s did not answer within %u s",
                     g_address, waitMs / 1000);
            return -1;
        }
        if (got <= 0) {
            snprintf(why, whyCap, "the scanning service at %s closed the connection", g_address);
            return have == 0 ? -4 : -1;
        }
        for (i = have >= 3 ? have - 3 : 0; i + 4 <= have + (size_t)got; ++i) {
            if (memcmp(head + i, "\r\n\r\n", 4) == 0) {
                headLen = i + 4;
                break;
            }
        }
        have += (size_t)got;
    }
    if (wire_parse_head(head, headLen, &parsed) != 0) {
        set_why(why, whyCap, "the scanning service's answer was not understood");
        return -1;
    }
    if (have - headLen > parsed.contentLength) {
        set_why(why, whyCap, "the scanning service sent more than its answer");
        return -1;
    }
    reply->body = (char*)malloc(parsed.contentLength + 1);
    if (!reply->body) {
        set_why(why, whyCap, "no memory for the scanning service's answer");
        return -1;
    }
    memcpy(reply->body, head + headLen, have - headLen);
    reply->len = have - headLen;
    while (reply->len < parsed.contentLength) {
        size_t want = parsed.contentLength - reply->len;
        int got =
            recv_until(s, reply->body + reply->len, want > 1 << 20 ? 1 << 20 : (int)want, deadline);
        if (got == -3) continue;
        if (got <= 0) {
            snprintf(why, whyCap, "the scanning service at %s %s", g_address,
                     got == -2 ? "did not finish its answer in time" : "closed the connection");
            link_free(reply);
            return -1;
        }
        reply->len += (size_t)got;
    }
    reply->body[reply->len] = '\0';
    reply->status = parsed.status;
    *keep = !parsed.close;
    return 0;
}

int link_post(const char* path, const char* body, unsigned waitMs, link_reply* reply, char* why,
              size_t whyCap) {
    char token[MAX_TOKEN];
    char request[1024];
    size_t bodyLen = body ? strlen(body) : 0;
    int requestLen, owner, result = -1, attempt;
    reply->status = 0;
    reply->body = NULL;
    reply->len = 0;
    /* The program's thread uses the kept connection; a call from another
     * thread while it is busy gets a connection of its own. */
    owner = TryEnterCriticalSection(&g_lock);
    /* Address and token are read again for every new connection (a service
     * restarted with a new token is found); a kept one goes on with them. */
    if (configure((owner && g_kept == INVALID_SOCKET) || !g_address[0], token, sizeof token, why,
                  whyCap) != 0) {
        if (owner) LeaveCriticalSection(&g_lock);
        return -1;
    }
    requestLen = snprintf(request, sizeof request,
                          "POST %s HTTP/1.1\r\nHost: %s\r\nAuthorization: Bearer %s\r\n"
                          "Orvo-Session: %s\r\nContent-Type: application/json\r\n"
                          "Content-Length: %lu\r\n\r\n",
                          path, g_address, token, g_session, (unsigned long)bodyLen);
    SecureZeroMemory(token, sizeof token);
    if (requestLen <= 0 || requestLen >= (int)sizeof request) {
        set_why(why, whyCap, "the request does not fit");
        if (owner) LeaveCriticalSection(&g_lock);
        return -1;
    }
    for (attempt = 0; attempt < 2; ++attempt) {
        SOCKET s = owner ? g_kept : INVALID_SOCKET;
        int reused = s != INVALID_SOCKET, keep = 0;
        if (!reused) s = open_connection(why, whyCap);
        if (s == INVALID_SOCKET) break;
        result = exchange(s, request, (size_t)requestLen, body, bodyLen, waitMs, reply, &keep, why,
                          whyCap);
        if (owner && result == 0 && keep && reply->status != 401) {
            g_kept = s;
        } else {
            closesocket(s);
            if (owner) g_kept = INVALID_SOCKET;
        }
        if (result == -4 && reused) continue; /* the idle connection had ended: once more */
        break;
    }
    SecureZeroMemory(request, sizeof request);
    if (owner) LeaveCriticalSection(&g_lock);
    return result == 0 ? 0 : -1;
}

void link_free(link_reply* reply) {
    free(reply->body);
    reply->body = NULL;
    reply->len = 0;
}
