/* K4TR.dll: the driver's 24 exports for Windows programs under Wine. Every
 * call runs on the native driver inside the scanning service (orvoscand),
 * reached over loopback; what the program gets back (result codes, texts,
 * MICR data, page files and in-memory pages) is the driver's. Buffers and
 * texts returned belong to this library and stay valid until the next call
 * that replaces them. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "host.h"
#include "k4tr_exports.h"
#include "service_link.h"
#include "wire_parse.h"

#define ORVO_DECLARE(type, name, params) type ORVO_CALL name params;
ORVO_EXPORTS(ORVO_DECLARE)

/* Result codes and device error bits of the driver. */
enum {
    RESULT_DRIVER = -2,
    RESULT_DEVICE = -100,
    RESULT_NO_SCSI = -6,
    RESULT_RESOURCE = -9,
    RESULT_PAGE_FILE = -12,
    RESULT_BUSY = -13,
    RESULT_SETTINGS = -14
};
#define DEVICE_UNKNOWN 0x80000000u

enum { MICR_AREA = 50, TEXT_MAX = 1024, WHY_MAX = 300 };

/* What the program reads back through the accessors. */
static char g_version[64];
static char g_micr[MICR_AREA];
static int g_haveMicr;
static int g_micrSize;
static unsigned char* g_page;
static int g_imageSize, g_imageWidth, g_imageHeight, g_pitchSrc, g_pitchDst;
static unsigned char g_bitsPerPixel;
/* Set when the service went away during a batch: the device error word the
 * program reads until the next batch or driver start. */
static volatile LONG g_lost;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        link_attach();
    } else if (reason == DLL_PROCESS_DETACH) {
        link_detach();
        free(g_page);
        g_page = NULL;
    }
    return TRUE;
}

/* A call's answer: the service's JSON object. */
typedef struct {
    link_reply reply;
    wire_object object;
} answer;

typedef enum { CALL_OK, CALL_UNREACHABLE, CALL_BUSY } call_outcome;

/* Runs the export `name` on the service. CALL_UNREACHABLE with the reason in
 * `why` when there was no answer, or one that was not the driver's. */
static call_outcome call(const char* name, const char* body, unsigned waitMs, answer* a,
                         char* why) {
    char path[96];
    snprintf(path, sizeof path, "/v1/driver/%s", name);
    if (link_post(path, body, waitMs, &a->reply, why, WHY_MAX) != 0) return CALL_UNREACHABLE;
    if (a->reply.status == 409) {
        snprintf(why, WHY_MAX, "the scanning service's driver is in use by another program");
        link_free(&a->reply);
        return CALL_BUSY;
    }
    if (a->reply.status != 200 || wire_parse_object(a->reply.body, a->reply.len, &a->object) != 0) {
        char error[200] = "";
        wire_object o;
        if (wire_parse_object(a->reply.body, a->reply.len, &o) == 0)
            wire_string(wire_find(&o, "error"), error, sizeof error);
        if (a->reply.status == 401 || a->reply.status == 403)
            snprintf(why, WHY_MAX, "the scanning service at %s refused the token%s%s",
                     link_address(), error[0] ? ": " : "", error);
        else
            snprintf(why, WHY_MAX, "the scanning service at %s answered %d%s%s", link_address(),
                     a->reply.status, error[0] ? ": " : "", error);
        link_free(&a->reply);
        return CALL_UNREACHABLE;
    }
    return CALL_OK;
}

static void done(answer* a) {
    link_free(&a->reply);
}

static int64_t number(const answer* a, const char* key, int64_t fallback) {
    const wire_member* m = wire_find(&a->object, key);
    return m && m->kind == WIRE_NUMBER ? m->number : fallback;
}

/* Decodes the base64 member `key` into a new heap block; NULL when the
 * member is null or missing, or (with *bad set) not base64. */
static unsigned char* bytes(const answer* a, const char* key, long* len, int* bad) {
    const wire_member* m = wire_find(&a->object, key);
    unsigned char* data;
    *len = 0;
    if (!m || m->kind != WIRE_STRING) return NULL;
    data = (unsigned char*)malloc(wire_base64_max(m->textLen) + 1);
    if (!data || (*len = wire_base64(m->text, m->textLen, data, wire_base64_max(m->textLen))) < 0) {
        free(data);
        *len = 0;
        *bad = 1;
        return NULL;
    }
    return data;
}

/* Notes the reason the service could not be used in the driver's log.txt. */
static void log_reason(const char* call, const char* why) {
    char line[WHY_MAX + 64];
    snprintf(line, sizeof line, "K4TR.dll %s: %s", call, why);
    host_log(line);
}

/* A page call without the service: the batch ends with a device error. */
static int lost(const char* call, const char* why) {
    InterlockedExchange(&g_lost, 1);
    log_reason(call, why);
    return RESULT_DEVICE;
}

/* The MICR area and in-memory page description as the driver has them. */
static void take_state(const answer* a) {
    const wire_member* micr = wire_find(&a->object, "micrArea");
    if (micr && micr->kind == WIRE_NULL) {
        g_haveMicr = 0;
    } else if (micr && micr->kind == WIRE_STRING) {
        unsigned char area[MICR_AREA];
        if (wire_base64(micr->text, micr->textLen, area, sizeof area) == MICR_AREA) {
            memcpy(g_micr, area, MICR_AREA);
            g_haveMicr = 1;
        }
    }
    g_micrSize = (int)number(a, "micrSize", g_micrSize);
    g_imageSize = (int)number(a, "imageSize", g_imageSize);
    g_imageWidth = (int)number(a, "imageWidth", g_imageWidth);
    g_imageHeight = (int)number(a, "imageHeight", g_imageHeight);
    g_pitchSrc = (int)number(a, "pitchSrc", g_pitchSrc);
    g_pitchDst = (int)number(a, "pitchDst", g_pitchDst);
    g_bitsPerPixel = (unsigned char)number(a, "bitsPerPixel", g_bitsPerPixel);
}

/* A JSON body {"<key>": "<text>"} with the program's text (Windows code
 * page) as UTF-8; NULL when it does not fit. */
static char* text_body(const char* key, const char* text, char* out, size_t cap) {
    WCHAR wide[TEXT_MAX];
    char utf8[TEXT_MAX * 3];
    size_t used;
    int n;
    if (!text) text = "";
    n = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, TEXT_MAX);
    if (n <= 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL) <= 0)
        return NULL;
    used = (size_t)snprintf(out, cap, "{\"%s\":", key);
    if (used >= cap || wire_json_string(utf8, out, cap, &used) != 0 || used + 2 > cap) return NULL;
    out[used++] = '}';
    out[used] = '\0';
    return out;
}

/* A call whose answer is only a result code; `offline` when the service
 * cannot be used (the reason goes to log.txt). */
static int simple(const char* name, const char* body, unsigned waitMs, int offline) {
    answer a;
    char why[WHY_MAX];
    int result;
    call_outcome c = call(name, body, waitMs, &a, why);
    if (c == CALL_BUSY) {
        log_reason(name, why);
        return RESULT_BUSY;
    }
    if (c != CALL_OK) {
        log_reason(name, why);
        return offline;
    }
    result = (int)number(&a, "result", offline);
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_Init(void) {
    answer a;
    char why[WHY_MAX];
    int result;
    call_outcome c = call("init", NULL, LINK_WAIT_SHORT, &a, why);
    if (c != CALL_OK) {
        /* The driver cannot start without the service. */
        log_reason("OrvoScan_Init", why);
        return c == CALL_BUSY ? RESULT_BUSY : RESULT_DRIVER;
    }
    InterlockedExchange(&g_lost, 0);
    result = (int)number(&a, "result", RESULT_DRIVER);
    take_state(&a);
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_End(void) {
    simple("end", NULL, LINK_WAIT_SHORT, 0);
    return 0;
}

const char* ORVO_CALL OrvoScan_Version(void) {
    answer a;
    char why[WHY_MAX];
    if (call("version", NULL, LINK_WAIT_SHORT, &a, why) == CALL_OK) {
        char text[sizeof g_version];
        if (wire_string(wire_find(&a.object, "version"), text, sizeof text) >= 0)
            memcpy(g_version, text, sizeof text);
        done(&a);
    }
    return g_version;
}

int ORVO_CALL OrvoScan_ImageFormat(int format) {
    char body[64];
    snprintf(body, sizeof body, "{\"format\":%d}", format);
    return simple("image-format", body, LINK_WAIT_SHORT, RESULT_SETTINGS);
}

uint32_t ORVO_CALL OrvoScan_GetDeviceError(void) {
    answer a;
    char why[WHY_MAX];
    uint32_t word = 0;
    if (g_lost) return DEVICE_UNKNOWN;
    if (call("device-error", NULL, LINK_WAIT_SHORT, &a, why) != CALL_OK) return DEVICE_UNKNOWN;
    word = (uint32_t)number(&a, "deviceError", DEVICE_UNKNOWN);
    done(&a);
    return word;
}

int ORVO_CALL OrvoScan_Setup(void* owner, const char* profile) {
    char body[TEXT_MAX * 6 + 32];
    (void)owner; /* the Linux dialog has no Windows owner */
    if (!text_body("profile", profile, body, sizeof body)) return RESULT_SETTINGS;
    return simple("setup", body, LINK_WAIT_DIALOG, RESULT_RESOURCE);
}

int ORVO_CALL OrvoScan_Setup_Qa(void* owner) {
    (void)owner;
    return simple("setup-qa", NULL, LINK_WAIT_DIALOG, RESULT_NO_SCSI);
}

int ORVO_CALL OrvoScan_RestoreSettingsQa(unsigned char* qa12) {
    answer a;
    char why[WHY_MAX];
    int result;
    call_outcome c;
    if (!qa12) return RESULT_NO_SCSI;
    c = call("restore-settings-qa", NULL, LINK_WAIT_SHORT, &a, why);
    if (c != CALL_OK) {
        log_reason("OrvoScan_RestoreSettingsQa", why);
        return c == CALL_BUSY ? RESULT_BUSY : RESULT_NO_SCSI;
    }
    result = (int)number(&a, "result", RESULT_NO_SCSI);
    if (result == 0) {
        const wire_member* m = wire_find(&a.object, "qa");
        unsigned char block[12];
        if (m && m->kind == WIRE_STRING &&
            wire_base64(m->text, m->textLen, block, sizeof block) == 12)
            memcpy(qa12, block, sizeof block);
        else
            result = RESULT_NO_SCSI;
    }
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_SaveSettingsQa(const unsigned char* qa10) {
    char body[64], text[20];
    if (!qa10) return RESULT_NO_SCSI;
    wire_base64_encode(qa10, 10, text);
    snprintf(body, sizeof body, "{\"qa\":\"%s\"}", text);
    return simple("save-settings-qa", body, LINK_WAIT_SHORT, RESULT_NO_SCSI);
}

int ORVO_CALL OrvoScan_StartBatch(const char* profile) {
    char body[TEXT_MAX * 6 + 32];
    int result;
    if (!text_body("profile", profile, body, sizeof body)) return RESULT_SETTINGS;
    result = simple("start-batch", body, LINK_WAIT_SHORT, RESULT_DRIVER);
    if (result == 0) InterlockedExchange(&g_lost, 0);
    return result;
}

int ORVO_CALL OrvoScan_IsPageLoaded(void) {
    answer a;
    char why[WHY_MAX];
    int result;
    if (call("is-page-loaded", NULL, LINK_WAIT_PAGE, &a, why) != CALL_OK)
        return lost("OrvoScan_IsPageLoaded", why);
    result = (int)number(&a, "result", RESULT_DEVICE);
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_EndBatch(void) {
    simple("end-batch", NULL, LINK_WAIT_PAGE, 0);
    return 0;
}

/* Writes the page file through the Windows file API, so that the program's
 * drives, UNC and relative paths mean what they mean to it. */
static int write_page_file(const char* path, const unsigned char* data, long len) {
    HANDLE h;
    DWORD written = 0;
    long at = 0;
    if (!path || !*path) return -1;
    h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    while (at < len) {
        DWORD chunk = (DWORD)(len - at > (1 << 20) ? (1 << 20) : len - at);
        if (!WriteFile(h, data + at, chunk, &written, NULL) || written == 0) break;
        at += (long)written;
    }
    CloseHandle(h);
    if (at != len) {
        DeleteFileA(path); /* no half page under the page's name */
        return -1;
    }
    return 0;
}

int ORVO_CALL OrvoScan_GetOneImage(const char* path, int* height) {
    answer a;
    char why[WHY_MAX];
    int result, bad = 0, unwritten = 0;
    long len = 0;
    unsigned char* file;
    if (height) *height = 0;
    if (call("get-one-image", NULL, LINK_WAIT_PAGE, &a, why) != CALL_OK)
        return lost("OrvoScan_GetOneImage", why);
    result = (int)number(&a, "result", RESULT_DEVICE);
    file = bytes(&a, "file", &len, &bad);
    take_state(&a);
    if (!file) {
        /* No page file from the driver (or none that arrived whole). */
        unwritten = 1;
        if (result == 0) result = RESULT_PAGE_FILE;
    } else if (write_page_file(path, file, len) != 0) {
        char line[WHY_MAX];
        snprintf(line, sizeof line, "the page file %s could not be written",
                 path ? path : "(none)");
        log_reason("OrvoScan_GetOneImage", line);
        if (result == 0) result = RESULT_PAGE_FILE;
        unwritten = 1;
    }
    /* As the driver: rows only for a page whose file was written. */
    if (height && !unwritten) *height = (int)number(&a, "rows", 0);
    free(file);
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_GetOneImageBufPtr(const char* path, int* height) {
    answer a;
    char why[WHY_MAX];
    int result, bad = 0;
    long len = 0;
    unsigned char* image;
    (void)path; /* the driver does not use it either */
    if (height) *height = 0;
    if (call("get-one-image-buf-ptr", NULL, LINK_WAIT_PAGE, &a, why) != CALL_OK)
        return lost("OrvoScan_GetOneImageBufPtr", why);
    result = (int)number(&a, "result", RESULT_DEVICE);
    image = bytes(&a, "image", &len, &bad);
    if (image) {
        /* The new page replaces the previous one. */
        free(g_page);
        g_page = image;
        take_state(&a);
        g_imageSize = (int)len;
    } else if (result == 0 && bad) {
        result = RESULT_PAGE_FILE;
    }
    if (height) *height = (int)number(&a, "rows", 0);
    done(&a);
    return result;
}

int ORVO_CALL OrvoScan_ClearOneImageBuf(void) {
    /* The service keeps no page block: it is this library's alone. */
    free(g_page);
    g_page = NULL;
    return 1;
}

unsigned char* ORVO_CALL OrvoScan_ImageBufPtr(void) {
    return g_page;
}
int ORVO_CALL OrvoScan_ImageSize(void) {
    return g_imageSize;
}
int ORVO_CALL OrvoScan_ImageWidth(void) {
    return g_imageWidth;
}
int ORVO_CALL OrvoScan_ImageHeitgt(void) {
    return g_imageHeight;
}
int ORVO_CALL OrvoScan_ImagePitchSrc(void) {
    return g_pitchSrc;
}
int ORVO_CALL OrvoScan_ImagePitchDst(void) {
    return g_pitchDst;
}
unsigned char ORVO_CALL OrvoScan_ImageBitPerPixel(void) {
    return g_bitsPerPixel;
}
char* ORVO_CALL OrvoScan_MicrDataBufPtr(void) {
    return g_haveMicr ? g_micr : NULL;
}
int ORVO_CALL OrvoScan_MicrDataSize(void) {
    return g_micrSize;
}
