/* A client of the driver written in plain C against the public header only.
 * It starts the driver and prints what the exports answer, one "key=value"
 * line each, for the end-to-end tests to check. */
#include <stdio.h>
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
    return 0;
}
