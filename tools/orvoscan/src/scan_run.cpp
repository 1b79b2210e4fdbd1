#include "scan_run.h"

#include <sys/stat.h>

#include <cstdio>

#include "exit_codes.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/micr_file.h"
#include "orvo/scanrun/micr_record.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/run_settings.h"

namespace orvoscan {

namespace sr = orvo::scanrun;
using nlohmann::json;

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FormatText(const char* fmt, int value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

}  // namespace

int RunScan(const DriverApi& driver, const ScanOptions& options, Console& console,
            const volatile std::sig_atomic_t* stop) {
    if (!driver.getOneImage || !driver.micrDataBufPtr || !driver.micrDataSize) {
        console.Error("this driver library cannot hand out pages (OrvoScan_GetOneImage missing)");
        return kExitNoScanner;
    }
    const sr::OutputLocation location = sr::SplitOutputPath(options.output);

    // Output format: the one asked for, else by the extension exactly as the
    // desktop utility chooses it (other extensions keep the driver's format).
    const int format =
        options.format >= 0 ? options.format : sr::ImageFormatForExtension(location.extension);
    if (format >= 0) driver.imageFormat(format);

    const int started = driver.startBatch(options.profile.c_str());
    if (started != 0) {
        console.Error(sr::DriverErrorText(started, 0));
        console.Event({{"event", "error"},
                       {"stage", "start"},
                       {"result", started},
                       {"message", sr::DriverErrorText(started, 0)}});
        return ExitForStartBatch(started);
    }
    console.Line("Warming up...Please wait...!");

    const bool twoSided = sr::ProfileSide(options.settingsFile, options.profile) != 0;
    const bool micr = sr::MicrDetect(options.settingsFile) != 0;
    console.Event({{"event", "start"},
                   {"profile", options.profile},
                   {"twoSided", twoSided},
                   {"micr", micr},
                   {"directory", location.directory},
                   {"micrFile", sr::MicrFilePath(location)},
                   {"start", options.start}});

    sr::MicrFile micrFile(sr::MicrFilePath(location));
    sr::MicrStatistics stats;
    int p = sr::FirstPage(options.start, twoSided);
    int result = 0;
    bool interrupted = false;
    bool outputFailed = false;
    int pagesWritten = 0;
    int pagesMissing = 0;

    for (;; ++p) {
        // Interruption takes effect between cheques: a rear page still
        // belongs to the cheque whose front was taken.
        if (stop && *stop && sr::PageCarriesMicr(twoSided, p)) {
            interrupted = true;
            break;
        }
        const sr::PageName name = sr::NamePage(location, twoSided, p);
        int height = 0;
        result = driver.getOneImage(name.path.c_str(), &height);
        if (result != 0) break;

        const bool written = IsRegularFile(name.path);
        written ? ++pagesWritten : ++pagesMissing;
        if (!written) console.Error("page " + name.displayName + ": no image file was written");

        json event = {{"event", "page"},          {"page", p},
                      {"number", name.number},    {"side", name.front ? "F" : "R"},
                      {"name", name.displayName}, {"path", name.path},
                      {"written", written}};
        std::string progress = FormatText("Saving %dth page...", p) + " " + name.path;

        if (micr && sr::PageCarriesMicr(twoSided, p)) {
            // The text first, then its size, as the desktop utility reads them.
            const char* text = driver.micrDataBufPtr();
            const int size = driver.micrDataSize();
            const sr::MicrLine line = sr::TakeMicr(text, size);
            stats.Add(line);
            const std::string record = sr::FormatMicrRecord(name.number, line);
            event["micr"] = line.text;
            event["micrError"] = line.error;
            event["record"] = record.substr(0, record.size() - 2);
            progress += "  " + record.substr(0, record.size() - 2);
            if (!micrFile.Append(record)) {
                console.Event(event);
                console.Progress(progress);
                console.Error(micrFile.error());
                outputFailed = true;
                ++p;  // this page was delivered
                break;
            }
        }
        if (micr) {
            event["good"] = stats.good();
            event["bad"] = stats.bad();
            progress += "  (MICR OK " + std::to_string(stats.good()) + ", ERR " +
                        std::to_string(stats.bad()) + ")";
        }
        console.Event(event);
        console.Progress(progress);
    }

    const uint32_t deviceError = result == -100 ? driver.getDeviceError() : 0;
    if (sr::ReportsDriverResult(result)) {
        const std::string message = sr::DriverErrorText(result, deviceError);
        console.Error(message.empty()
                          ? "the driver ended the batch with result " + std::to_string(result)
                          : message);
    }
    driver.endBatch();
    console.Line("Scanning finished.");
    if (interrupted) console.Error("interrupted; the pages taken so far are kept");

    const int nextStart = sr::StartNumberAfter(twoSided, p);
    if (micr) console.Line(stats.Text());
    console.Line("Next start number: " + std::to_string(nextStart));

    int exitCode = ExitForBatchEnd(result);
    if (interrupted) {
        exitCode = kExitInterrupted;
    } else if (outputFailed || (exitCode == kExitDone && pagesMissing > 0)) {
        exitCode = kExitOutput;
    }
    json end = {{"event", "end"},         {"result", result},
                {"pages", pagesWritten},  {"missingPages", pagesMissing},
                {"nextStart", nextStart}, {"interrupted", interrupted},
                {"exitCode", exitCode}};
    if (result == -100) {
        end["deviceError"] = deviceError;
        end["message"] = sr::DriverErrorText(result, deviceError);
    }
    if (micr) {
        end["good"] = stats.good();
        end["bad"] = stats.bad();
        end["rate"] = stats.rate();
        end["statistics"] = stats.Text();
    }
    console.Event(end);
    return exitCode;
}

}  // namespace orvoscan
