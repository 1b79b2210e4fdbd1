/*
 * Option handling of the orvoscan backend as a C frontend sees it through
 * the SANE API (SANE's dll backend loads the backend): descriptors and their
 * constraints, read-only and inactive options, values taken inexactly, and
 * SANE_INFO_RELOAD_PARAMS / SANE_INFO_RELOAD_OPTIONS with the parameters
 * that follow. Runs on the virtual scanner in a directory of its own.
 */
#define _GNU_SOURCE
#include <sane/sane.h>
#include <sane/saneopts.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

static char dir[] = "/tmp/orvoscan-sane-c-XXXXXX";

static void write_file(const char* name, const char* text) {
    char path[512];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE* f = fopen(path, "w");
    if (!f) {
        perror(path);
        exit(2);
    }
    fputs(text, f);
    fclose(f);
}

static void cleanup(void) {
    char command[600];
    snprintf(command, sizeof command, "rm -rf '%s'", dir);
    if (system(command) != 0) fprintf(stderr, "cannot remove %s\n", dir);
}

/* The world of the test: SANE configuration, system directory, scenario. */
static void lay_out(void) {
    const char* build = getenv("ORVOSCAN_SYSTEM_DIR");
    char path[512], target[512];
    const char* links[] = {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"};
    size_t i;
    if (mkdtemp(dir) == NULL || build == NULL) {
        fprintf(stderr, "no test directory, or ORVOSCAN_SYSTEM_DIR unset\n");
        exit(2);
    }
    atexit(cleanup);
    snprintf(path, sizeof path, "%s/sane.d", dir);
    mkdir(path, 0700);
    snprintf(path, sizeof path, "%s/sys", dir);
    mkdir(path, 0700);
    for (i = 0; i < sizeof links / sizeof links[0]; ++i) {
        snprintf(target, sizeof target, "%s/%s", build, links[i]);
        snprintf(path, sizeof path, "%s/sys/%s", dir, links[i]);
        if (symlink(target, path) != 0) perror(path);
    }
    write_file("sane.d/dll.conf", "orvoscan\n");
    write_file("sys/OrvoScan.ini",
               "[Check]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\nCompressMode=0\n"
               "BWSlice1=128\nScanLines1=200\n"
               "[Gray]\nSide=0\nScanWidth=1024\nResolution=2\nScanMode1=4\nCompressMode=0\n"
               "BWSlice1=90\nScanLines1=100\n"
               "[Misc]\nMicrDetect=1\n");
    write_file("scenario.json",
               "{\"latency\": {\"commandMs\": 0, \"blockMs\": 0, \"documentIntervalMs\": 0},"
               " \"defaultStack\": 1}");
    snprintf(path, sizeof path, "%s/sane.d", dir);
    setenv("SANE_CONFIG_DIR", path, 1);
    setenv("LD_LIBRARY_PATH", ORVO_SANE_BACKEND_DIR, 1);
    setenv("ORVOSCAN_ASPI", "sim", 1);
    snprintf(path, sizeof path, "%s/sys", dir);
    setenv("ORVOSCAN_SYSTEM_DIR", path, 1);
    snprintf(path, sizeof path, "%s/scenario.json", dir);
    setenv("ORVOSCAN_SIM_SCENARIO", path, 1);
    setenv("ORVOSCAN_TRACE_DIR", dir, 1);
    setenv("TMPDIR", dir, 1);
}

static SANE_Handle h;

static int find(const char* name) {
    int i;
    const SANE_Option_Descriptor* d;
    for (i = 1; (d = sane_get_option_descriptor(h, i)) != NULL; ++i) {
        if (d->name != NULL && strcmp(d->name, name) == 0) return i;
    }
    fprintf(stderr, "no option %s\n", name);
    ++failures;
    return -1;
}

static SANE_Status set_word(const char* name, SANE_Word* value, SANE_Int* info) {
    return sane_control_option(h, find(name), SANE_ACTION_SET_VALUE, value, info);
}

static SANE_Status set_string(const char* name, char* value, SANE_Int* info) {
    return sane_control_option(h, find(name), SANE_ACTION_SET_VALUE, value, info);
}

/* Whether a length is `mm` within what SANE_Fixed holds. */
static int near_mm(SANE_Word value, double mm) {
    const double d = SANE_UNFIX(value) - mm;
    return d > -1e-4 && d < 1e-4;
}

static SANE_Word get_word(const char* name) {
    SANE_Word w = -12345;
    CHECK(sane_control_option(h, find(name), SANE_ACTION_GET_VALUE, &w, NULL) == SANE_STATUS_GOOD);
    return w;
}

static void get_string(const char* name, char* value) {
    CHECK(sane_control_option(h, find(name), SANE_ACTION_GET_VALUE, value, NULL) ==
          SANE_STATUS_GOOD);
}

static void check_descriptors(void) {
    SANE_Word count = 0;
    int i;
    const SANE_Option_Descriptor* d;
    CHECK(sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &count, NULL) == SANE_STATUS_GOOD);
    CHECK(count == 23);
    for (i = 0; i < count; ++i) CHECK(sane_get_option_descriptor(h, i) != NULL);
    CHECK(sane_get_option_descriptor(h, count) == NULL);
    CHECK(sane_get_option_descriptor(h, -1) == NULL);

    d = sane_get_option_descriptor(h, find(SANE_NAME_SCAN_SOURCE));
    CHECK(d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST);
    CHECK(strcmp(d->constraint.string_list[0], "ADF Front") == 0);
    CHECK(strcmp(d->constraint.string_list[1], "ADF Duplex") == 0);
    CHECK(d->constraint.string_list[2] == NULL);

    d = sane_get_option_descriptor(h, find(SANE_NAME_SCAN_RESOLUTION));
    CHECK(d->type == SANE_TYPE_INT && d->unit == SANE_UNIT_DPI);
    CHECK(d->constraint_type == SANE_CONSTRAINT_WORD_LIST);
    CHECK(d->constraint.word_list[0] == 3 && d->constraint.word_list[1] == 100 &&
          d->constraint.word_list[3] == 300);

    d = sane_get_option_descriptor(h, find(SANE_NAME_SCAN_BR_X));
    CHECK(d->type == SANE_TYPE_FIXED && d->unit == SANE_UNIT_MM);
    CHECK(d->constraint_type == SANE_CONSTRAINT_RANGE);
    /* 25.4 mm to the inch: 64 to 1728 pixels at 200 dpi, in steps of 8. */
    CHECK(near_mm(d->constraint.range->min, 8.128) && near_mm(d->constraint.range->max, 219.456));
    CHECK(near_mm(d->constraint.range->quant, 1.016));
    /* The standard geometry of sheet-fed scanners. */
    d = sane_get_option_descriptor(h, find(SANE_NAME_SCAN_TL_X));
    CHECK(d->type == SANE_TYPE_FIXED && d->unit == SANE_UNIT_MM && SANE_OPTION_IS_SETTABLE(d->cap));
    CHECK(find(SANE_NAME_SCAN_TL_Y) > 0 && find(SANE_NAME_PAGE_WIDTH) > 0 &&
          find(SANE_NAME_PAGE_HEIGHT) > 0);

    d = sane_get_option_descriptor(h, find("profile"));
    CHECK(d->constraint_type == SANE_CONSTRAINT_STRING_LIST);
    CHECK(strcmp(d->constraint.string_list[0], "Check") == 0);
    CHECK(strcmp(d->constraint.string_list[1], "Gray") == 0);
    CHECK(d->constraint.string_list[2] == NULL);

    d = sane_get_option_descriptor(h, find("micr"));
    CHECK(d->type == SANE_TYPE_STRING);
    CHECK(SANE_OPTION_IS_ACTIVE(d->cap) && !SANE_OPTION_IS_SETTABLE(d->cap));
    CHECK((d->cap & SANE_CAP_SOFT_DETECT) != 0);
}

static void check_values(void) {
    SANE_Int info = -1;
    SANE_Word w;
    SANE_Parameters p;
    char text[64];

    get_string("profile", text);
    CHECK(strcmp(text, "Check") == 0);
    get_string(SANE_NAME_SCAN_MODE, text);
    CHECK(strcmp(text, "Lineart") == 0);
    CHECK(get_word(SANE_NAME_SCAN_RESOLUTION) == 200);
    CHECK(near_mm(get_word(SANE_NAME_SCAN_BR_Y), 25.273)); /* 199 rows */

    /* Parameters before any scan, from the options: every cheque to its own
       length (lines unknown) until a fixed length is asked for. */
    CHECK(get_word("auto-length") == SANE_TRUE);
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.format == SANE_FRAME_GRAY && p.last_frame && p.depth == 1);
    CHECK(p.pixels_per_line == 1728 && p.bytes_per_line == 216 && p.lines == -1);
    w = SANE_FALSE;
    CHECK(set_word("auto-length", &w, &info) == SANE_STATUS_GOOD);
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.pixels_per_line == 1728 && p.bytes_per_line == 216 && p.lines == 199);

    /* Resolution: parameters and the scan area's values change. */
    w = 300;
    CHECK(set_word(SANE_NAME_SCAN_RESOLUTION, &w, &info) == SANE_STATUS_GOOD);
    CHECK(info == (SANE_INFO_RELOAD_PARAMS | SANE_INFO_RELOAD_OPTIONS));
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.pixels_per_line == 2592 && p.bytes_per_line == 324 && p.lines == 299);
    w = 250; /* between two: the nearer, the lower when equally near */
    CHECK(set_word(SANE_NAME_SCAN_RESOLUTION, &w, &info) == SANE_STATUS_GOOD);
    CHECK(w == 200 && (info & SANE_INFO_INEXACT));

    /* Scan area: rounded to whole bytes, held to the range. */
    w = SANE_FIX(100.3);
    CHECK(set_word(SANE_NAME_SCAN_BR_X, &w, &info) == SANE_STATUS_GOOD);
    CHECK(info == (SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT));
    CHECK(near_mm(w, 100.584)); /* 790 pixels, up to 792 */
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.pixels_per_line == 792 && p.bytes_per_line == 99);
    w = SANE_FIX(400);
    CHECK(set_word(SANE_NAME_SCAN_BR_X, &w, &info) == SANE_STATUS_GOOD);
    CHECK(near_mm(w, 219.456) && (info & SANE_INFO_INEXACT));

    /* A string list takes its own spelling; anything else is refused. */
    strcpy(text, "gray");
    CHECK(set_string(SANE_NAME_SCAN_MODE, text, &info) == SANE_STATUS_GOOD);
    CHECK(strcmp(text, "Gray") == 0);
    CHECK(info == (SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS));
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.depth == 8 && p.bytes_per_line == 1728);
    strcpy(text, "Color");
    CHECK(set_string(SANE_NAME_SCAN_MODE, text, &info) == SANE_STATUS_INVAL);

    /* The threshold is inactive for gray scans. */
    CHECK(!SANE_OPTION_IS_ACTIVE(sane_get_option_descriptor(h, find(SANE_NAME_THRESHOLD))->cap));
    CHECK(sane_control_option(h, find(SANE_NAME_THRESHOLD), SANE_ACTION_GET_VALUE, &w, NULL) ==
          SANE_STATUS_INVAL);
    strcpy(text, "Lineart");
    CHECK(set_string(SANE_NAME_SCAN_MODE, text, &info) == SANE_STATUS_GOOD);
    CHECK(SANE_OPTION_IS_ACTIVE(sane_get_option_descriptor(h, find(SANE_NAME_THRESHOLD))->cap));
    w = -4;
    CHECK(set_word(SANE_NAME_THRESHOLD, &w, &info) == SANE_STATUS_GOOD);
    CHECK(w == 0 && info == SANE_INFO_INEXACT);

    /* Read-only and structural options. */
    strcpy(text, "0123");
    CHECK(set_string("micr", text, &info) == SANE_STATUS_INVAL);
    get_string("micr", text);
    CHECK(text[0] == '\0');
    w = 3;
    CHECK(sane_control_option(h, 0, SANE_ACTION_SET_VALUE, &w, &info) == SANE_STATUS_INVAL);
    CHECK(sane_control_option(h, 1, SANE_ACTION_GET_VALUE, &w, &info) == SANE_STATUS_INVAL);
    CHECK(sane_control_option(h, find(SANE_NAME_SCAN_MODE), SANE_ACTION_SET_AUTO, NULL, &info) ==
          SANE_STATUS_INVAL);
    CHECK(sane_control_option(h, 99, SANE_ACTION_GET_VALUE, &w, &info) == SANE_STATUS_INVAL);

    /* A profile reloads the options it stands for. */
    strcpy(text, "Gray");
    CHECK(set_string("profile", text, &info) == SANE_STATUS_GOOD);
    CHECK(info == (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS));
    get_string(SANE_NAME_SCAN_SOURCE, text);
    CHECK(strcmp(text, "ADF Front") == 0);
    get_string(SANE_NAME_SCAN_MODE, text);
    CHECK(strcmp(text, "Gray") == 0);
    CHECK(get_word(SANE_NAME_SCAN_RESOLUTION) == 100);
    CHECK(near_mm(get_word(SANE_NAME_SCAN_BR_X), 219.456));
    CHECK(near_mm(get_word(SANE_NAME_SCAN_BR_Y), 25.146)); /* 99 rows at 100 dpi */
    CHECK(sane_get_parameters(h, &p) == SANE_STATUS_GOOD);
    CHECK(p.depth == 8 && p.pixels_per_line == 864 && p.lines == 99);
    strcpy(text, "Nope");
    CHECK(set_string("profile", text, &info) == SANE_STATUS_INVAL);

    /* A scan with these values: the parameters were those of the page. */
    CHECK(sane_start(h) == SANE_STATUS_GOOD);
    {
        SANE_Parameters q;
        CHECK(sane_get_parameters(h, &q) == SANE_STATUS_GOOD);
        CHECK(q.depth == p.depth && q.pixels_per_line == p.pixels_per_line &&
              q.bytes_per_line == p.bytes_per_line && q.lines == p.lines);
    }
    get_string("micr", text);
    CHECK(text[0] == '0' || text[0] == '1');
    sane_cancel(h);
}

int main(void) {
    SANE_Int version = 0;
    const SANE_Device** devices = NULL;
    lay_out();
    CHECK(sane_init(&version, NULL) == SANE_STATUS_GOOD);
    CHECK(SANE_VERSION_MAJOR(version) == 1);
    CHECK(sane_get_devices(&devices, SANE_TRUE) == SANE_STATUS_GOOD);
    CHECK(devices != NULL && devices[0] != NULL && devices[1] == NULL);
    if (sane_open("orvoscan", &h) != SANE_STATUS_GOOD) {
        fprintf(stderr, "cannot open the scanner\n");
        return 1;
    }
    check_descriptors();
    check_values();
    sane_close(h);
    sane_exit();
    if (failures != 0) fprintf(stderr, "%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
