#include "orvo/scanrun/scan_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"

namespace orvo::scanrun {

RunSetup MakeRunSetup(const OutputLocation& location, const std::string& settingsFile,
                      const std::string& profile, int startNumber) {
    RunSetup setup;
    setup.location = location;
    setup.settingsFile = settingsFile;
    setup.profile = profile;
    setup.startNumber = startNumber;
    setup.twoSided = ProfileSide(settingsFile, profile) != 0;
    setup.micr = MicrDetect(settingsFile) != 0;
    return setup;
}

namespace {

// The directory the page files go to: the prefix path's directory part.
std::string PagesDirectory(const OutputLocation& location) {
    const std::size_t slash = location.prefixPath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return location.prefixPath.substr(0, slash);
}

// What a page path holds before the driver is asked to write it, so that a
// file left from an earlier run is not taken for the new page.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec ctime{};
};

FileIdentity Identify(const std::string& path) {
    FileIdentity id;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return id;
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.ctime = st.st_ctim;
    return id;
}

// The driver writes a page under a temporary name and puts it in place when
// complete, so a written page is a regular file that was not there before.
bool WrittenSince(const FileIdentity& before, const std::string& path) {
    const FileIdentity after = Identify(path);
    if (!after.exists || !after.regular) return false;
    if (!before.exists) return true;
    return after.dev != before.dev || after.ino != before.ino || after.size != before.size ||
           after.ctime.tv_sec != before.ctime.tv_sec || after.ctime.tv_nsec != before.ctime.tv_nsec;
}

std::string WithoutLineEnd(const std::string& record) {
    return record.size() >= 2 ? record.substr(0, record.size() - 2) : record;
}

}  // namespace

StartCheck CheckStart(const RunSetup& setup) {
    StartCheck check;
    auto refuse = [&check](StartProblem problem, std::string message) {
        if (check.problem != StartProblem::None) return;
        check.problem = problem;
        check.message = std::move(message);
    };
    if (!setup.settingsFile.empty()) {
        const std::string refused = RefusedProfileValue(setup.settingsFile, setup.profile);
        if (!refused.empty()) refuse(StartProblem::Settings, "settings error: " + refused);
    }
    if (setup.startNumber < 0 || setup.startNumber > kLastDocumentNumber) {
        refuse(StartProblem::StartNumber,
               "start number " + std::to_string(setup.startNumber) +
                   " is outside 0-9999999 (document numbers have seven digits)");
    }

    const std::string dir = PagesDirectory(setup.location);
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0) {
        refuse(StartProblem::OutputDirectory, dir + ": " + std::strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        refuse(StartProblem::OutputDirectory, dir + ": not a directory");
    } else if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        refuse(StartProblem::OutputDirectory, dir + ": " + std::strerror(errno));
    }

    // The longest name the run may give a page: that of the last document number.
    const PageName longest =
        NamePage(setup.location, setup.twoSided, FirstPage(kLastDocumentNumber, setup.twoSided));
    if (std::string problem = PagePathProblem(longest.path); !problem.empty()) {
        refuse(StartProblem::PageName, problem);
    }

    if (setup.micr) {
        const std::string micrPath = MicrFilePath(setup.location);
        std::string reason;
        if (!MicrFileAppendable(micrPath, &reason)) {
            refuse(StartProblem::MicrFile, micrPath + " " + reason);
        }
    }

    const OutputSurvey survey = SurveyOutput(setup.location);
    if (!survey.error.empty()) {
        refuse(StartProblem::OutputDirectory, "cannot list " + survey.error);
    }
    check.continueNumber = survey.HighestNumber() + 1;
    if (check.continueNumber < 1) check.continueNumber = 1;
    if (setup.micr) {
        for (const PageFile& page : survey.FrontsWithoutRecord()) {
            check.frontsWithoutRecord.push_back(page.path);
        }
    }
    if (setup.twoSided) {
        for (const PageFile& page : survey.FrontsWithoutRear()) {
            check.frontsWithoutRear.push_back(page.path);
        }
    }
    for (const PageFile& page : survey.ChequesWithoutQualityLine(setup.twoSided)) {
        check.chequesWithoutQuality.push_back(page.path);
    }
    if (!setup.overwrite) {
        if (const PageFile* first = survey.FirstPageFrom(setup.startNumber, setup.twoSided)) {
            check.existingPage = first->path;
            refuse(StartProblem::PageExists, first->path + " already exists: a run from document " +
                                                 std::to_string(setup.startNumber) +
                                                 " would replace the pages of an earlier run");
        }
    }
    return check;
}

ScanRun::ScanRun(Driver& driver, RunSetup setup)
    : driver_(driver), setup_(std::move(setup)), micrFile_(MicrFilePath(setup_.location)) {
    outcome_.nextStartNumber = setup_.startNumber;
}

ScanRun::~ScanRun() {
    // A run given up halfway still ends its batch.
    if (running()) driver_.EndBatch();
}

bool ScanRun::Start() {
    if (started_ || outcome_.end != RunEnd::Running) return false;
    PageStep none;
    bool stopped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped = stop_;
    }
    if (stopped) {
        End(none, RunEnd::Stopped, 0, std::string());
        return false;
    }
    // One run at a time into an output: another one there is refused at once,
    // and the checks below hold until this run ends.
    outputLock_ = std::make_unique<OutputLock>(PagesDirectory(setup_.location));
    if (outputLock_->state() == OutputLock::State::Busy) {
        outcome_.refusal = StartProblem::OutputInUse;
        End(none, RunEnd::NotStarted, 0, outputLock_->message());
        return false;
    }
    const StartCheck check = CheckStart(setup_);
    if (check.problem != StartProblem::None) {
        outcome_.refusal = check.problem;
        End(none, RunEnd::NotStarted, 0, check.message);
        return false;
    }
    if (outputLock_->state() != OutputLock::State::Held) {
        outcome_.refusal = StartProblem::OutputDirectory;
        End(none, RunEnd::NotStarted, 0, outputLock_->message());
        return false;
    }
    // micr.txt is opened before the first cheque is fed.
    if (setup_.micr && !micrFile_.Open()) {
        outcome_.refusal = StartProblem::MicrFile;
        End(none, RunEnd::NotStarted, 0, micrFile_.error());
        return false;
    }
    const int result = driver_.StartBatch(setup_.profile.c_str());
    if (result != 0) {
        End(none, RunEnd::NotStarted, result, std::string());
        return false;
    }
    started_ = true;
    page_ = FirstPage(setup_.startNumber, setup_.twoSided);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batchOpen_ = true;
    }
    return true;
}

PageStep ScanRun::End(PageStep step, RunEnd end, int driverResult, std::string problem) {
    step.ended = true;
    if (outcome_.end != RunEnd::Running) return step;
    outcome_.end = end;
    outcome_.driverResult = driverResult;
    if (driverResult == ORVOSCAN_ERR_DEVICE) outcome_.deviceError = driver_.GetDeviceError();
    if (ReportsDriverResult(driverResult)) {
        outcome_.driverMessage = DriverErrorText(driverResult, outcome_.deviceError);
    }
    outcome_.problem = std::move(problem);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batchOpen_ = false;
    }
    if (started_) driver_.EndBatch();
    if (outputLock_) outputLock_->Release();
    return step;
}

PageStep ScanRun::Next() {
    PageStep step;
    step.page = page_;
    if (!running()) {
        step.ended = true;
        return step;
    }
    step.name = NamePage(setup_.location, setup_.twoSided, page_);
    const bool front = step.name.front;
    const std::string& path = step.name.path;

    // What is left of a two-sided cheque whose rear page is not taken.
    std::string rearNote;
    if (!front) {
        const PageName frontName = NamePage(setup_.location, setup_.twoSided, page_ - 1);
        rearNote = "Cheque " + std::to_string(step.name.number) + " has its front page " +
                   frontName.path + (setup_.micr ? " and its record" : "") + ", but no rear page.";
    }
    auto withRearNote = [&rearNote](std::string text) {
        if (rearNote.empty()) return text;
        return text.empty() ? rearNote : text + " " + rearNote;
    };

    if (front && step.name.number > kLastDocumentNumber) {
        return End(step, RunEnd::NumberLimit, 0,
                   "Document number " + std::to_string(kLastDocumentNumber) +
                       " has been reached: document numbers have seven digits. Cheques fed "
                       "after it were not saved; scan them into another output.");
    }
    bool stopped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Once the driver has been told (Interrupt), it says when the batch
        // is over: the pages of a cheque it was reading still come.
        stopped = front && stop_ && !endedByInterrupt_;
    }
    // The lock is released before End() calls the driver.
    if (stopped) return End(step, RunEnd::Stopped, 0, withRearNote(std::string()));

    const FileIdentity before = Identify(path);
    int height = 0;
    const int result = driver_.GetOneImage(path.c_str(), &height);
    bool interrupted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted = endedByInterrupt_;
    }
    if (result != 0) {
        if (interrupted && front && result == ORVOSCAN_ERR_DEVICE) {
            // The scanner failed on the cheque it was reading when the run
            // was interrupted.
            return End(step, RunEnd::Stopped, result,
                       "Cheque " + std::to_string(step.name.number) +
                           " was being read when the run was interrupted and could not be "
                           "completed: it was not saved.");
        }
        if (interrupted && (result == ORVOSCAN_NO_PAGE || result == ORVOSCAN_ERR_DEVICE)) {
            return End(step, RunEnd::Stopped, result, withRearNote(std::string()));
        }
        if (result == ORVOSCAN_NO_PAGE)
            return End(step, RunEnd::Finished, result, withRearNote(""));
        if (result == ORVOSCAN_ERR_PAGE_FILE) {
            return End(step, RunEnd::PageNotWritten, result,
                       withRearNote(path + " was not written."));
        }
        return End(step, RunEnd::DriverError, result, withRearNote(std::string()));
    }
    if (!WrittenSince(before, path)) {
        // The driver said it wrote the page, but no new file is there.
        return End(step, RunEnd::PageNotWritten, ORVOSCAN_ERR_PAGE_FILE,
                   withRearNote(path + " was not written."));
    }
    step.taken = true;
    ++outcome_.pagesTaken;
    ++page_;
    if (front) outcome_.nextStartNumber = step.name.number + 1;

    if (setup_.micr && front) {
        // The text first, then its size, in this order.
        const char* text = driver_.MicrDataBufPtr();
        const int size = driver_.MicrDataSize();
        step.micr = TakeMicr(text, size);
        step.record = FormatMicrRecord(step.name.number, step.micr);
        step.hasRecord = true;
        if (!micrFile_.Append(step.record)) {
            return End(step, RunEnd::MicrFileError, 0,
                       micrFile_.error() + ". " + path + " has no record; its MICR record is " +
                           WithoutLineEnd(step.record));
        }
        statistics_.Add(step.micr);
    }
    return step;
}

void ScanRun::RequestStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
}

void ScanRun::Interrupt() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    // The driver ends the batch after the cheque it is reading (at once
    // while it waits for one) and hands that cheque's pages over first; a
    // second call ends the batch at once.
    if (batchOpen_) {
        endedByInterrupt_ = true;
        driver_.EndBatch();
    }
}

}  // namespace orvo::scanrun
