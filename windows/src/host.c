/* The Linux side as seen from a Windows program under Wine. */
#include "host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int host_env(const char* name, char* out, size_t cap) {
    DWORD n = GetEnvironmentVariableA(name, out, (DWORD)cap);
    if (n == 0 || n >= cap) {
        if (cap > 0) out[0] = '\0';
        return 0;
    }
    return 1;
}

typedef WCHAR*(CDECL* dos_name_fn)(const char*);

/* The Windows path of a Unix path: Wine's own mapping (which knows the
 * prefix's drives), else the drive Z: that a Wine prefix maps to "/". The
 * result is freed with HeapFree(GetProcessHeap(), 0, p). */
static WCHAR* dos_path(const char* unixPath) {
    static dos_name_fn mapping;
    static int looked;
    WCHAR* w;
    size_t n, i;
    if (!looked) {
        HMODULE k = GetModuleHandleA("kernel32.dll");
        mapping = k ? (dos_name_fn)(void*)GetProcAddress(k, "wine_get_dos_file_name") : NULL;
        looked = 1;
    }
    if (mapping) return mapping(unixPath);
    n = strlen(unixPath);
    if (n > 4096) return NULL;
    w = (WCHAR*)HeapAlloc(GetProcessHeap(), 0, (n + 3) * sizeof(WCHAR));
    if (!w) return NULL;
    w[0] = L'Z';
    w[1] = L':';
    for (i = 0; i < n; ++i)
        w[i + 2] = unixPath[i] == '/' ? L'\\' : (WCHAR)(unsigned char)unixPath[i];
    w[n + 2] = 0;
    return w;
}

long host_read_unix_file(const char* unixPath, char* out, size_t cap) {
    WCHAR* path = dos_path(unixPath);
    HANDLE h;
    DWORD got = 0;
    long result = -1;
    if (!path || cap < 2) {
        if (path) HeapFree(GetProcessHeap(), 0, path);
        return -1;
    }
    h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    NULL);
    HeapFree(GetProcessHeap(), 0, path);
    if (h == INVALID_HANDLE_VALUE) return -1;
    if (ReadFile(h, out, (DWORD)(cap - 1), &got, NULL) && got < cap - 1) {
        /* Nothing more may follow: a larger file is not taken in part. */
        char extra;
        DWORD more = 0;
        if (ReadFile(h, &extra, 1, &more, NULL) && more == 0) {
            out[got] = '\0';
            result = (long)got;
        }
    }
    CloseHandle(h);
    return result;
}

/* The effective user id of this process, from /proc/self/status. */
static long unix_uid(void) {
    char status[4096];
    const char* line;
    long ruid = -1, euid = -1;
    if (host_read_unix_file("/proc/self/status", status, sizeof status) < 0) return -1;
    line = strstr(status, "\nUid:");
    if (!line || sscanf(line + 5, "%ld %ld", &ruid, &euid) != 2) return -1;
    return euid;
}

/* The directory of the driver's traces, as the driver finds it. */
static int trace_dir(char* out, size_t cap) {
    char base[1024];
    long uid;
    if (host_env("ORVOSCAN_TRACE_DIR", out, cap) && out[0] == '/') return 1;
    if (!host_env("TMPDIR", base, sizeof base) || base[0] != '/') strcpy(base, "/tmp");
    while (strlen(base) > 1 && base[strlen(base) - 1] == '/') base[strlen(base) - 1] = '\0';
    uid = unix_uid();
    if (uid < 0) return 0;
    return snprintf(out, cap, "%s/orvoscan-%ld", strcmp(base, "/") == 0 ? "" : base, uid) <
           (int)cap;
}

void host_log(const char* text) {
    char dir[1024], file[1200], stamped[512], line[640];
    WCHAR* path;
    HANDLE h;
    SYSTEMTIME t;
    DWORD attributes, written = 0;
    int n;
    if (!trace_dir(dir, sizeof dir)) return;
    path = dos_path(dir);
    if (!path) return;
    attributes = GetFileAttributesW(path);
    HeapFree(GetProcessHeap(), 0, path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (snprintf(file, sizeof file, "%s%slog.txt", dir, dir[strlen(dir) - 1] == '/' ? "" : "/") >=
        (int)sizeof file)
        return;
    GetLocalTime(&t);
    snprintf(stamped, sizeof stamped, "%s %02d:%02d:%02d:%03d", text, t.wHour, t.wMinute, t.wSecond,
             t.wMilliseconds);
    n = snprintf(line, sizeof line, "%3d:\t%65s\t[%7d]\n", 0, stamped, 0);
    if (n <= 0) return;
    if (n >= (int)sizeof line) n = (int)sizeof line - 1;
    path = dos_path(file);
    if (!path) return;
    h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, NULL);
    HeapFree(GetProcessHeap(), 0, path);
    if (h == INVALID_HANDLE_VALUE) return;
    WriteFile(h, line, (DWORD)n, &written, NULL);
    CloseHandle(h);
}
