#include "dialog_commands.h"

#include <getopt.h>
#include <strings.h>

#include <cstdlib>
#include <string>

#include "command_table.h"
#include "exit_codes.h"
#include "orvo/platform/dirs.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"

namespace orvoscan {

namespace {

namespace sr = orvo::scanrun;

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

std::string TraceLog() {
    const char* env = std::getenv("ORVOSCAN_TRACE_DIR");
    std::string dir = env && *env ? env : orvo::platform::PrivateTempDir();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + "log.txt";
}

int NoDisplay(Console& console, const char* what) {
    console.Error(std::string(what) +
                  " opens a dialog and needs a display: DISPLAY or WAYLAND_DISPLAY is not set");
    console.Event({{"event", "error"}, {"stage", "display"}});
    return kExitFailure;
}

// Reports a failed dialog call with the driver's message and what to look at.
void ReportDialogFailure(Console& console, const char* stage, int result,
                         const std::string& library) {
    console.Error(sr::DriverErrorText(result, 0));
    if (result == ORVOSCAN_ERR_RESOURCE || result == ORVOSCAN_ERR_QA_LIBRARY) {
        console.Error("the dialog could not be shown: " + library + " missing in " +
                      sr::DriverSystemDir() + ", or no usable display (the reason is in " +
                      TraceLog() + ")");
    } else if (result == ORVOSCAN_ERR_SETTINGS) {
        console.Error("the profile could not be stored in " +
                      sr::SettingsFilePath(sr::DriverSystemDir()) + " (see " + TraceLog() + ")");
    }
    console.Event({{"event", "error"}, {"stage", stage}, {"result", result}});
}

}  // namespace

bool DisplayConfigured() {
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

int RunSetupCommand(int argc, char** argv, Console& console) {
    static const option kOptions[] = {{"profile", required_argument, nullptr, 'p'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    std::string profile;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, "p:h", kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'p':
                profile = optarg;
                break;
            case 'h':
                std::printf(
                    "Usage: orvoscan setup --profile NAME\n"
                    "Edit the scanner settings of a profile in the driver's settings dialog.\n"
                    "OK stores the changes, Cancel the profile as it was; a new NAME becomes\n"
                    "a profile with the values of \"Default\". Needs a display.\n");
                return kExitDone;
            default:
                return UsageError("setup: unknown option");
        }
    }
    if (optind < argc) {
        return UsageError(std::string("setup: unexpected argument \"") + argv[optind] + "\"");
    }
    if (profile.empty()) return UsageError("setup needs --profile NAME");
    if (strcasecmp(profile.c_str(), "Misc") == 0) {
        return UsageError("\"" + profile +
                          "\" holds the settings shared by all profiles; it is no profile");
    }
    if (!DisplayConfigured()) return NoDisplay(console, "setup");

    // The settings file is known once the driver has started, even without
    // a scanner: a failure to find one does not stop the editing.
    sr::ExportedDriver driver;
    const int init = driver.Init();
    if (init == ORVOSCAN_ERR_DRIVER) {
        console.Error(sr::DriverErrorText(init, 0));
        return ExitForInit(init);
    }
    const int result = driver.Setup(nullptr, profile.c_str());
    if (init == ORVOSCAN_OK) driver.End();
    if (result != ORVOSCAN_OK) {
        ReportDialogFailure(console, "setup", result, "libK4TRRsrc.so");
        return result == ORVOSCAN_ERR_SETTINGS ? kExitSettings : kExitFailure;
    }
    const std::string file = sr::SettingsFilePath(sr::DriverSystemDir());
    console.Event({{"event", "setup"}, {"profile", profile}, {"settingsFile", file}});
    console.Line("Profile \"" + profile + "\" stored in " + file + ".");
    return kExitDone;
}

int QaDialogCommand(int argc, char**, Console& console) {
    if (argc != 1) return UsageError("qa dialog takes no arguments");
    if (!DisplayConfigured()) return NoDisplay(console, "qa dialog");
    sr::ExportedDriver driver;
    const int init = driver.Init();
    if (init != ORVOSCAN_OK) {
        console.Error(sr::DriverErrorText(init, 0));
        console.Event({{"event", "error"}, {"stage", "init"}, {"result", init}});
        return ExitForInit(init);
    }
    const int result = driver.SetupQa(nullptr);
    driver.End();
    if (result != ORVOSCAN_OK) {
        ReportDialogFailure(console, "qa dialog", result, "libK4TRQa.so");
        return result == ORVOSCAN_ERR_NO_SCSI ? kExitDevice : kExitFailure;
    }
    console.Event({{"event", "qa dialog closed"}});
    console.Line("QA dialog closed.");
    return kExitDone;
}

}  // namespace orvoscan
