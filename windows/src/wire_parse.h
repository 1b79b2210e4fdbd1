/* What K4TR.dll reads from the scanning service, parsed strictly and within
 * bounds: the head of an HTTP/1.1 response, a flat JSON object, base64.
 * Plain C without any platform call, so that the same code is built into the
 * Windows DLL and into the native fuzz target. */
#ifndef ORVO_K4TR_WIRE_PARSE_H
#define ORVO_K4TR_WIRE_PARSE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Limits of what the DLL accepts from the service. */
enum {
    WIRE_MAX_HEAD = 16384,            /* status line and headers */
    WIRE_MAX_BODY = 64 * 1024 * 1024, /* a page as base64 in JSON */
    WIRE_MAX_MEMBERS = 32             /* members of one JSON object */
};

/* The head of a response. */
typedef struct {
    int status;           /* 100-599 */
    size_t contentLength; /* from Content-Length, required */
    int close;            /* "Connection: close": the connection ends here */
} wire_head;

/* Parses `len` bytes that end with the blank line (CR LF CR LF). Returns 0 on
 * success, -1 for anything not understood: a status line other than
 * "HTTP/1.x NNN ...", a header line without a colon, a missing, repeated or
 * non-decimal Content-Length or one above WIRE_MAX_BODY, any
 * Transfer-Encoding. */
int wire_parse_head(const char* head, size_t len, wire_head* out);

/* The kinds of JSON value a member may hold. */
typedef enum {
    WIRE_NULL,
    WIRE_BOOL,
    WIRE_NUMBER, /* an integer without fraction or exponent */
    WIRE_STRING,
    WIRE_OTHER /* object or array: skipped */
} wire_kind;

typedef struct {
    const char* key; /* not terminated: keyLen bytes, without escapes */
    size_t keyLen;
    wire_kind kind;
    int64_t number;   /* WIRE_NUMBER, WIRE_BOOL (0 or 1) */
    const char* text; /* WIRE_STRING: the raw text between the quotes */
    size_t textLen;
} wire_member;

typedef struct {
    wire_member members[WIRE_MAX_MEMBERS];
    int count;
} wire_object;

/* Parses a JSON object (whitespace around it allowed, nothing after it).
 * Nested objects and arrays are checked and skipped up to a depth of 16.
 * Returns 0, or -1 when the text is not such an object. */
int wire_parse_object(const char* text, size_t len, wire_object* out);

/* The member named `key` (a key with escapes never matches), or NULL. */
const wire_member* wire_find(const wire_object* object, const char* key);

/* Decodes a member's string (escapes resolved; \u only below 0x100) into
 * `out` of `capacity` bytes, terminated. Returns its length, or -1 when it
 * does not fit or holds a \u escape above 0xFF or a zero byte. */
long wire_string(const wire_member* m, char* out, size_t capacity);

/* Decodes standard base64 (with padding, no line breaks) into `out` of
 * `capacity` bytes. Returns the number of bytes, or -1 when the text is not
 * base64 or does not fit. */
long wire_base64(const char* text, size_t len, unsigned char* out, size_t capacity);
/* The bytes base64 text of `len` characters decodes to at most. */
size_t wire_base64_max(size_t len);
/* Encodes `len` bytes into `out` (capacity at least 4 * ((len + 2) / 3) + 1),
 * terminated; returns the length of the text. */
size_t wire_base64_encode(const unsigned char* data, size_t len, char* out);

/* Appends `text` as a JSON string (quotes, escapes) to `out` of `capacity`
 * bytes at `*used`; returns -1 when it does not fit. */
int wire_json_string(const char* text, char* out, size_t capacity, size_t* used);

#ifdef __cplusplus
}
#endif

#endif
