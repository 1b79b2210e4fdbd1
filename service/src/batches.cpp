#include "batches.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "measures_json.h"
#include "orvo/platform/profile.h"
#include "orvo/quality/check.h"
#include "orvo/quality/limits.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/output_lock.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/scanrun/scan_run.h"
#include "orvoscan.h"
#include "scanner.h"

namespace orvoscand {

namespace sr = orvo::scanrun;
namespace q = orvo::quality;
using nlohmann::json;

namespace {

// Ended batches kept at most, whatever their age (the oldest go first).
constexpr std::size_t kMaxBatches = 200;
// The page file prefix of the service's runs.
constexpr const char* kPagePrefix = "A";

// Why a run ended, as the API names it.
std::string EndReason(const sr::RunOutcome& outcome, const std::string& cancelReason,
                      bool scanCountReached) {
    switch (outcome.end) {
        case sr::RunEnd::Running:
        case sr::RunEnd::Finished:
            return scanCountReached ? "scan-count" : "feeder-empty";
        case sr::RunEnd::Stopped:
            return cancelReason.empty() ? "cancelled" : cancelReason;
        case sr::RunEnd::NotStarted:
            return "not-started";
        case sr::RunEnd::PageNotWritten:
            return "page-not-written";
        case sr::RunEnd::MicrFileError:
            return "micr-file";
        case sr::RunEnd::NumberLimit:
            return "number-limit";
        case sr::RunEnd::DriverError:
            break;
    }
    if (outcome.driverResult != ORVOSCAN_ERR_DEVICE) return "driver-error";
    const uint32_t e = outcome.deviceError;
    if (e & (ORVOSCAN_DEV_JAM1 | ORVOSCAN_DEV_JAM2 | ORVOSCAN_DEV_JAM3 | ORVOSCAN_DEV_JAM4))
        return "jam";
    if (e & ORVOSCAN_DEV_DOUBLE_FEED) return "double-feed";
    if (e & ORVOSCAN_DEV_COVER_OPEN) return "cover-open";
    return "device-error";
}

json PageJson(const std::string& batchUrl, int number, const char* side, const PageRef& page,
              const std::string& name) {
    const std::string base = batchUrl + "/cheques/" + std::to_string(number) + "/" + side;
    return {{"tiff", base + ".tif"},
            {"png", base + ".png"},
            {"width", page.width},
            {"height", page.height},
            {"name", name}};
}

}  // namespace

std::string NewBatchId() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("no random numbers from the system");
        got += static_cast<std::size_t>(n);
    }
    std::string id;
    char hex[3];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        id += hex;
    }
    return id;
}

bool ValidBatchId(const std::string& id) {
    if (id.size() != 32) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

void RemoveSpoolDir(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d != nullptr) {
        while (dirent* entry = readdir(d)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            unlinkat(dirfd(d), entry->d_name, 0);
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

std::string ResolveOutputDir(const std::string& requested, const std::string& root,
                             std::string* error) {
    if (requested.empty() || requested.front() != '/' || requested.size() >= PATH_MAX ||
        requested.find('\0') != std::string::npos) {
        *error = "outputDir must be an absolute path";
        return {};
    }
    char resolved[PATH_MAX];
    if (realpath(requested.c_str(), resolved) == nullptr) {
        *error = "outputDir " + requested + ": " + std::strerror(errno);
        return {};
    }
    char rootResolved[PATH_MAX];
    if (root.empty() || realpath(root.c_str(), rootResolved) == nullptr) {
        *error = "no directory is open for outputDir (OutputRoot of orvoscand.conf)";
        return {};
    }
    const std::string path = resolved;
    std::string base = rootResolved;
    if (base != "/") base += "/";
    if (path + "/" != base && path.compare(0, base.size(), base) != 0) {
        *error = "outputDir " + requested + " is not below " + std::string(rootResolved);
        return {};
    }
    // No hidden directory below the root (~/.ssh, ~/.config/autostart, ...).
    const std::string below = path.size() > base.size() ? path.substr(base.size()) : "";
    if (below.size() && (below[0] == '.' || below.find("/.") != std::string::npos)) {
        *error = "outputDir " + requested + " lies in a hidden directory";
        return {};
    }
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = "outputDir " + requested + " is not a directory";
        return {};
    }
    if (access(path.c_str(), W_OK | X_OK) != 0) {
        *error = "outputDir " + requested + ": " + std::strerror(errno);
        return {};
    }
    return path;
}

// --- Batch -----------------------------------------------------------------

Batch::Batch(std::string id, std::string owner, std::string spoolDir, std::string pagesDir)
    : id_(std::move(id)),
      owner_(std::move(owner)),
      spoolDir_(std::move(spoolDir)),
      pagesDir_(std::move(pagesDir)),
      createdMs_(NowMs()),
      lastListenerMs_(NowMs()) {}

Batch::~Batch() {
    if (!worker.joinable()) return;
    // The worker itself may hold the last reference.
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

void Batch::AddEvent(const std::string& name, const json& data) {
    Event e;
    e.id = static_cast<int64_t>(events_.size()) + 1;
    e.name = name;
    e.data = data.dump(-1, ' ', false, json::error_handler_t::replace);
    events_.push_back(std::move(e));
}

void Batch::Started(json info) {
    std::lock_guard lock(mutex_);
    info_ = std::move(info);
}

void Batch::AddCheque(int number, PageRef front, std::optional<PageRef> rear, json data) {
    {
        std::lock_guard lock(mutex_);
        AddEvent("cheque", data);
        cheques_.push_back({number, std::move(front), std::move(rear), std::move(data)});
    }
    changed_.notify_all();
}

void Batch::End(json data) {
    {
        std::lock_guard lock(mutex_);
        AddEvent("end", data);
        end_ = std::move(data);
        endedAtMs_ = NowMs();
    }
    changed_.notify_all();
}

std::vector<Event> Batch::EventsAfter(int64_t lastId, std::chrono::milliseconds wait, bool* ended) {
    std::unique_lock lock(mutex_);
    const auto have = [&] { return static_cast<int64_t>(events_.size()) > lastId; };
    if (!have()) changed_.wait_for(lock, wait, have);
    std::vector<Event> out;
    for (int64_t i = std::max<int64_t>(lastId, 0); i < static_cast<int64_t>(events_.size()); ++i)
        out.push_back(events_[static_cast<std::size_t>(i)]);
    *ended = !end_.is_null();
    return out;
}

json Batch::Snapshot() {
    std::lock_guard lock(mutex_);
    json cheques = json::array();
    for (const Cheque& c : cheques_) cheques.push_back(c.data);
    json out = info_;
    out["id"] = id_;
    out["events"] = "/v1/batches/" + id_ + "/events";
    out["state"] = end_.is_null() ? "running" : "ended";
    out["cheques"] = cheques;
    out["end"] = end_;
    return out;
}

bool Batch::Page(int number, bool front, PageRef* page) {
    std::lock_guard lock(mutex_);
    for (const Cheque& c : cheques_) {
        if (c.number != number) continue;
        if (front) {
            *page = c.front;
            return true;
        }
        if (!c.rear) return false;
        *page = *c.rear;
        return true;
    }
    return false;
}

bool Batch::ended() {
    std::lock_guard lock(mutex_);
    return !end_.is_null();
}

int64_t Batch::endedAtMs() {
    std::lock_guard lock(mutex_);
    return endedAtMs_;
}

void Batch::Cancel(const std::string& reason) {
    std::lock_guard lock(interruptMutex);
    if (cancelReason.empty()) cancelReason = reason;
    if (interrupt) interrupt();
}

void Batch::Attach() {
    std::lock_guard lock(mutex_);
    ++listeners_;
    lastListenerMs_ = NowMs();
}

void Batch::Detach() {
    std::lock_guard lock(mutex_);
    if (listeners_ > 0) --listeners_;
    lastListenerMs_ = NowMs();
}

int Batch::listeners() {
    std::lock_guard lock(mutex_);
    return listeners_;
}

int64_t Batch::lastListenerMs() {
    std::lock_guard lock(mutex_);
    return lastListenerMs_;
}

// --- BatchList -------------------------------------------------------------

BatchList::~BatchList() {
    Shutdown();
}

bool BatchList::running() {
    std::lock_guard lock(mutex_);
    return running_ && !running_->ended();
}

bool BatchList::empty() {
    std::lock_guard lock(mutex_);
    return batches_.empty();
}

void BatchList::Clear() {
    std::vector<std::shared_ptr<Batch>> all;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, batch] : batches_) all.push_back(batch);
    }
    for (const auto& batch : all) Remove(batch);
}

StartAnswer BatchList::Start(const BatchRequest& request, const Caller& caller) {
    std::lock_guard start(startMutex_);
    {
        std::lock_guard lock(mutex_);
        if (running_ && !running_->ended())
            return {409, "a batch of this service is running (" + running_->id() + ")", nullptr};
        if (running_ && running_->worker.joinable()) running_->worker.join();
        running_.reset();
    }
    const std::string settingsFile = service_.scanner->SettingsFile();
    bool known = false;
    for (const std::string& p : sr::ListProfiles(settingsFile))
        known = known || p == request.profile;
    if (!known) return {404, "no profile \"" + request.profile + "\" in " + settingsFile, nullptr};
    const std::string refused = sr::RefusedProfileValue(settingsFile, request.profile);
    if (!refused.empty()) return {422, refused, nullptr};

    std::string outputDir;
    if (!request.outputDir.empty()) {
        std::string error;
        const std::string root = service_.config.outputRoot.empty()
                                     ? std::string(std::getenv("HOME") ? std::getenv("HOME") : "")
                                     : service_.config.outputRoot;
        outputDir = ResolveOutputDir(request.outputDir, root, &error);
        if (outputDir.empty()) return {422, error, nullptr};
    }

    const std::string id = NewBatchId();
    const std::string spool = service_.spoolDir + "batches/" + id + "/";
    if (mkdir(spool.c_str(), 0700) != 0)
        return {500, "cannot make " + spool + ": " + std::strerror(errno), nullptr};
    const std::string pagesDir = outputDir.empty() ? spool : outputDir + "/";
    auto batch = std::make_shared<Batch>(id, caller.key, spool, pagesDir);

    auto started = std::make_shared<std::promise<StartAnswer>>();
    std::future<StartAnswer> answer = started->get_future();
    batch->worker =
        std::thread([this, batch, request, started] { Run(batch, request, started.get()); });
    StartAnswer result = answer.get();
    if (result.status != 201) {
        batch->worker.join();
        RemoveSpoolDir(spool);
        return result;
    }
    std::lock_guard lock(mutex_);
    // At most kMaxBatches: the oldest ended ones go.
    while (batches_.size() >= kMaxBatches) {
        auto oldest = batches_.end();
        for (auto it = batches_.begin(); it != batches_.end(); ++it) {
            if (!it->second->ended()) continue;
            if (oldest == batches_.end() || it->second->endedAtMs() < oldest->second->endedAtMs())
                oldest = it;
        }
        if (oldest == batches_.end()) break;
        RemoveSpoolDir(oldest->second->spoolDir());
        batches_.erase(oldest);
    }
    batches_[id] = batch;
    running_ = batch;
    return result;
}

void BatchList::Run(std::shared_ptr<Batch> batch, BatchRequest request,
                    std::promise<StartAnswer>* started) {
    Scanner& scanner = *service_.scanner;
    std::unique_lock driverLock(scanner.mutex());
    auto refuse = [&](int status, const std::string& error) {
        started->set_value({status, error, nullptr});
    };
    const int init = scanner.EnsureStarted();
    if (init != ORVOSCAN_OK) {
        const std::string message = sr::DriverErrorText(init, 0);
        refuse(503, message.empty() ? "driver start failed with result " + std::to_string(init)
                                    : message);
        return;
    }
    const std::string settingsFile = scanner.SettingsFile();
    sr::RunSetup setup;
    setup.location = sr::SplitOutputPath(batch->pagesDir() + kPagePrefix + ".tif");
    setup.settingsFile = settingsFile;
    setup.profile = request.profile;
    setup.startNumber = request.startNumber;
    setup.twoSided = sr::ProfileSide(settingsFile, request.profile) != 0;
    setup.micr = sr::MicrDetect(settingsFile) != 0;
    sr::ScanRun run(scanner.driver(), setup);

    const sr::StartCheck check = run.Check();
    if (check.problem == sr::StartProblem::OutputInUse) {
        refuse(409, check.message);
        return;
    }
    if (check.problem == sr::StartProblem::PageExists) {
        refuse(409, check.message + "; the next free start number is " +
                        std::to_string(check.continueNumber));
        return;
    }
    if (check.problem != sr::StartProblem::None) {
        refuse(422, check.message);
        return;
    }
    scanner.driver().ImageFormat(sr::ImageFormatForExtension(setup.location.extension));
    const bool limitCount =
        orvo::platform::ProfileInt("Misc", "LimitScanCount", 0, settingsFile) != 0;
    const int scanCount = orvo::platform::ProfileInt("Misc", "ScanCount", 0, settingsFile);

    {
        std::lock_guard lock(batch->interruptMutex);
        batch->interrupt = [&run] { run.Interrupt(); };
    }
    struct ClearInterrupt {
        Batch& batch;
        ~ClearInterrupt() {
            std::lock_guard lock(batch.interruptMutex);
            batch.interrupt = nullptr;
        }
    } clear{*batch};

    if (!run.Start()) {
        const sr::RunOutcome& outcome = run.outcome();
        if (outcome.driverResult == ORVOSCAN_ERR_BUSY) {
            refuse(409, "the scanner is in use by " + scanner.Holder());
        } else if (outcome.refusal == sr::StartProblem::OutputInUse) {
            refuse(409, outcome.problem);
        } else if (outcome.refusal != sr::StartProblem::None) {
            refuse(422, outcome.problem);
        } else if (!outcome.driverMessage.empty()) {
            refuse(503, outcome.driverMessage);
        } else {
            refuse(503, "the driver refused the batch with result " +
                            std::to_string(outcome.driverResult));
        }
        return;
    }
    const std::string url = "/v1/batches/" + batch->id();
    batch->Started({{"profile", setup.profile},
                    {"startNumber", setup.startNumber},
                    {"twoSided", setup.twoSided},
                    {"micr", setup.micr},
                    {"outputDir",
                     request.outputDir.empty() ? json(nullptr) : json(setup.location.directory)}});
    StartAnswer ok{201, "", batch};
    started->set_value(ok);
    started = nullptr;

    q::Limits limits;
    std::vector<std::string> limitProblems;
    q::ReadLimitsFile(q::LimitsFilePath(sr::DriverSystemDir()), &limits, &limitProblems);
    for (const std::string& p : limitProblems) std::fprintf(stderr, "orvoscand: %s\n", p.c_str());
    sr::ChequeQuality quality(setup.location, setup.twoSided, limits);

    // Each cheque becomes an event once its pages are written and checked;
    // a front page waits for its rear.
    std::vector<sr::PageStep> waiting;
    int cheques = 0;
    auto deliver = [&](const std::optional<sr::CheckedCheque>& cheque) {
        if (!cheque) return;
        json data = {{"number", cheque->number}};
        const sr::PageStep* frontStep = nullptr;
        for (const sr::PageStep& s : waiting)
            if (s.name.front) frontStep = &s;
        if (frontStep && frontStep->hasRecord) {
            data["micr"] = frontStep->micr.text;
            data["micrReadable"] = !frontStep->micr.error;
        } else {
            data["micr"] = nullptr;
            data["micrReadable"] = nullptr;
        }
        json defects = json::array();
        json measures = json::object();
        PageRef front;
        std::optional<PageRef> rear;
        data["rear"] = nullptr;
        for (const sr::CheckedPage& page : cheque->pages) {
            const char* side = page.name.front ? "front" : "rear";
            PageRef ref{page.name.path, page.report.measures.width, page.report.measures.height};
            if (page.error.empty()) {
                measures[side] = MeasuresJson(page.report);
                for (q::Defect d : page.report.defects) {
                    const std::string name = q::DefectName(d);
                    if (std::find(defects.begin(), defects.end(), name) == defects.end())
                        defects.push_back(name);
                }
            } else {
                measures[side] = {{"error", page.error}};
            }
            data[side] = PageJson(url, cheque->number, side, ref, page.name.displayName);
            if (page.name.front) {
                front = ref;
            } else {
                rear = ref;
            }
        }
        data["defects"] = defects;
        data["measures"] = measures;
        data["qualityRecord"] = cheque->record;
        if (!cheque->recordError.empty()) data["qualityRecordError"] = cheque->recordError;
        waiting.clear();
        ++cheques;
        batch->AddCheque(cheque->number, front, rear, std::move(data));
    };
    for (;;) {
        const sr::PageStep step = run.Next();
        if (step.taken) {
            std::optional<sr::CheckedCheque> cheque = quality.Add(step);
            if (cheque && cheque->pages.back().name.path != step.name.path) {
                deliver(cheque);
                cheque.reset();
            }
            waiting.push_back(step);
            deliver(cheque);
        }
        if (step.ended) break;
    }
    deliver(quality.Finish());

    const sr::RunOutcome& outcome = run.outcome();
    std::string cancelReason;
    {
        std::lock_guard lock(batch->interruptMutex);
        cancelReason = batch->cancelReason;
    }
    const bool countReached = limitCount && scanCount > 0 && cheques >= scanCount;
    std::string message = outcome.driverMessage;
    if (!outcome.problem.empty()) message += (message.empty() ? "" : "\n") + outcome.problem;
    const sr::MicrStatistics& stats = run.statistics();
    json end = {{"reason", EndReason(outcome, cancelReason, countReached)},
                {"deviceError", outcome.deviceError},
                {"driverResult", outcome.driverResult},
                {"message", message},
                {"cheques", cheques},
                {"nextStartNumber", outcome.nextStartNumber},
                {"checked", quality.checked()},
                {"flagged", quality.flagged()}};
    if (setup.micr) {
        end["micrGood"] = stats.good();
        end["micrBad"] = stats.bad();
        end["statistics"] = stats.Text();
    }
    batch->End(std::move(end));
}

std::shared_ptr<Batch> BatchList::Find(const std::string& id, const Caller& caller) {
    if (!ValidBatchId(id)) return nullptr;
    std::lock_guard lock(mutex_);
    auto it = batches_.find(id);
    if (it == batches_.end() || it->second->owner() != caller.key) return nullptr;
    return it->second;
}

void BatchList::Remove(const std::shared_ptr<Batch>& batch) {
    std::lock_guard lock(mutex_);
    batches_.erase(batch->id());
    if (running_ == batch) running_.reset();
    // An ended batch: its worker is on its way out.
    if (batch->worker.joinable() && batch->worker.get_id() != std::this_thread::get_id())
        batch->worker.join();
    RemoveSpoolDir(batch->spoolDir());
}

void BatchList::Tick() {
    std::vector<std::shared_ptr<Batch>> expired;
    std::shared_ptr<Batch> running;
    {
        std::lock_guard lock(mutex_);
        const int64_t now = NowMs();
        const int64_t keep = int64_t{service_.config.retentionMinutes} * 60'000;
        for (const auto& [id, batch] : batches_) {
            if (batch->ended() && now - batch->endedAtMs() >= keep) expired.push_back(batch);
        }
        if (running_ && !running_->ended()) running = running_;
    }
    for (const auto& batch : expired) Remove(batch);
    if (running && running->listeners() == 0 &&
        NowMs() - running->lastListenerMs() >=
            int64_t{service_.config.reconnectGraceSeconds} * 1000)
        running->Cancel("disconnected");
}

void BatchList::Shutdown() {
    std::shared_ptr<Batch> running;
    {
        std::lock_guard lock(mutex_);
        running = running_;
    }
    if (!running) return;
    running->Cancel("service-stopped");
    if (running->worker.joinable()) running->worker.join();
}

}  // namespace orvoscand
