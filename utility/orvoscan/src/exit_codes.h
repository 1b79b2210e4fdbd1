// orvoscan's exit codes: the one list. `orvoscan --help` prints kExitStatuses;
// a test holds the lists of orvoscan(1), utility/orvoscan/README.md and the
// top README to the same codes.
#pragma once

namespace orvoscan {

enum ExitCode {
    kExitDone = 0,       // finished
    kExitFailure = 1,    // another driver failure (e.g. a QA transfer)
    kExitUsage = 2,      // wrong command line
    kExitNoScanner = 3,  // driver start failed: no scanner, no SCSI, no driver, code tables
    kExitSettings = 4,  // settings error: unknown profile, a refused value, illegal endorser format
    kExitDevice = 5,    // the scanner reported a device error (jam, double feed, ...)
    kExitOutput = 6,    // a page file or record not written, micr.txt unusable, pages in the way
    kExitUnreadable = 7,    // quality: a page file could not be read
    kExitOutputInUse = 8,   // another run (of any program) writes into the output now
    kExitInterrupted = 130  // stopped by SIGINT or SIGTERM
};

// Each exit code with its meaning as `orvoscan --help` shows it (a second
// line of a meaning starts with a line feed and seven blanks).
struct ExitStatus {
    ExitCode code;
    const char* meaning;
};

inline constexpr ExitStatus kExitStatuses[] = {
    {kExitDone, "done (the batch ended normally)"},
    {kExitFailure, "another driver failure"},
    {kExitUsage, "wrong command line"},
    {kExitNoScanner, "driver start failed: no scanner, no SCSI support, driver or code tables"},
    {kExitSettings,
     "settings error: unknown profile, a value the scanner cannot take,\n"
     "       illegal endorser format"},
    {kExitDevice, "scanner device error (jam, double feed, cover open, ...)"},
    {kExitOutput,
     "output error: a page file or micr.txt record not written, micr.txt\n"
     "       unusable, pages of an earlier run in the way, document numbers used up"},
    {kExitUnreadable, "quality: a page file could not be read (the others are checked)"},
    {kExitOutputInUse, "the output is in use by another scan run (named); nothing was fed"},
    {kExitInterrupted, "interrupted"},
};

// Exit code for a non-zero result of OrvoScan_Init.
int ExitForInit(int result);
// Exit code for a non-zero result of OrvoScan_StartBatch.
int ExitForStartBatch(int result);
// Exit code for the result that ended the page loop (-3 is the normal end).
int ExitForBatchEnd(int result);

}  // namespace orvoscan
