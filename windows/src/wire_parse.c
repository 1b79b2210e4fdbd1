/* Strict, bounded parsing of the scanning service's responses. */
#include "wire_parse.h"

#include <string.h>

static int lower(int c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

/* Whether `name` (n bytes) equals `word` regardless of letter case. */
static int same_word(const char* name, size_t n, const char* word) {
    size_t i;
    if (strlen(word) != n) return 0;
    for (i = 0; i < n; ++i)
        if (lower((unsigned char)name[i]) != word[i]) return 0;
    return 1;
}

static int is_blank(char c) {
    return c == ' ' || c == '\t';
}

/* A value with the blanks around it taken off. */
static void trim(const char** s, size_t* n) {
    while (*n > 0 && is_blank(**s)) ++*s, --*n;
    while (*n > 0 && is_blank((*s)[*n - 1])) --*n;
}

/* Whether a comma-separated header value holds `token` (any letter case). */
static int has_token(const char* v, size_t n, const char* token) {
    size_t start = 0, i;
    for (i = 0; i <= n; ++i) {
        if (i == n || v[i] == ',') {
            const char* t = v + start;
            size_t tn = i - start;
            trim(&t, &tn);
            if (same_word(t, tn, token)) return 1;
            start = i + 1;
        }
    }
    return 0;
}

int wire_parse_head(const char* head, size_t len, wire_head* out) {
    size_t pos = 0, i;
    int status = 0, haveLength = 0;
    size_t contentLength = 0;
    int close = 0;
    if (len < 4 || len > WIRE_MAX_HEAD || memcmp(head + len - 4, "\r\n\r\n", 4) != 0) return -1;
    /* Status line: HTTP/1.0 or HTTP/1.1, a blank, three digits, then a blank
     * and a reason or the line end. */
    if (len < 12 || memcmp(head, "HTTP/1.", 7) != 0 || (head[7] != '0' && head[7] != '1') ||
        head[8] != ' ')
        return -1;
    for (i = 9; i < 12; ++i) {
        if (head[i] < '0' || head[i] > '9') return -1;
        status = status * 10 + (head[i] - '0');
    }
    if (status < 100 || status > 599) return -1;
    if (head[7] == '0') close = 1;
    pos = 12;
    if (head[pos] != ' ' && head[pos] != '\r') return -1;
    while (pos < len && head[pos] != '\r') {
        if (head[pos] == '\n') return -1;
        ++pos;
    }
    if (pos + 1 >= len || head[pos + 1] != '\n') return -1;
    pos += 2;
    /* Header lines up to the blank line. */
    while (pos < len - 2) {
        size_t end = pos, colon = 0;
        const char *name, *value;
        size_t nameLen, valueLen;
        while (end < len && head[end] != '\r') {
            if (head[end] == '\n' || head[end] == '\0') return -1;
            if (colon == 0 && head[end] == ':') colon = end;
            ++end;
        }
        if (end + 1 >= len || head[end + 1] != '\n' || colon == 0 || colon == pos) return -1;
        name = head + pos;
        nameLen = colon - pos;
        for (i = 0; i < nameLen; ++i)
            if (is_blank(name[i])) return -1; /* no blank inside or before the name */
        value = head + colon + 1;
        valueLen = end - colon - 1;
        trim(&value, &valueLen);
        if (same_word(name, nameLen, "content-length")) {
            if (haveLength || valueLen == 0 || valueLen > 10) return -1;
            contentLength = 0;
            for (i = 0; i < valueLen; ++i) {
                if (value[i] < '0' || value[i] > '9') return -1;
                contentLength = contentLength * 10 + (size_t)(value[i] - '0');
            }
            if (contentLength > WIRE_MAX_BODY) return -1;
            haveLength = 1;
        } else if (same_word(name, nameLen, "transfer-encoding")) {
            return -1;
        } else if (same_word(name, nameLen, "connection")) {
            if (has_token(value, valueLen, "close")) close = 1;
        }
        pos = end + 2;
    }
    if (!haveLength) return -1;
    out->status = status;
    out->contentLength = contentLength;
    out->close = close;
    return 0;
}

/* The JSON reader: a cursor over the text. */
typedef struct {
    const char* s;
    size_t n;
    size_t pos;
} cursor;

static void skip_ws(cursor* c) {
    while (c->pos < c->n && (c->s[c->pos] == ' ' || c->s[c->pos] == '\t' || c->s[c->pos] == '\n' ||
                             c->s[c->pos] == '\r'))
        ++c->pos;
}

static int hex_digit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

/* A string at the cursor (on its opening quote): its raw text. Checks the
 * escapes and that no control character appears. */
static int read_string(cursor* c, const char** text, size_t* len) {
    size_t start;
    if (c->pos >= c->n || c->s[c->pos] != '"') return -1;
    start = ++c->pos;
    while (c->pos < c->n) {
        unsigned char ch = (unsigned char)c->s[c->pos];
        if (ch == '"') {
            *text = c->s + start;
            *len = c->pos - start;
            ++c->pos;
            return 0;
        }
        if (ch < 0x20) return -1;
        if (ch == '\\') {
            char e;
            if (++c->pos >= c->n) return -1;
            e = c->s[c->pos];
            if (e == 'u') {
                int k;
                if (c->pos + 4 >= c->n) return -1;
                for (k = 1; k <= 4; ++k)
                    if (hex_digit(c->s[c->pos + (size_t)k]) < 0) return -1;
                c->pos += 4;
            } else if (!strchr("\"\\/bfnrt", e) || e == '\0') {
                return -1;
            }
        }
        ++c->pos;
    }
    return -1;
}

static int literal(cursor* c, const char* word) {
    size_t k = strlen(word);
    if (c->n - c->pos < k || memcmp(c->s + c->pos, word, k) != 0) return -1;
    c->pos += k;
    return 0;
}

/* A number: integers are kept; fractions and exponents are accepted by the
 * grammar but make the value WIRE_OTHER. */
static int read_number(cursor* c, wire_member* m) {
    int negative = 0, digits = 0, whole = 1;
    uint64_t value = 0;
    if (c->pos < c->n && c->s[c->pos] == '-') negative = 1, ++c->pos;
    if (c->pos < c->n && c->s[c->pos] == '0') {
        ++c->pos;
        digits = 1;
    } else {
        while (c->pos < c->n && c->s[c->pos] >= '0' && c->s[c->pos] <= '9') {
            if (++digits > 18) return -1;
            value = value * 10 + (uint64_t)(c->s[c->pos] - '0');
            ++c->pos;
        }
    }
    if (digits == 0) return -1;
    if (c->pos < c->n && c->s[c->pos] == '.') {
        int frac = 0;
        ++c->pos;
        whole = 0;
        while (c->pos < c->n && c->s[c->pos] >= '0' && c->s[c->pos] <= '9') ++c->pos, ++frac;
        if (frac == 0) return -1;
    }
    if (c->pos < c->n && (c->s[c->pos] == 'e' || c->s[c->pos] == 'E')) {
        int exp = 0;
        ++c->pos;
        whole = 0;
        if (c->pos < c->n && (c->s[c->pos] == '+' || c->s[c->pos] == '-')) ++c->pos;
        while (c->pos < c->n && c->s[c->pos] >= '0' && c->s[c->pos] <= '9') ++c->pos, ++exp;
        if (exp == 0) return -1;
    }
    m->kind = whole ? WIRE_NUMBER : WIRE_OTHER;
    m->number = negative ? -(int64_t)value : (int64_t)value;
    return 0;
}

static int read_value(cursor* c, wire_member* m, int depth);

/* An object or array at the cursor, checked and skipped. */
static int skip_nested(cursor* c, int depth) {
    char open = c->s[c->pos], close = open == '{' ? '}' : ']';
    wire_member scratch;
    if (depth > 16) return -1;
    ++c->pos;
    skip_ws(c);
    if (c->pos < c->n && c->s[c->pos] == close) {
        ++c->pos;
        return 0;
    }
    for (;;) {
        if (open == '{') {
            const char* key;
            size_t keyLen;
            if (read_string(c, &key, &keyLen) != 0) return -1;
            skip_ws(c);
            if (c->pos >= c->n || c->s[c->pos] != ':') return -1;
            ++c->pos;
            skip_ws(c);
        }
        if (read_value(c, &scratch, depth + 1) != 0) return -1;
        skip_ws(c);
        if (c->pos >= c->n) return -1;
        if (c->s[c->pos] == close) {
            ++c->pos;
            return 0;
        }
        if (c->s[c->pos] != ',') return -1;
        ++c->pos;
        skip_ws(c);
    }
}

static int read_value(cursor* c, wire_member* m, int depth) {
    char ch;
    if (c->pos >= c->n) return -1;
    ch = c->s[c->pos];
    m->text = NULL;
    m->textLen = 0;
    m->number = 0;
    if (ch == '"') {
        m->kind = WIRE_STRING;
        return read_string(c, &m->text, &m->textLen);
    }
    if (ch == '{' || ch == '[') {
        m->kind = WIRE_OTHER;
        return skip_nested(c, depth);
    }
    if (ch == 'n') {
        m->kind = WIRE_NULL;
        return literal(c, "null");
    }
    if (ch == 't' || ch == 'f') {
        m->kind = WIRE_BOOL;
        m->number = ch == 't';
        return literal(c, ch == 't' ? "true" : "false");
    }
    if (ch == '-' || (ch >= '0' && ch <= '9')) return read_number(c, m);
    return -1;
}

int wire_parse_object(const char* text, size_t len, wire_object* out) {
    cursor c;
    c.s = text;
    c.n = len;
    c.pos = 0;
    out->count = 0;
    skip_ws(&c);
    if (c.pos >= c.n || c.s[c.pos] != '{') return -1;
    ++c.pos;
    skip_ws(&c);
    if (c.pos < c.n && c.s[c.pos] == '}') {
        ++c.pos;
    } else {
        for (;;) {
            wire_member m;
            if (read_string(&c, &m.key, &m.keyLen) != 0) return -1;
            skip_ws(&c);
            if (c.pos >= c.n || c.s[c.pos] != ':') return -1;
            ++c.pos;
            skip_ws(&c);
            if (read_value(&c, &m, 1) != 0) return -1;
            if (out->count >= WIRE_MAX_MEMBERS) return -1;
            out->members[out->count++] = m;
            skip_ws(&c);
            if (c.pos >= c.n) return -1;
            if (c.s[c.pos] == '}') {
                ++c.pos;
                break;
            }
            if (c.s[c.pos] != ',') return -1;
            ++c.pos;
            skip_ws(&c);
        }
    }
    skip_ws(&c);
    return c.pos == c.n ? 0 : -1;
}

const wire_member* wire_find(const wire_object* object, const char* key) {
    int i;
    size_t k = strlen(key);
    for (i = 0; i < object->count; ++i) {
        const wire_member* m = &object->members[i];
        if (m->keyLen == k && memcmp(m->key, key, k) == 0) return m;
    }
    return NULL;
}

long wire_string(const wire_member* m, char* out, size_t capacity) {
    size_t i, used = 0;
    if (m == NULL || m->kind != WIRE_STRING || capacity == 0) return -1;
    for (i = 0; i < m->textLen; ++i) {
        char ch = m->text[i];
        if (ch == '\\') {
            char e = m->text[++i];
            switch (e) {
                case 'b':
                    ch = '\b';
                    break;
                case 'f':
                    ch = '\f';
                    break;
                case 'n':
                    ch = '\n';
                    break;
                case 'r':
                    ch = '\r';
                    break;
                case 't':
                    ch = '\t';
                    break;
                case 'u': {
                    int v = (hex_digit(m->text[i + 1]) << 12) | (hex_digit(m->text[i + 2]) << 8) |
                            (hex_digit(m->text[i + 3]) << 4) | hex_digit(m->text[i + 4]);
                    if (v <= 0 || v > 0xFF) return -1;
                    ch = (char)v;
                    i += 4;
                    break;
                }
                default:
                    ch = e;
                    break;
            }
        }
        if (ch == '\0' || used + 1 >= capacity) return -1;
        out[used++] = ch;
    }
    out[used] = '\0';
    return (long)used;
}

static int b64_value(unsigned char ch) {
    if (ch >= 'A' && ch <= 'Z') return ch - 'A';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9') return ch - '0' + 52;
    if (ch == '+') return 62;
    if (ch == '/') return 63;
    return -1;
}

size_t wire_base64_max(size_t len) {
    return len / 4 * 3;
}

long wire_base64(const char* text, size_t len, unsigned char* out, size_t capacity) {
    size_t i, used = 0;
    if (len % 4 != 0) return -1;
    for (i = 0; i < len; i += 4) {
        int v[4], k, pad = 0;
        for (k = 0; k < 4; ++k) {
            unsigned char ch = (unsigned char)text[i + (size_t)k];
            if (ch == '=' && i + 4 == len && k >= 2) {
                v[k] = 0;
                ++pad;
            } else if (pad > 0 || (v[k] = b64_value(ch)) < 0) {
                return -1;
            }
        }
        if (used + (size_t)(3 - pad) > capacity) return -1;
        out[used++] = (unsigned char)((v[0] << 2) | (v[1] >> 4));
        if (pad < 2) out[used++] = (unsigned char)(((v[1] & 15) << 4) | (v[2] >> 2));
        if (pad < 1) out[used++] = (unsigned char)(((v[2] & 3) << 6) | v[3]);
    }
    return (long)used;
}

size_t wire_base64_encode(const unsigned char* data, size_t len, char* out) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i, used = 0;
    for (i = 0; i + 2 < len; i += 3) {
        unsigned v = (unsigned)data[i] << 16 | (unsigned)data[i + 1] << 8 | data[i + 2];
        out[used++] = alphabet[v >> 18];
        out[used++] = alphabet[(v >> 12) & 63];
        out[used++] = alphabet[(v >> 6) & 63];
        out[used++] = alphabet[v & 63];
    }
    if (i < len) {
        unsigned v = (unsigned)data[i] << 16 | (i + 1 < len ? (unsigned)data[i + 1] << 8 : 0);
        out[used++] = alphabet[v >> 18];
        out[used++] = alphabet[(v >> 12) & 63];
        out[used++] = i + 1 < len ? alphabet[(v >> 6) & 63] : '=';
        out[used++] = '=';
    }
    out[used] = '\0';
    return used;
}

int wire_json_string(const char* text, char* out, size_t capacity, size_t* used) {
    static const char hex[] = "0123456789abcdef";
    size_t u = *used;
    const unsigned char* p;
    if (u + 1 >= capacity) return -1;
    out[u++] = '"';
    for (p = (const unsigned char*)text; *p; ++p) {
        if (*p == '"' || *p == '\\') {
            if (u + 2 >= capacity) return -1;
            out[u++] = '\\';
            out[u++] = (char)*p;
        } else if (*p < 0x20) {
            /* Control characters as \u00XX; other bytes go as they are (the
             * caller hands UTF-8 text). */
            if (u + 6 >= capacity) return -1;
            out[u++] = '\\';
            out[u++] = 'u';
            out[u++] = '0';
            out[u++] = '0';
            out[u++] = hex[*p >> 4];
            out[u++] = hex[*p & 15];
        } else {
            if (u + 1 >= capacity) return -1;
            out[u++] = (char)*p;
        }
    }
    if (u + 2 > capacity) return -1;
    out[u++] = '"';
    out[u] = '\0';
    *used = u;
    return 0;
}
