// orvoscan: scans cheque batches from the command line through the K4TR
// driver library, naming pages and recording MICR lines like the desktop
// scanning utility.
#include <getopt.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "driver_api.h"
#include "exit_codes.h"
#include "orvo/platform/profile.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/run_settings.h"
#include "scan_run.h"

namespace {

using namespace orvoscan;

constexpr char kToolVersion[] = "1.0.0";

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

// SIGINT and SIGTERM only set a flag: the driver cannot be called from a
// handler. No SA_RESTART, so a wait in progress is cut short where the system
// allows it; SA_RESETHAND, so a second signal ends the program at once.
void InstallStopHandlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: orvoscan [--json] COMMAND [OPTIONS]\n"
                 "Scan cheque batches with the OrvoData QXS-7100 (QV710) scanner.\n"
                 "\n"
                 "Commands:\n"
                 "  info                      driver version and start, scanners found, system\n"
                 "                            directory, settings file and profiles, traces\n"
                 "  scan --profile NAME --output PATH [--start N] [--format tif|bmp|raw]\n"
                 "                            run one batch; pages are named PREFIX000001F.EXT,\n"
                 "                            PREFIX000001R.EXT, ... next to PATH (for\n"
                 "                            /data/scan/A.tif: /data/scan/A000001F.tif) and\n"
                 "                            the MICR lines are appended to micr.txt there\n"
                 "  qa read                   print the scanner's 12-byte QA block\n"
                 "  qa write B0 .. B9         write 10 QA bytes (0-255, decimal or 0x..)\n"
                 "\n"
                 "Options:\n"
                 "  --json                    one JSON object per line on stdout, for scripts\n"
                 "  -h, --help                this help\n"
                 "  -V, --version             tool and driver versions\n"
                 "\n"
                 "scan options:\n"
                 "  -p, --profile NAME        settings profile (a section of OrvoScan.ini)\n"
                 "  -o, --output PATH         chosen file: directory, prefix and extension\n"
                 "  -s, --start N             number of the first document (default 1)\n"
                 "  -f, --format FMT          tif, bmp or raw (default: by the extension of\n"
                 "                            PATH; another extension keeps the driver's format)\n"
                 "\n"
                 "Ctrl-C (SIGINT) or SIGTERM ends a batch after the cheque in progress: the\n"
                 "pages written and their micr.txt records stay. A second signal ends the\n"
                 "program at once. The driver may wait for the next document up to the\n"
                 "batch's idle time before the cheque in progress returns.\n"
                 "\n"
                 "Environment: ORVOSCAN_SYSTEM_DIR (system directory with OrvoScan.ini and\n"
                 "the code tables; default: the driver library's directory), ORVOSCAN_ASPI\n"
                 "(sg or sim), ORVOSCAN_TRACE_DIR.\n"
                 "\n"
                 "Exit status:\n"
                 "  0    done (the batch ended normally)\n"
                 "  1    another driver failure\n"
                 "  2    wrong command line\n"
                 "  3    driver start failed: no scanner, no SCSI support, driver or code tables\n"
                 "  4    settings error: unknown profile, illegal endorser format\n"
                 "  5    scanner device error (jam, double feed, cover open, ...)\n"
                 "  6    output error: page file or micr.txt not written\n"
                 "  130  interrupted\n");
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "orvoscan: %s\nTry 'orvoscan --help'.\n", message.c_str());
    return kExitUsage;
}

// A start number: 0 to 9999999 (the document number field has seven digits).
bool ParseStart(const char* text, int* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || v < 0 || v > 9999999) return false;
    *out = static_cast<int>(v);
    return true;
}

bool SectionExists(const std::string& file, const std::string& name) {
    for (const std::string& section : orvo::platform::ProfileSectionNames(file)) {
        if (strcasecmp(section.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

int ScanCommand(int argc, char** argv, Console& console) {
    static const option kOptions[] = {{"profile", required_argument, nullptr, 'p'},
                                      {"output", required_argument, nullptr, 'o'},
                                      {"start", required_argument, nullptr, 's'},
                                      {"format", required_argument, nullptr, 'f'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    ScanOptions options;
    bool json = console.json();
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, "p:o:s:f:h", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'p':
                options.profile = optarg;
                break;
            case 'o':
                options.output = optarg;
                break;
            case 's':
                if (!ParseStart(optarg, &options.start))
                    return Usage(std::string("--start needs a number 0-9999999, not \"") + optarg +
                                 "\"");
                break;
            case 'f': {
                const std::string f = optarg;
                options.format = f == "tif" ? 0 : f == "bmp" ? 1 : f == "raw" ? 2 : -2;
                if (options.format == -2) return Usage("--format is tif, bmp or raw");
                break;
            }
            case 'j':
                json = true;
                break;
            case 'h':
                PrintUsage(stdout);
                return kExitDone;
            default:
                return Usage("scan: unknown option");
        }
    }
    if (optind < argc)
        return Usage(std::string("scan: unexpected argument \"") + argv[optind] + "\"");
    if (options.profile.empty()) return Usage("scan needs --profile NAME");
    if (options.output.empty()) return Usage("scan needs --output PATH");

    Console out(stdout, stderr, json, isatty(STDOUT_FILENO) != 0);

    // Page names and micr.txt are placed by the path; a relative path is taken
    // from the current directory.
    if (options.output.front() != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            out.Error("cannot determine the current directory");
            return kExitOutput;
        }
        options.output = std::string(cwd) + "/" + options.output;
    }
    const orvo::scanrun::OutputLocation loc = orvo::scanrun::SplitOutputPath(options.output);
    if (options.output.back() == '/' ||
        options.output.find('.', options.output.rfind('/')) == std::string::npos) {
        // Without an extension the prefix would be cut at a '.' of the
        // directory part and the pages would land outside the directory.
        return Usage("--output needs a file name with an extension, e.g. /data/scan/A.tif");
    }
    if (access(loc.directory.empty() ? "/" : loc.directory.c_str(), W_OK | X_OK) != 0) {
        out.Error("output directory " + (loc.directory.empty() ? std::string("/") : loc.directory) +
                  ": " + std::strerror(errno));
        return kExitOutput;
    }

    const DriverApi driver = LinkedDriver();
    const int initResult = driver.init();
    if (initResult != 0) {
        const std::string message = orvo::scanrun::DriverErrorText(initResult, 0);
        out.Error(message.empty() ? "driver start failed with result " + std::to_string(initResult)
                                  : message);
        out.Event(
            {{"event", "error"}, {"stage", "init"}, {"result", initResult}, {"message", message}});
        return ExitForInit(initResult);
    }
    options.settingsFile = orvo::scanrun::SettingsFilePath(SystemDir());
    if (strcasecmp(options.profile.c_str(), "MISC") == 0 ||
        !SectionExists(options.settingsFile, options.profile)) {
        out.Error("no profile \"" + options.profile + "\" in " + options.settingsFile);
        out.Event({{"event", "error"}, {"stage", "profile"}, {"profile", options.profile}});
        driver.end();
        return kExitSettings;
    }

    InstallStopHandlers();
    const int code = RunScan(driver, options, out, &g_stop);
    driver.end();
    return code;
}

int QaCommand(int argc, char** argv, Console& console) {
    if (argc < 2) return Usage("qa needs read or write");
    const std::string what = argv[1];
    const DriverApi driver = LinkedDriver();
    if (what == "read") {
        if (argc != 2) return Usage("qa read takes no arguments");
        return RunQaRead(driver, console);
    }
    if (what == "write")
        return RunQaWrite(driver, std::vector<std::string>(argv + 2, argv + argc), console);
    return Usage("qa needs read or write, not \"" + what + "\"");
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {nullptr, 0, nullptr, 0}};
    bool json = false;
    // '+': stop at the command; its own options follow it.
    for (int c; (c = getopt_long(argc, argv, "+hV", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'h':
                PrintUsage(stdout);
                return kExitDone;
            case 'V':
                std::printf("orvoscan %s\ndriver %s\n", kToolVersion, LinkedDriver().version());
                return kExitDone;
            case 'j':
                json = true;
                break;
            default:
                return Usage("unknown option");
        }
    }
    if (optind >= argc) return Usage("no command given");
    const std::string command = argv[optind];
    const int subArgc = argc - optind;
    char** subArgv = argv + optind;
    Console console(stdout, stderr, json, isatty(STDOUT_FILENO) != 0);
    if (command == "scan") return ScanCommand(subArgc, subArgv, console);
    if (command == "info") {
        if (subArgc != 1) return Usage("info takes no arguments");
        return RunInfo(LinkedDriver(), console);
    }
    if (command == "qa") return QaCommand(subArgc, subArgv, console);
    if (command == "help") {
        PrintUsage(stdout);
        return kExitDone;
    }
    return Usage("unknown command \"" + command + "\"");
}
