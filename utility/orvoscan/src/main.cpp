// orvoscan: scans cheque batches from the command line through the K4TR
// driver library, naming pages and recording MICR lines like the desktop
// scanning utility.
#include <getopt.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "command_table.h"
#include "console.h"
#include "exit_codes.h"
#include "orvo/scanrun/exported_driver.h"

namespace {

constexpr char kToolVersion[] = "1.0.0";

}  // namespace

int main(int argc, char** argv) {
    using namespace orvoscan;
    // A write past the file size limit fails and is reported instead of
    // ending the program; a reader that goes away (orvoscan scan | head) does
    // not end a batch between a page and its record.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

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
                std::printf("orvoscan %s\ndriver %s\n", kToolVersion,
                            orvo::scanrun::ExportedDriver().Version());
                return kExitDone;
            case 'j':
                json = true;
                break;
            default:
                return UsageError("unknown option");
        }
    }
    if (optind >= argc) return UsageError("no command given");
    const std::string name = argv[optind];
    const Command* command = FindCommand(Commands(), name);
    if (!command) return UsageError("unknown command \"" + name + "\"");
    Console console(stdout, stderr, json, isatty(STDOUT_FILENO) != 0);
    return command->run(argc - optind, argv + optind, console);
}
