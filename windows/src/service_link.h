/* K4TR.dll's link to the scanning service: HTTP/1.1 requests over Winsock
 * to a loopback address, with the service's token, each wait bounded. */
#ifndef ORVO_K4TR_SERVICE_LINK_H
#define ORVO_K4TR_SERVICE_LINK_H

#include <stddef.h>

/* How long a call may wait for its answer. */
typedef enum {
    LINK_WAIT_SHORT = 60 * 1000,       /* settings, driver start, batch start */
    LINK_WAIT_PAGE = 180 * 1000,       /* a page: the scanner's own time-outs fit */
    LINK_WAIT_DIALOG = 8 * 3600 * 1000 /* a dialog waits for the operator */
} link_wait;

/* What the service answered. */
typedef struct {
    int status; /* HTTP status */
    char* body; /* Content-Length bytes, terminated; free with link_free */
    size_t len;
} link_reply;

/* Sets up the process's link once (called from DllMain). */
void link_attach(void);
void link_detach(void);

/* POSTs a JSON `body` (NULL: none) to `path` ("/v1/driver/...") and waits at
 * most `waitMs` for the answer. Returns 0 with the answer, or -1 with the
 * reason in `why` (no service configured or reachable, no token, the
 * connection broke, the answer was not understood or came too late). */
int link_post(const char* path, const char* body, unsigned waitMs, link_reply* reply, char* why,
              size_t whyCap);
void link_free(link_reply* reply);

/* The service's address as the program would find it ("127.0.0.1:PORT"),
 * for messages. */
const char* link_address(void);

#endif
