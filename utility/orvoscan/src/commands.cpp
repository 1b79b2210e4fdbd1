#include "commands.h"

#include <cstdio>
#include <cstdlib>

#include "aspi_diagnostic.h"
#include "exit_codes.h"
#include "orvo/platform/dirs.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"

namespace orvoscan {

namespace sr = orvo::scanrun;
using nlohmann::json;

namespace {

std::string TraceDir() {
    const char* env = std::getenv("ORVOSCAN_TRACE_DIR");
    if (env && *env) return env;
    std::string error;
    const std::string dir = orvo::platform::PrivateTempDir(&error);
    return dir.empty() ? "(none: " + error + ")" : dir;
}

// Starts the driver and reports a failure; the exit code, 0 when started.
int StartDriver(sr::Driver& driver, Console& console) {
    const int result = driver.Init();
    if (result != ORVOSCAN_OK) {
        const std::string message = sr::DriverErrorText(result, 0);
        console.Error(message.empty() ? "driver start failed with result " + std::to_string(result)
                                      : message);
        console.Event(
            {{"event", "error"}, {"stage", "init"}, {"result", result}, {"message", message}});
    }
    return ExitForInit(result);
}

}  // namespace

int RunInfo(sr::Driver& driver, Console& console) {
    const std::string version = driver.Version();
    const int initResult = driver.Init();
    const std::string initMessage =
        initResult == ORVOSCAN_OK ? std::string("started") : sr::DriverErrorText(initResult, 0);
    const SweepResult sweep = SweepAspi();
    const std::string systemDir = sr::DriverSystemDir();
    const std::string settings = sr::SettingsFilePath(systemDir);
    const std::vector<std::string> profiles = sr::ListProfiles(settings);
    const std::string traceDir = TraceDir();

    json devices = json::array();
    for (const FoundDevice& d : sweep.devices) {
        devices.push_back({{"adapter", d.adapter},
                           {"target", d.target},
                           {"vendor", d.vendor},
                           {"product", d.product}});
    }
    console.Event({{"event", "info"},
                   {"version", version},
                   {"init", initResult},
                   {"initMessage", initMessage},
                   {"aspi", sweep.aspiWorks},
                   {"adapters", sweep.adapters},
                   {"devices", devices},
                   {"systemDir", systemDir},
                   {"settingsFile", settings},
                   {"profiles", profiles},
                   {"traceDir", traceDir}});

    console.Line("Driver version:   " + version);
    console.Line("Driver start:     " + std::to_string(initResult) + " " + initMessage);
    if (!sweep.aspiWorks) {
        console.Line("ASPI:             no host adapter");
    } else {
        console.Line("ASPI:             " + std::to_string(sweep.adapters) + " host adapter(s)");
        for (const FoundDevice& d : sweep.devices) {
            console.Line("  adapter " + std::to_string(d.adapter) + ", target " +
                         std::to_string(d.target) + ": " + d.vendor + " " + d.product);
        }
        if (sweep.devices.empty()) console.Line("  no device answered");
    }
    console.Line("System directory: " + systemDir);
    console.Line("Settings file:    " + settings);
    std::string list;
    for (const std::string& p : profiles) list += (list.empty() ? "" : ", ") + p;
    console.Line("Profiles:         " + (list.empty() ? std::string("(none)") : list));
    console.Line("Trace directory:  " + traceDir);
    if (initResult == ORVOSCAN_OK) driver.End();
    return ExitForInit(initResult);
}

int RunQaRead(sr::Driver& driver, Console& console) {
    if (const int code = StartDriver(driver, console); code != 0) return code;
    unsigned char qa[12] = {};
    const int result = driver.RestoreSettingsQa(qa);
    driver.End();
    if (result != ORVOSCAN_OK) {
        console.Error(sr::DriverErrorText(result, 0));
        console.Event({{"event", "error"}, {"stage", "qa read"}, {"result", result}});
        return result == ORVOSCAN_ERR_NO_SCSI ? kExitDevice : kExitFailure;
    }
    json bytes = json::array();
    std::string line;
    for (unsigned char b : qa) {
        bytes.push_back(b);
        line += (line.empty() ? "" : " ") + std::to_string(b);
    }
    console.Event({{"event", "qa"}, {"bytes", bytes}});
    console.Line(line);
    return kExitDone;
}

int RunQaWrite(sr::Driver& driver, const std::vector<std::string>& values, Console& console) {
    if (values.size() != 10) {
        console.Error("qa write needs exactly 10 byte values");
        return kExitUsage;
    }
    unsigned char qa[10] = {};
    for (std::size_t i = 0; i < values.size(); ++i) {
        char* end = nullptr;
        const long v = std::strtol(values[i].c_str(), &end, 0);
        if (values[i].empty() || *end != '\0' || v < 0 || v > 255) {
            console.Error("qa write: \"" + values[i] + "\" is not a byte value (0-255)");
            return kExitUsage;
        }
        qa[i] = static_cast<unsigned char>(v);
    }
    if (const int code = StartDriver(driver, console); code != 0) return code;
    const int result = driver.SaveSettingsQa(qa);
    driver.End();
    if (result != ORVOSCAN_OK) {
        console.Error(sr::DriverErrorText(result, 0));
        console.Event({{"event", "error"}, {"stage", "qa write"}, {"result", result}});
        return result == ORVOSCAN_ERR_NO_SCSI ? kExitDevice : kExitFailure;
    }
    console.Event({{"event", "qa written"}});
    console.Line("QA block written.");
    return kExitDone;
}

}  // namespace orvoscan
