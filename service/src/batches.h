// The batches of the service: one runs at a time, on a thread of its own,
// by the scan-run rules of every front end (pages, micr.txt, quality.txt);
// each cheque becomes an event once its pages are written and checked, and
// every event is kept, so that a client that reconnects gets what it missed.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "request.h"
#include "service.h"

namespace orvoscand {

struct Event {
    int64_t id = 0;  // 1, 2, ... within the batch
    std::string name;
    std::string data;  // JSON text
};

struct PageRef {
    std::string path;
    int width = 0;
    int height = 0;
};

// The state every stream and GET of a batch shares.
class Batch {
  public:
    Batch(std::string id, std::string owner, std::string spoolDir, std::string pagesDir);
    ~Batch();

    const std::string& id() const { return id_; }
    const std::string& owner() const { return owner_; }
    const std::string& spoolDir() const { return spoolDir_; }
    const std::string& pagesDir() const { return pagesDir_; }

    // Waits at most `wait` for events after `lastId`; *ended tells whether the
    // end event is among those up to the last one returned... or before.
    std::vector<Event> EventsAfter(int64_t lastId, std::chrono::milliseconds wait, bool* ended);
    // The batch so far.
    nlohmann::json Snapshot();
    // The page file of cheque `number` (front or rear); false when none.
    bool Page(int number, bool front, PageRef* page);
    bool ended();
    int64_t endedAtMs();

    // Ends the batch after the cheque in progress (reason "cancelled", or
    // `reason` given).
    void Cancel(const std::string& reason = "cancelled");
    // Streams open on the batch; the time the last one closed.
    void Attach();
    void Detach();
    int listeners();
    int64_t lastListenerMs();
    int64_t createdMs() const { return createdMs_; }

    // Run by BatchList: adds an event (and a cheque), marks the end.
    void AddCheque(int number, PageRef front, std::optional<PageRef> rear, nlohmann::json data);
    void End(nlohmann::json data);
    void Started(nlohmann::json info);

    // Set by the worker while the run exists (for Cancel).
    std::function<void()> interrupt;
    std::mutex interruptMutex;
    std::string cancelReason;

    std::thread worker;

  private:
    void AddEvent(const std::string& name, const nlohmann::json& data);

    const std::string id_;
    const std::string owner_;
    const std::string spoolDir_;
    const std::string pagesDir_;
    const int64_t createdMs_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    struct Cheque {
        int number;
        PageRef front;
        std::optional<PageRef> rear;
        nlohmann::json data;
    };
    std::vector<Cheque> cheques_;
    nlohmann::json info_ = nlohmann::json::object();
    nlohmann::json end_;  // null while running
    int64_t endedAtMs_ = 0;
    int listeners_ = 0;
    int64_t lastListenerMs_ = 0;
};

struct StartAnswer {
    int status = 0;  // 201, or the refusal's status
    std::string error;
    std::shared_ptr<Batch> batch;
};

class BatchList {
  public:
    explicit BatchList(Service& service) : service_(service) {}
    ~BatchList();

    // Starts a batch for `caller`: refusals before anything is fed (409 while
    // a batch runs here or another program holds the scanner, 422 for a
    // profile value the scanner cannot take or an unusable outputDir).
    StartAnswer Start(const BatchRequest& request, const Caller& caller);
    // The batch `id` when `caller` started it; null otherwise (404: another
    // caller's batch is not told apart from a missing one).
    std::shared_ptr<Batch> Find(const std::string& id, const Caller& caller);
    // Forgets an ended batch and removes its spool directory.
    void Remove(const std::shared_ptr<Batch>& batch);
    bool running();
    // No batch is kept (running or ended).
    bool empty();
    // Forgets every batch and removes their spool directories.
    void Clear();

    // Housekeeping, every second: ended batches past their retention time go,
    // a running batch nobody listens to any more is cancelled.
    void Tick();
    // Cancels the running batch and waits for its end (service shutdown).
    void Shutdown();

  private:
    void Run(std::shared_ptr<Batch> batch, BatchRequest request,
             std::promise<StartAnswer>* started);

    Service& service_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Batch>> batches_;
    std::shared_ptr<Batch> running_;
    std::mutex startMutex_;
};

// A fresh batch id: 32 hex digits from the system's random source.
std::string NewBatchId();
// Whether `id` has the form of a batch id.
bool ValidBatchId(const std::string& id);
// Removes a directory of ours with the files in it (no subdirectories).
void RemoveSpoolDir(const std::string& dir);

// outputDir of a request: an absolute path of an existing directory the
// service's user may write, below `root`, with no hidden component below it.
// The resolved path, or empty with the reason in *error.
std::string ResolveOutputDir(const std::string& requested, const std::string& root,
                             std::string* error);

}  // namespace orvoscand
