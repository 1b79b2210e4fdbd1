/* A client of the driver written in plain C against the public header only.
 * It starts the driver and prints what the exports answer, one "key=value"
 * line each, for the end-to-end tests to check. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orvoscan.h"

/* Whether a Qt library is mapped into this process. */
static int qt_loaded(void) {
    char line[512];
    int found = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (!maps) return -1;
    while (!found && fgets(line, sizeof line, maps)) found = strstr(line, "libQt6") != NULL;
    fclose(maps);
    return found;
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "init";
    int r = OrvoScan_Init();
    printf("init=%d\n", r);
    printf("version=%s\n", OrvoScan_Version());
    printf("device_error=0x%08x\n", (unsigned)OrvoScan_GetDeviceError());
    if (strcmp(what, "lifecycle") == 0) {
        printf("format3=%d\n", OrvoScan_ImageFormat(3));
        printf("format1=%d\n", OrvoScan_ImageFormat(1));
        printf("end=%d\n", OrvoScan_End());
        printf("end_again=%d\n", OrvoScan_End());
        printf("init_again=%d\n", OrvoScan_Init());
        printf("end_last=%d\n", OrvoScan_End());
    } else if (strcmp(what, "dialogs") == 0) {
        printf("qt_before=%d\n", qt_loaded());
        printf("setup=%d\n", OrvoScan_Setup(NULL, "Check"));
        printf("setup_qa=%d\n", OrvoScan_Setup_Qa(NULL));
        printf("after=alive\n");
    }
    if (strcmp(what, "batch") == 0) {
        /* A whole batch as raw page files in ORVO_CLIENT_OUT, with the MICR
         * text of every page. */
        const char* out = getenv("ORVO_CLIENT_OUT");
        int start;
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
        start = OrvoScan_StartBatch("Check");
        printf("start=%d\n", start);
        if (start == 0) {
            int n, r = 0;
            for (n = 0; n < 1000; ++n) {
                char path[4096];
                int height = 0;
                const char* micr;
                snprintf(path, sizeof path, "%s/page%04d.raw", out ? out : ".", n);
                r = OrvoScan_GetOneImage(path, &height);
                if (r != 0) break;
                micr = OrvoScan_MicrDataBufPtr();
                printf("micr%04d=%.*s\n", n, micr ? OrvoScan_MicrDataSize() : 0, micr ? micr : "");
            }
            printf("pages=%d\nlast=%d\n", n, r);
            printf("end=%d\n", OrvoScan_EndBatch());
        }
    }
    if (strcmp(what, "one_page_then_exit") == 0 || strcmp(what, "one_page_then_end") == 0 ||
        strcmp(what, "one_page_then_term") == 0 || strcmp(what, "one_page_then_kill") == 0) {
        /* One page taken, then the program leaves the batch open and ends
         * its own way: exit, OrvoScan_End, SIGTERM, SIGKILL. */
        const char* out = getenv("ORVO_CLIENT_OUT");
        char path[4096];
        int height = 0;
        OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW);
        printf("start=%d\n", OrvoScan_StartBatch("Check"));
        snprintf(path, sizeof path, "%s/page0000.raw", out ? out : ".");
        printf("page=%d\n", OrvoScan_GetOneImage(path, &height));
        fflush(stdout);
        if (strcmp(what, "one_page_then_end") == 0) printf("end=%d\n", OrvoScan_End());
        if (strcmp(what, "one_page_then_term") == 0) raise(SIGTERM);
        if (strcmp(what, "one_page_then_kill") == 0) raise(SIGKILL);
        return 0;
    }
    if (strcmp(what, "qa") == 0) {
        unsigned char qa[12];
        printf("qa_read=%d\n", OrvoScan_RestoreSettingsQa(qa));
    }
    if (strcmp(what, "qa_busy") == 0) {
        /* Only where another process has the scanner: no dialog opens. */
        static const unsigned char qa10[10] = {7, 7, 32, 7, 7, 32, 5, 8, 4, 5};
        printf("qa_write=%d\n", OrvoScan_SaveSettingsQa(qa10));
        printf("qa_dialog=%d\n", OrvoScan_Setup_Qa(NULL));
    }
    return 0;
}
