// One scan run: the rules the desktop utility's SCAN command and `orvoscan
// scan` share, so that every cheque ends with its page files and its micr.txt
// record, or the run stops and says why.
//
// A ScanRun has no loop and no thread of its own: the caller drives it one
// page at a time, so a window can repaint between pages. On a UI thread:
//
//     ScanRun run(driver, setup);            // driver: ExportedDriver, or a stand-in
//     StartCheck check = run.Check();        // nothing is fed yet
//     if (check.problem == StartProblem::PageExists) {
//         // ask "overwrite <check.existingPage>?"; on OK:
//         run.AllowOverwrite();
//     } else if (check.problem != StartProblem::None) {
//         // show check.message; no batch
//     }
//     // check.frontsWithoutRecord: front pages of earlier runs without a
//     // record in micr.txt; tell the operator (a warning, no refusal).
//     if (run.Start()) {                      // opens micr.txt, OrvoScan_StartBatch
//         for (;;) {
//             const PageStep step = run.Next();   // one OrvoScan_GetOneImage
//             if (step.taken) { list and show step.name.path, step.record ... }
//             if (step.ended) break;
//             // process pending paint events; a close request: run.RequestStop()
//         }
//     }
//     const RunOutcome& end = run.outcome();
//     // ShowDriverError(end.driverResult) when ReportsDriverResult() says so
//     // (end.driverMessage holds its text); end.problem names the file and
//     // the reason when the run itself found a fault; start number :=
//     // end.nextStartNumber; statistics: run.statistics().Text().
//
// Start() repeats the checks and refuses what Check() refuses. When the run
// ends, the driver batch has been ended (OrvoScan_EndBatch) already.
//
// The rules:
// - One run at a time per output directory (orvo/scanrun/output_lock.h):
//   Start() refuses at once, naming the holder, while another run of any
//   program writes there.
// - Before the batch: the profile holds only values the scanner and the
//   page writers take (orvo/core/profile_values.h, as the driver checks); the
//   start number is 0-9999999; the pages' directory exists; the longest page
//   name of the run (document 9999999) fits the file system; micr.txt (when
//   MICR is recorded) is a regular file, not a symbolic link, or can be
//   created, and is opened before the first cheque is fed; no page file the
//   run would write exists yet, unless overwriting was allowed.
// - A page whose file was not written (-12, or 0 without a new file on
//   disk) ends the run at once; no record is written for it.
// - A record is whole or absent in micr.txt; a record that cannot be written
//   ends the run and names the front page that has no record.
// - A run ends before a cheque whose number would pass 9999999.
// - The next start number is that of the first cheque of the run whose
//   front page is not on disk.
//
// Programs that use a ScanRun ignore SIGXFSZ, so that a write past the file
// size limit fails and is reported rather than ending the process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvo/scanrun/driver.h"
#include "orvo/scanrun/micr_file.h"
#include "orvo/scanrun/micr_record.h"
#include "orvo/scanrun/output_lock.h"
#include "orvo/scanrun/output_survey.h"
#include "orvo/scanrun/page_naming.h"

namespace orvo::scanrun {

struct RunSetup {
    OutputLocation location;   // SplitOutputPath of the chosen path (absolute)
    std::string settingsFile;  // the driver's OrvoScan.ini (SettingsFilePath)
    std::string profile;
    int startNumber = 1;
    bool twoSided = true;    // ProfileSide() != 0
    bool micr = true;        // MicrDetect() != 0
    bool overwrite = false;  // page files of earlier runs may be replaced
};

// The set-up of a run of `profile` into `location` from `startNumber`, with
// the sides and MICR recording the settings file holds for it; no overwriting.
RunSetup MakeRunSetup(const OutputLocation& location, const std::string& settingsFile,
                      const std::string& profile, int startNumber);

enum class StartProblem {
    None,
    Settings,         // the profile holds a value the scanner or the writers cannot take
    StartNumber,      // start number outside 0-9999999
    OutputDirectory,  // the pages' directory is missing or cannot be written
    PageName,         // page names of the run would be longer than the file system takes
    MicrFile,         // micr.txt is no regular file, or cannot be written or created
    PageExists,       // a page file the run would write exists (overwrite not allowed)
    OutputInUse,      // another run (of any program) writes into the same directory now
};

struct StartCheck {
    StartProblem problem = StartProblem::None;
    std::string message;       // for the operator: the file and the reason
    std::string existingPage;  // PageExists: the first page file the run would replace
    // Front page files of the output without a record in micr.txt (only
    // when MICR is recorded). Reported, not refused.
    std::vector<std::string> frontsWithoutRecord;
    // Front page files of a two-sided output whose rear page file is missing
    // (a run ended between the two sides). Reported, not refused.
    std::vector<std::string> frontsWithoutRear;
    // Front page files of whole cheques without a line in quality.txt (its
    // line was not written: a full disk). Reported, not refused.
    std::vector<std::string> chequesWithoutQuality;
    // The start number after the highest document number found in the
    // output's page files and micr.txt (1 when there is none).
    int continueNumber = 1;
};

// The pre-start checks, without the driver.
StartCheck CheckStart(const RunSetup& setup);

// One page taken (or not) by ScanRun::Next().
struct PageStep {
    bool taken = false;  // the page file is on disk under name.path
    int page = 0;        // page counter p
    PageName name;
    bool hasRecord = false;  // a MICR-carrying page: record below, written to micr.txt
    MicrLine micr;
    std::string record;  // "%07d%1d%s" + CR LF
    bool ended = false;  // the run has ended; outcome() says why
};

enum class RunEnd {
    Running,
    NotStarted,      // refused by the checks, stopped before the start, or StartBatch failed
    Finished,        // the driver said there are no more documents (-3)
    DriverError,     // another driver result (device error, ...)
    PageNotWritten,  // a page file was not written
    MicrFileError,   // a record could not be written to micr.txt
    NumberLimit,     // the next cheque's number would pass 9999999
    Stopped,         // RequestStop() or Interrupt()
};

struct RunOutcome {
    RunEnd end = RunEnd::Running;
    StartProblem refusal = StartProblem::None;  // NotStarted by the checks
    int driverResult = 0;                       // the result that ended the run
    uint32_t deviceError = 0;                   // for -100
    // The driver's message for driverResult (DriverErrorText); empty when
    // there is nothing to show (0, -3).
    std::string driverMessage;
    // What the run itself found: the file and the reason; empty otherwise.
    std::string problem;
    int pagesTaken = 0;
    int nextStartNumber = 0;
};

class ScanRun {
  public:
    ScanRun(Driver& driver, RunSetup setup);
    ~ScanRun();
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    const RunSetup& setup() const { return setup_; }
    StartCheck Check() const { return CheckStart(setup_); }
    // The operator agreed to replace the page files of an earlier run.
    void AllowOverwrite() { setup_.overwrite = true; }

    // Checks, opens micr.txt and starts the driver batch. False when the
    // run did not start; outcome() says why.
    bool Start();
    // Takes the next page. After a step with `ended` set, further calls
    // return such a step at once.
    PageStep Next();

    // The run ends before the next cheque (a two-sided cheque whose front was
    // taken still gets its rear page). Same thread as Next().
    void RequestStop();
    // From any other thread (e.g. a signal-handling thread) once the batch
    // runs: the driver's EndBatch, which ends the batch after the cheque the
    // scanner is reading (at once while it waits for one); Next() goes on
    // taking that cheque's pages and then ends the run. A second call ends
    // the batch at once. Before the batch runs: as RequestStop.
    void Interrupt();

    bool running() const { return outcome_.end == RunEnd::Running && started_; }
    const RunOutcome& outcome() const { return outcome_; }
    const MicrStatistics& statistics() const { return statistics_; }
    // The page counter of the next page to request.
    int page() const { return page_; }

  private:
    PageStep End(PageStep step, RunEnd end, int driverResult, std::string problem);

    Driver& driver_;
    RunSetup setup_;
    MicrFile micrFile_;
    std::unique_ptr<OutputLock> outputLock_;  // from Start() to the end of the run
    MicrStatistics statistics_;
    RunOutcome outcome_;
    bool started_ = false;
    int page_ = 0;

    // Shared with Interrupt().
    std::mutex mutex_;
    bool stop_ = false;
    bool batchOpen_ = false;  // from StartBatch to the run's own EndBatch
    bool endedByInterrupt_ = false;
};

}  // namespace orvo::scanrun
