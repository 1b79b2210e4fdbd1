/* A client of the driver's 24 exports that follows the calling order of a
 * scanning program, built for Windows against K4TR.dll (either calling
 * convention) and for Linux against libK4TR.so, so that both runs can be
 * compared: it prints what the exports answer as "key=value" lines and
 * writes every page to the output directory.
 *
 *   k4tr_client LIBRARY MODE OUTDIR [PROFILE [FORMAT]]
 *
 * MODE: "init" (start the driver only), "file" (a batch through
 * OrvoScan_GetOneImage into OUTDIR), "memory" (a batch through
 * OrvoScan_GetOneImageBufPtr, each page's bytes written to OUTDIR), "batch"
 * (the one, then the other), "setup" (the settings dialog of PROFILE, then
 * the QA dialog). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "k4tr_exports.h"

#ifdef _WIN32
#include <windows.h>
#define SEPARATOR "\\"
static double seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}
static void* g_library;
static int open_library(const char* path) {
    return (g_library = LoadLibraryA(path)) != NULL;
}
static void* find(const char* name) {
    return (void*)GetProcAddress((HMODULE)g_library, name);
}
#else
#include <dlfcn.h>
#include <time.h>
#define SEPARATOR "/"
static double seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}
static void* g_library;
static int open_library(const char* path) {
    return (g_library = dlopen(path, RTLD_NOW | RTLD_LOCAL)) != NULL;
}
static void* find(const char* name) {
    return dlsym(g_library, name);
}
#endif

#define ORVO_POINTER(type, name, params) type(ORVO_CALL* name) params;
typedef struct {
    ORVO_EXPORTS(ORVO_POINTER)
} exports;
static exports k;

#define ORVO_LOAD(type, name, params)                          \
    if ((*(void**)& k.name = find(#name)) == NULL) {           \
        fprintf(stderr, "k4tr_client: no export %s\n", #name); \
        return 2;                                              \
    }

static int load(void) {
    ORVO_EXPORTS(ORVO_LOAD) return 0;
}

static void print_micr(const char* key, int n) {
    const char* micr = k.OrvoScan_MicrDataBufPtr();
    int size = k.OrvoScan_MicrDataSize();
    printf("%s%04d=%d:%.*s\n", key, n, size, micr && size > 0 && size < 50 ? size : 0,
           micr ? micr : "");
}

static int write_bytes(const char* path, const unsigned char* data, int len) {
    FILE* f = fopen(path, "wb");
    int ok;
    if (!f) return -1;
    ok = len <= 0 || fwrite(data, 1, (size_t)len, f) == (size_t)len;
    return fclose(f) == 0 && ok ? 0 : -1;
}

static int batch(const char* mode, const char* out, const char* profile) {
    double began = seconds();
    int start = k.OrvoScan_StartBatch(profile), n, r = 0;
    printf("start=%d\n", start);
    if (start != 0) return 0;
    for (n = 0; n < 1000; ++n) {
        char path[1024];
        int height = -7;
        if (strcmp(mode, "file") == 0) {
            snprintf(path, sizeof path, "%s" SEPARATOR "page%04d.img", out, n);
            r = k.OrvoScan_GetOneImage(path, &height);
            if (r != 0 && r != -12) break;
            printf("page%04d=%d rows %d\n", n, r, height);
            print_micr("micr", n);
        } else {
            const unsigned char* image;
            r = k.OrvoScan_GetOneImageBufPtr("unused", &height);
            if (r != 0 && r != -12) break;
            image = k.OrvoScan_ImageBufPtr();
            printf("page%04d=%d rows %d size %d width %d height %d pitch %d/%d bpp %d\n", n, r,
                   height, k.OrvoScan_ImageSize(), k.OrvoScan_ImageWidth(),
                   k.OrvoScan_ImageHeitgt(), k.OrvoScan_ImagePitchSrc(), k.OrvoScan_ImagePitchDst(),
                   k.OrvoScan_ImageBitPerPixel());
            snprintf(path, sizeof path, "%s" SEPARATOR "page%04d.mem", out, n);
            if (image && write_bytes(path, image, k.OrvoScan_ImageSize()) != 0)
                printf("unwritten%04d=%s\n", n, path);
            printf("clear%04d=%d\n", n, k.OrvoScan_ClearOneImageBuf());
            printf("cleared%04d=%s\n", n, k.OrvoScan_ImageBufPtr() ? "no" : "yes");
            print_micr("micr", n);
        }
    }
    /* The time goes to stderr: the two builds' standard output is compared. */
    fprintf(stderr, "%s batch: %d pages in %.3f s\n", mode, n, seconds() - began);
    printf("pages=%d\nlast=%d\n", n, r);
    printf("device_error=0x%08lx\n", (unsigned long)k.OrvoScan_GetDeviceError());
    printf("end_batch=%d\n", k.OrvoScan_EndBatch());
    return 0;
}

int main(int argc, char** argv) {
    const char* mode;
    int init;
    if (argc < 4) {
        fprintf(
            stderr,
            "usage: k4tr_client LIBRARY init|file|memory|batch|setup OUTDIR [PROFILE [FORMAT]]\n");
        return 2;
    }
    mode = argv[2];
    /* Fully buffered, written when the client ends: under Wine every write
     * asks the Wine server several times whether it goes to a console, which
     * would be counted in the batch's time. */
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    if (!open_library(argv[1])) {
        fprintf(stderr, "k4tr_client: cannot load %s\n", argv[1]);
        return 2;
    }
    if (load() != 0) return 2;
    init = k.OrvoScan_Init();
    printf("init=%d\n", init);
    printf("version=%s\n", k.OrvoScan_Version());
    if (init == 0 && strcmp(mode, "init") != 0) {
        unsigned char qa[12] = {0};
        int i;
        printf("qa_read=%d", k.OrvoScan_RestoreSettingsQa(qa));
        for (i = 0; i < 12; ++i) printf(" %d", qa[i]);
        printf("\n");
        printf("format=%d\n", k.OrvoScan_ImageFormat(argc > 5 ? atoi(argv[5]) : 0));
        const char* profile = argc > 4 ? argv[4] : "Check";
        if (strcmp(mode, "setup") == 0) {
            printf("setup=%d\n", k.OrvoScan_Setup(NULL, profile));
            printf("setup_qa=%d\n", k.OrvoScan_Setup_Qa(NULL));
        } else if (strcmp(mode, "batch") == 0) {
            /* The same batch to files, then through the in-memory page. */
            batch("file", argv[3], profile);
            batch("memory", argv[3], profile);
        } else {
            batch(mode, argv[3], profile);
        }
    }
    printf("end=%d\n", k.OrvoScan_End());
    return 0;
}
