#include "scan_command.h"

#include <getopt.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_table.h"
#include "exit_codes.h"
#include "orvo/core/scan_kinds.h"
#include "orvo/platform/dirs.h"
#include "orvo/platform/profile.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/scanrun/scan_run.h"
#include "orvoscan.h"
#include "quality_command.h"
#include "stop_signals.h"

namespace orvoscan {

namespace sr = orvo::scanrun;
using nlohmann::json;

namespace {

// How many front pages without a record are named one by one.
constexpr std::size_t kNamedFronts = 10;

// A start number: 0 to 9999999 (the document number field has seven digits).
bool ParseStart(const char* text, int* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || v < 0 || v > sr::kLastDocumentNumber) {
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

bool SectionExists(const std::string& file, const std::string& name) {
    for (const std::string& section : orvo::platform::ProfileSectionNames(file)) {
        if (strcasecmp(section.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

std::string FormatText(const char* fmt, int value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

const char* ProblemName(sr::StartProblem problem) {
    switch (problem) {
        case sr::StartProblem::None:
            return "none";
        case sr::StartProblem::Settings:
            return "settings";
        case sr::StartProblem::StartNumber:
            return "startNumber";
        case sr::StartProblem::OutputDirectory:
            return "outputDirectory";
        case sr::StartProblem::PageName:
            return "pageName";
        case sr::StartProblem::MicrFile:
            return "micrFile";
        case sr::StartProblem::PageExists:
            return "pageExists";
        case sr::StartProblem::OutputInUse:
            return "outputInUse";
    }
    return "none";
}

const char* EndName(sr::RunEnd end) {
    switch (end) {
        case sr::RunEnd::Running:
            return "running";
        case sr::RunEnd::NotStarted:
            return "notStarted";
        case sr::RunEnd::Finished:
            return "finished";
        case sr::RunEnd::DriverError:
            return "driverError";
        case sr::RunEnd::PageNotWritten:
            return "pageNotWritten";
        case sr::RunEnd::MicrFileError:
            return "micrFileError";
        case sr::RunEnd::NumberLimit:
            return "numberLimit";
        case sr::RunEnd::Stopped:
            return "interrupted";
    }
    return "running";
}

int ExitForOutcome(const sr::RunOutcome& outcome) {
    switch (outcome.end) {
        case sr::RunEnd::Running:
        case sr::RunEnd::Finished:
            return kExitDone;
        case sr::RunEnd::Stopped:
            return kExitInterrupted;
        case sr::RunEnd::NotStarted:
            return outcome.driverResult != 0 ? ExitForStartBatch(outcome.driverResult)
                                             : kExitOutput;
        case sr::RunEnd::DriverError:
            return ExitForBatchEnd(outcome.driverResult);
        case sr::RunEnd::PageNotWritten:
        case sr::RunEnd::MicrFileError:
        case sr::RunEnd::NumberLimit:
            return kExitOutput;
    }
    return kExitFailure;
}

// Everything a scan run tells its user, each happening in one place and from
// the same values to both outputs of the console: text for people (stdout,
// and stderr for errors and warnings) and one JSON event a line.
class RunReporter {
  public:
    explicit RunReporter(Console& console) : console_(console) {}

    void Continuing(int startNumber) {
        console_.Line("Continuing with document " + std::to_string(startNumber) + ".");
    }

    // A refusal before the batch: the message, and what to do about it; the
    // exit code.
    int Refused(const sr::StartCheck& check) {
        std::string text = check.message;
        if (check.problem == sr::StartProblem::PageExists) {
            text += ".\nUse --continue to start after the highest document number found (" +
                    std::to_string(check.continueNumber) +
                    " is next), or --overwrite to replace those pages.";
        }
        console_.Error(text);
        json event = {{"event", "error"},
                      {"stage", "check"},
                      {"problem", ProblemName(check.problem)},
                      {"message", check.message},
                      {"continueStart", check.continueNumber}};
        if (!check.existingPage.empty()) event["existingPage"] = check.existingPage;
        console_.Event(event);
        switch (check.problem) {
            case sr::StartProblem::Settings:
                return kExitSettings;
            case sr::StartProblem::OutputInUse:
                return kExitOutputInUse;
            default:
                return kExitOutput;
        }
    }

    // Front pages an earlier run left without their record, their rear page or
    // their quality.txt line.
    void IncompleteCheques(const sr::StartCheck& check) {
        const struct {
            const std::vector<std::string>& fronts;
            const char* lack;
            const char* key;
        } kinds[] = {
            {check.frontsWithoutRecord, "a record in micr.txt", "frontsWithoutRecord"},
            {check.frontsWithoutRear, "a rear page", "frontsWithoutRear"},
            {check.chequesWithoutQuality, "a line in quality.txt", "chequesWithoutQuality"}};
        for (const auto& kind : kinds) {
            const std::vector<std::string>& fronts = kind.fronts;
            if (fronts.empty()) continue;
            const std::string lack = kind.lack;
            for (std::size_t i = 0; i < fronts.size() && i < kNamedFronts; ++i) {
                console_.Error("warning: " + fronts[i] + " has no " + lack.substr(2));
            }
            if (fronts.size() > kNamedFronts) {
                console_.Error("warning: and " + std::to_string(fronts.size() - kNamedFronts) +
                               " more front pages without " + lack);
            }
            console_.Event({{"event", "warning"}, {kind.key, fronts}});
        }
    }

    // `why`: the reason the settings writer gave, if it left one.
    void FormatNotStored(int format, const std::string& why) {
        console_.Error("warning: the output format could not be stored in OrvoScan.ini" +
                       (why.empty() ? std::string() : " (" + why + ")") +
                       "; this run uses it all the same");
        console_.Event({{"event", "warning"}, {"formatNotStored", format}, {"reason", why}});
    }

    int InterruptedBeforeStart(const sr::RunOutcome& outcome) {
        console_.Error("interrupted before the batch started");
        console_.Event({{"event", "end"},
                        {"result", 0},
                        {"interrupted", true},
                        {"nextStart", outcome.nextStartNumber},
                        {"exitCode", kExitInterrupted}});
        return kExitInterrupted;
    }

    // The driver refused the batch; the exit code.
    int StartRefused(const sr::RunOutcome& outcome) {
        const std::string& message = outcome.driverMessage;
        console_.Error(message.empty() ? "the driver refused the batch with result " +
                                             std::to_string(outcome.driverResult)
                                       : message);
        console_.Event({{"event", "error"},
                        {"stage", "start"},
                        {"result", outcome.driverResult},
                        {"message", message}});
        return ExitForOutcome(outcome);
    }

    void Started(const sr::RunSetup& setup) {
        console_.Line("Warming up...Please wait...!");
        console_.Event({{"event", "start"},
                        {"profile", setup.profile},
                        {"twoSided", setup.twoSided},
                        {"micr", setup.micr},
                        {"directory", setup.location.directory},
                        {"micrFile", sr::MicrFilePath(setup.location)},
                        {"qualityFile", sr::QualityFilePath(setup.location)},
                        {"start", setup.startNumber}});
    }

    // A page on disk, with its record and its cheque's quality check.
    void Page(const sr::PageStep& step, const sr::ScanRun& run, const sr::CheckedPage* checked) {
        const sr::MicrStatistics& stats = run.statistics();
        json event = {{"event", "page"},
                      {"page", step.page},
                      {"number", step.name.number},
                      {"side", step.name.front ? "F" : "R"},
                      {"name", step.name.displayName},
                      {"path", step.name.path}};
        std::string progress = FormatText("Saving %dth page...", step.page) + " " + step.name.path;
        if (step.hasRecord) {
            const std::string record = step.record.substr(0, step.record.size() - 2);
            event["micr"] = step.micr.text;
            event["micrError"] = step.micr.error;
            event["record"] = record;
            progress += "  " + record;
        }
        if (run.setup().micr) {
            event["good"] = stats.good();
            event["bad"] = stats.bad();
            progress += "  (MICR OK " + std::to_string(stats.good()) + ", ERR " +
                        std::to_string(stats.bad()) + ")";
        }
        if (checked && checked->error.empty()) {
            AddMeasures(checked->report, event);
            if (!checked->report.defects.empty()) {
                progress += "  defects: " + orvo::quality::DefectDetails(checked->report);
            }
        } else if (checked) {
            event["qualityError"] = checked->error;
            progress += "  (not checked)";
        }
        console_.Event(event);
        console_.Progress(progress);
    }

    void QualityRecordLost(const sr::CheckedCheque& cheque) {
        console_.Error("warning: " + cheque.recordError + "; cheque " +
                       std::to_string(cheque.number) + " has no line in quality.txt");
        console_.Event({{"event", "warning"},
                        {"qualityRecord", cheque.record},
                        {"message", cheque.recordError}});
    }

    // The end of a started run: what ended it, the statistics, the next
    // start number; the exit code.
    int Ended(const sr::ScanRun& run, const sr::ChequeQuality& quality) {
        const sr::RunOutcome& outcome = run.outcome();
        const bool micr = run.setup().micr;
        if (!outcome.driverMessage.empty()) {
            console_.Error(outcome.driverMessage);
        } else if (sr::ReportsDriverResult(outcome.driverResult) &&
                   outcome.end != sr::RunEnd::Stopped) {
            console_.Error("the driver ended the batch with result " +
                           std::to_string(outcome.driverResult));
        }
        if (!outcome.problem.empty()) console_.Error(outcome.problem);
        console_.Line("Scanning finished.");
        if (outcome.end == sr::RunEnd::Stopped) {
            console_.Error("interrupted; the pages and records written so far are kept");
        }
        const sr::MicrStatistics& stats = run.statistics();
        if (micr) console_.Line(stats.Text());
        console_.Line("Cheques with image defects: " + std::to_string(quality.flagged()) + " of " +
                      std::to_string(quality.checked()) + " (" + quality.path() + ")");
        const bool numbersLeft = outcome.nextStartNumber <= sr::kLastDocumentNumber;
        console_.Line("Next start number: " +
                      (numbersLeft ? std::to_string(outcome.nextStartNumber)
                                   : std::string("none (9999999 was the last document number)")));

        const int exitCode = ExitForOutcome(outcome);
        json end = {{"event", "end"},
                    {"end", EndName(outcome.end)},
                    {"result", outcome.driverResult},
                    {"pages", outcome.pagesTaken},
                    {"nextStart", outcome.nextStartNumber},
                    {"interrupted", outcome.end == sr::RunEnd::Stopped},
                    {"exitCode", exitCode}};
        if (!outcome.driverMessage.empty()) end["message"] = outcome.driverMessage;
        if (outcome.driverResult == ORVOSCAN_ERR_DEVICE) end["deviceError"] = outcome.deviceError;
        if (!outcome.problem.empty()) end["problem"] = outcome.problem;
        end["checked"] = quality.checked();
        end["flagged"] = quality.flagged();
        if (micr) {
            end["good"] = stats.good();
            end["bad"] = stats.bad();
            end["rate"] = stats.rate();
            end["statistics"] = stats.Text();
        }
        console_.Event(end);
        return exitCode;
    }

  private:
    Console& console_;
};

}  // namespace

int RunScan(sr::Driver& driver, const ScanOptions& options, Console& console,
            StopSignals* signals) {
    RunReporter reporter(console);
    sr::RunSetup setup = sr::MakeRunSetup(sr::SplitOutputPath(options.output), options.settingsFile,
                                          options.profile, options.start);
    setup.overwrite = options.overwrite;
    if (options.continueRun) {
        setup.startNumber = sr::CheckStart(setup).continueNumber;
        reporter.Continuing(setup.startNumber);
    }

    sr::ScanRun run(driver, setup);
    if (signals) signals->Attach(&run);
    struct Detach {
        StopSignals* signals;
        ~Detach() {
            if (signals) signals->Detach();
        }
    } detach{signals};

    const sr::StartCheck check = run.Check();
    reporter.IncompleteCheques(check);
    if (check.problem != sr::StartProblem::None) return reporter.Refused(check);

    // Output format: the one asked for, else by the extension exactly as the
    // desktop utility chooses it (other extensions keep the driver's format).
    const int format = orvo::IsImageFormat(options.format)
                           ? options.format
                           : sr::ImageFormatForExtension(setup.location.extension);
    // A format that cannot be stored in OrvoScan.ini still holds for this run.
    if (orvo::IsImageFormat(format) && driver.ImageFormat(format) == ORVOSCAN_ERR_SETTINGS) {
        std::string traceDir = orvo::platform::Env("ORVOSCAN_TRACE_DIR");
        if (traceDir.empty()) traceDir = orvo::platform::ExistingPrivateTempDir();
        reporter.FormatNotStored(format, sr::LastSettingsWriteFailure(traceDir));
    }

    const bool started = run.Start();
    if (signals) signals->Settle();
    if (!started) {
        const sr::RunOutcome& outcome = run.outcome();
        if (outcome.end == sr::RunEnd::Stopped) return reporter.InterruptedBeforeStart(outcome);
        if (outcome.refusal != sr::StartProblem::None) {
            sr::StartCheck again = run.Check();
            again.message = outcome.problem;
            again.problem = outcome.refusal;
            return reporter.Refused(again);
        }
        return reporter.StartRefused(outcome);
    }
    reporter.Started(setup);

    // Each cheque is checked once its pages are on disk; a front page is
    // reported with its rear, so that both carry the cheque's defects.
    const int fixedLines = sr::ProfileScanLines(setup.settingsFile, setup.profile);
    sr::ChequeQuality quality(setup.location, setup.twoSided, LoadLimits({}, console),
                              fixedLines != 0 ? orvo::quality::ScanLength::Fixed
                                              : orvo::quality::ScanLength::PerDocument);
    if (fixedLines != 0) {
        console.Line("Image quality: " + std::string(orvo::quality::kSizeNotJudged) +
                     " (the profile scans " + std::to_string(fixedLines) +
                     " lines; a profile with ScanLines1=0 scans each cheque to its length)");
    }
    std::vector<sr::PageStep> waiting;
    auto report = [&](const std::optional<sr::CheckedCheque>& cheque) {
        if (!cheque) return;
        for (const sr::PageStep& page : waiting) {
            const sr::CheckedPage* checked = nullptr;
            for (const sr::CheckedPage& p : cheque->pages) {
                if (p.name.path == page.name.path) checked = &p;
            }
            reporter.Page(page, run, checked);
        }
        waiting.clear();
        if (!cheque->recordError.empty()) reporter.QualityRecordLost(*cheque);
    };
    for (;;) {
        const sr::PageStep step = run.Next();
        if (step.taken) {
            // A new front page first settles a front still waiting alone.
            std::optional<sr::CheckedCheque> cheque = quality.Add(step);
            if (cheque && cheque->pages.back().name.path != step.name.path) {
                report(cheque);
                cheque.reset();
            }
            waiting.push_back(step);
            report(cheque);
        }
        if (step.ended) break;
    }
    report(quality.Finish());
    return reporter.Ended(run, quality);
}

int ScanCommand(int argc, char** argv, Console& console) {
    static const option kOptions[] = {{"profile", required_argument, nullptr, 'p'},
                                      {"output", required_argument, nullptr, 'o'},
                                      {"start", required_argument, nullptr, 's'},
                                      {"continue", no_argument, nullptr, 'c'},
                                      {"overwrite", no_argument, nullptr, 'w'},
                                      {"format", required_argument, nullptr, 'f'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    ScanOptions options;
    bool json = console.json();
    bool startGiven = false;
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
                    return UsageError(std::string("--start needs a number 0-9999999, not \"") +
                                      optarg + "\"");
                startGiven = true;
                break;
            case 'c':
                options.continueRun = true;
                break;
            case 'w':
                options.overwrite = true;
                break;
            case 'f': {
                const std::string f = optarg;
                options.format = f == "tif"   ? ORVOSCAN_FORMAT_TIFF
                                 : f == "bmp" ? ORVOSCAN_FORMAT_DIB
                                 : f == "raw" ? ORVOSCAN_FORMAT_RAW
                                              : -1;
                if (!orvo::IsImageFormat(options.format))
                    return UsageError("--format is tif, bmp or raw");
                break;
            }
            case 'j':
                json = true;
                break;
            case 'h':
                PrintUsage(stdout);
                return kExitDone;
            default:
                return UsageError("scan: unknown option");
        }
    }
    if (optind < argc)
        return UsageError(std::string("scan: unexpected argument \"") + argv[optind] + "\"");
    if (options.profile.empty()) return UsageError("scan needs --profile NAME");
    if (options.output.empty()) return UsageError("scan needs --output PATH");
    if (startGiven && options.continueRun)
        return UsageError("--start and --continue exclude each other");

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
    if (options.output.back() == '/' ||
        options.output.find('.', options.output.rfind('/')) == std::string::npos) {
        // Without an extension the prefix would be cut at a '.' of the
        // directory part and the pages would land outside the directory.
        return UsageError("--output needs a file name with an extension, e.g. /data/scan/A.tif");
    }
    const sr::OutputLocation loc = sr::SplitOutputPath(options.output);
    if (access(loc.directory.empty() ? "/" : loc.directory.c_str(), W_OK | X_OK) != 0) {
        out.Error("output directory " + (loc.directory.empty() ? std::string("/") : loc.directory) +
                  ": " + std::strerror(errno));
        return kExitOutput;
    }

    // Before the driver starts any thread of its own: from now on Ctrl-C and
    // the like reach the run through a thread of their own.
    StopSignals signals;

    sr::ExportedDriver driver;
    const int initResult = driver.Init();
    if (initResult != ORVOSCAN_OK) {
        const std::string message = sr::DriverErrorText(initResult, 0);
        out.Error(message.empty() ? "driver start failed with result " + std::to_string(initResult)
                                  : message);
        out.Event(
            {{"event", "error"}, {"stage", "init"}, {"result", initResult}, {"message", message}});
        return ExitForInit(initResult);
    }
    options.settingsFile = sr::SettingsFilePath(sr::DriverSystemDir());
    // A settings file that cannot be read is named with the reason, not as
    // one without the profile.
    std::string settingsText, unreadable;
    if (!orvo::platform::ReadProfileText(options.settingsFile, settingsText, &unreadable)) {
        out.Error(unreadable);
        out.Event({{"event", "error"}, {"stage", "profile"}, {"message", unreadable}});
        driver.End();
        return kExitSettings;
    }
    if (strcasecmp(options.profile.c_str(), "MISC") == 0 ||
        !SectionExists(options.settingsFile, options.profile)) {
        out.Error("no profile \"" + options.profile + "\" in " + options.settingsFile);
        out.Event({{"event", "error"}, {"stage", "profile"}, {"profile", options.profile}});
        driver.End();
        return kExitSettings;
    }

    const int code = RunScan(driver, options, out, signals.ok() ? &signals : nullptr);
    driver.End();
    return code;
}

}  // namespace orvoscan
