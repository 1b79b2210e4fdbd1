#include "command_table.h"

#include "commands.h"
#include "dialog_commands.h"
#include "exit_codes.h"
#include "orvo/scanrun/exported_driver.h"
#include "quality_command.h"
#include "scan_command.h"

namespace orvoscan {

namespace {

int InfoCommand(int argc, char**, Console& console) {
    if (argc != 1) return UsageError("info takes no arguments");
    orvo::scanrun::ExportedDriver driver;
    return RunInfo(driver, console);
}

int QaReadCommand(int argc, char**, Console& console) {
    if (argc != 1) return UsageError("qa read takes no arguments");
    orvo::scanrun::ExportedDriver driver;
    return RunQaRead(driver, console);
}

int QaWriteCommand(int argc, char** argv, Console& console) {
    orvo::scanrun::ExportedDriver driver;
    return RunQaWrite(driver, std::vector<std::string>(argv + 1, argv + argc), console);
}

const std::vector<Command>& QaCommands() {
    static const std::vector<Command> table = {
        {"read", "", QaReadCommand},
        {"write", "", QaWriteCommand},
        {"dialog", "", QaDialogCommand},
    };
    return table;
}

int QaCommand(int argc, char** argv, Console& console) {
    std::string names;
    for (const Command& c : QaCommands())
        names += (names.empty() ? "" : " or ") + std::string(c.name);
    if (argc < 2) return UsageError("qa needs " + names);
    const Command* sub = FindCommand(QaCommands(), argv[1]);
    if (!sub) return UsageError("qa needs " + names + ", not \"" + argv[1] + "\"");
    return sub->run(argc - 1, argv + 1, console);
}

int HelpCommand(int, char**, Console&) {
    PrintUsage(stdout);
    return kExitDone;
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {"info",
         "  info                      driver version and start, scanners found, system\n"
         "                            directory, settings file and profiles, traces\n",
         InfoCommand},
        {"scan",
         "  scan --profile NAME --output PATH [--start N | --continue] [--overwrite]\n"
         "       [--format tif|bmp|raw]\n"
         "                            run one batch; pages are named PREFIX000001F.EXT,\n"
         "                            PREFIX000001R.EXT, ... next to PATH (for\n"
         "                            /data/scan/A.tif: /data/scan/A000001F.tif) and\n"
         "                            the MICR lines are appended to micr.txt there\n",
         ScanCommand},
        {"quality",
         "  quality [--limits FILE] FILE...\n"
         "                            check page files for image defects (skew, streaks,\n"
         "                            too dark, ...); FRONT and REAR files of a cheque\n"
         "                            (A000001F.tif, A000001R.tif) are checked together;\n"
         "                            sizes along the feed mean something only for pages\n"
         "                            scanned to each cheque's own length (ScanLines1=0,\n"
         "                            profile CheckAuto): with a fixed length (Check: 800\n"
         "                            lines) every page has that length\n",
         QualityCommand},
        {"qa",
         "  qa read                   print the scanner's 12-byte QA block\n"
         "  qa write B0 .. B9         write 10 QA bytes (0-255, decimal or 0x..)\n"
         "  qa dialog                 edit the QA block in the driver's QA dialog\n",
         QaCommand},
        {"setup",
         "  setup --profile NAME      edit (or create) a profile in the driver's\n"
         "                            settings dialog\n",
         RunSetupCommand},
        {"help", "", HelpCommand},
    };
    return table;
}

const Command* FindCommand(const std::vector<Command>& table, const std::string& name) {
    for (const Command& command : table) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: orvoscan [--json] COMMAND [OPTIONS]\n"
                 "Scan cheque batches with the OrvoData QXS-7100 (QV710) scanner.\n"
                 "\n"
                 "Commands:\n");
    for (const Command& command : Commands()) std::fputs(command.help, out);
    std::fprintf(out,
                 "\n"
                 "Options:\n"
                 "  --json                    one JSON object per line on stdout, for scripts\n"
                 "  -h, --help                this help\n"
                 "  -V, --version             tool and driver versions\n"
                 "\n"
                 "scan options:\n"
                 "  -p, --profile NAME        settings profile (a section of OrvoScan.ini)\n"
                 "  -o, --output PATH         chosen file: directory, prefix and extension\n"
                 "  -s, --start N             number of the first document, 0-9999999 (default 1)\n"
                 "      --continue            start after the highest document number found in\n"
                 "                            the output's page files and micr.txt\n"
                 "      --overwrite           replace page files of an earlier run (without it,\n"
                 "                            a run that would replace one does not start)\n"
                 "  -f, --format FMT          tif, bmp or raw (default: by the extension of\n"
                 "                            PATH; another extension keeps the driver's format)\n"
                 "\n"
                 "Every cheque a batch scans is checked for image defects as soon as its\n"
                 "pages are written (the progress line and the JSON lines name them), and a\n"
                 "line per cheque is appended to quality.txt beside micr.txt. The limits come\n"
                 "from quality.ini in the system directory (quality --limits FILE: another).\n"
                 "\n"
                 "Before a batch starts, micr.txt must be a regular file or creatable, and no\n"
                 "page file the run would write may exist. A page whose file is not written or\n"
                 "a record that cannot be written ends the batch at once; the next start\n"
                 "number is then that of the first cheque whose front page is not on disk.\n"
                 "\n"
                 "Ctrl-C (SIGINT), SIGTERM or SIGHUP ends a batch after the cheque the\n"
                 "scanner is reading, which is saved whole; a wait for the next cheque ends at\n"
                 "once. The pages written and their micr.txt records stay. A second signal\n"
                 "ends the batch at once, a third ends the program at once.\n"
                 "\n"
                 "Environment: ORVOSCAN_SYSTEM_DIR (system directory with OrvoScan.ini and\n"
                 "the code tables; default: the driver's own, /usr/lib/x86_64-linux-gnu/orvoscan\n"
                 "when installed), ORVOSCAN_ASPI (sg or sim), ORVOSCAN_TRACE_DIR.\n"
                 "See orvoscan(1).\n"
                 "\n"
                 "Exit status:\n");
    for (const ExitStatus& status : kExitStatuses) {
        std::fprintf(out, "  %-5d%s\n", static_cast<int>(status.code), status.meaning);
    }
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "orvoscan: %s\nTry 'orvoscan --help'.\n", message.c_str());
    return kExitUsage;
}

}  // namespace orvoscan
