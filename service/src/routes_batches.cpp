// POST /v1/batches, GET and DELETE /v1/batches/{id}, its event stream and
// its pages.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "batches.h"
#include "page_png.h"
#include "service.h"

namespace orvoscand {

using nlohmann::json;

namespace {

// Open event streams at most (each holds a server thread).
constexpr int kMaxStreams = 16;
// A comment line keeps a quiet stream open and finds a closed one.
constexpr std::chrono::milliseconds kKeepAlive{1000};
// Page files larger than this are not served.
constexpr off_t kMaxPageBytes = 64 * 1024 * 1024;

bool ReadPage(const std::string& path, std::string* data, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPageBytes) {
        close(fd);
        *error = "not a page file";
        return false;
    }
    data->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data->size()) {
        const ssize_t n = read(fd, data->data() + got, data->size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    data->resize(got);
    return true;
}

std::string EventText(const Event& e) {
    return "id: " + std::to_string(e.id) + "\nevent: " + e.name + "\ndata: " + e.data + "\n\n";
}

// Last-Event-ID: the id of the last event the client has; 0 when none.
int64_t LastEventId(const httplib::Request& request) {
    std::string text = request.get_header_value("Last-Event-ID");
    if (text.empty() && request.has_param("lastEventId"))
        text = request.get_param_value("lastEventId");
    if (text.empty() || text.size() > 12) return 0;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

void AddBatchRoutes(Routes& routes, Service& service) {
    routes.Post(R"(/v1/batches)", [&service](const Call& call) {
        BatchRequest request;
        std::string error;
        if (const int status = ParseBatchRequest(call.request.body, &request, &error)) {
            call.Error(status, error);
            return;
        }
        const StartAnswer answer = service.batches->Start(request, call.caller);
        if (answer.status != 201) {
            call.Error(answer.status, answer.error);
            return;
        }
        const std::string url = "/v1/batches/" + answer.batch->id();
        call.response.set_header("Location", url);
        call.Json(201, {{"id", answer.batch->id()}, {"events", url + "/events"}});
    });

    routes.Get(R"(/v1/batches/([^/]+))", [&service](const Call& call) {
        auto batch = service.batches->Find(call.Match(1), call.caller);
        if (!batch) return call.Error(404, "no such batch");
        call.Json(200, batch->Snapshot());
    });

    routes.Delete(R"(/v1/batches/([^/]+))", [&service](const Call& call) {
        auto batch = service.batches->Find(call.Match(1), call.caller);
        if (!batch) return call.Error(404, "no such batch");
        if (!batch->ended()) {
            batch->Cancel();
            call.Json(202, {{"id", batch->id()}, {"state", "cancelling"}});
            return;
        }
        service.batches->Remove(batch);
        call.response.status = 204;
    });

    routes.Get(R"(/v1/batches/([^/]+)/events)", [&service](const Call& call) {
        auto batch = service.batches->Find(call.Match(1), call.caller);
        if (!batch) return call.Error(404, "no such batch");
        if (service.openStreams.fetch_add(1) >= kMaxStreams) {
            service.openStreams.fetch_sub(1);
            return call.Error(503, "too many open event streams");
        }
        batch->Attach();
        auto last = std::make_shared<int64_t>(LastEventId(call.request));
        auto first = std::make_shared<bool>(true);
        Service* svc = &service;
        call.response.set_header("X-Accel-Buffering", "no");
        call.response.set_chunked_content_provider(
            "text/event-stream",
            [batch, last, first, svc](std::size_t, httplib::DataSink& sink) {
                svc->lastActivityMs = NowMs();
                if (*first) {
                    *first = false;
                    const std::string retry = "retry: 1000\n\n";
                    return sink.write(retry.data(), retry.size());
                }
                bool ended = false;
                const std::vector<Event> events = batch->EventsAfter(*last, kKeepAlive, &ended);
                if (events.empty()) {
                    if (ended) {
                        sink.done();
                        return true;
                    }
                    const std::string ping = ": keep-alive\n\n";
                    return sink.write(ping.data(), ping.size());
                }
                std::string text;
                for (const Event& e : events) text += EventText(e);
                if (!sink.write(text.data(), text.size())) return false;
                *last = events.back().id;
                return true;
            },
            [batch, svc](bool) {
                batch->Detach();
                svc->openStreams.fetch_sub(1);
            });
    });

    routes.Get(R"(/v1/batches/([^/]+)/cheques/([0-9]{1,7})/(front|rear)\.(tif|png))",
               [&service](const Call& call) {
                   auto batch = service.batches->Find(call.Match(1), call.caller);
                   if (!batch) return call.Error(404, "no such batch");
                   PageRef page;
                   if (!batch->Page(std::stoi(call.Match(2)), call.Match(3) == "front", &page))
                       return call.Error(404, "no such page");
                   std::string data;
                   std::string error;
                   if (call.Match(4) == "tif") {
                       if (!ReadPage(page.path, &data, &error))
                           return call.Error(410, "the page file is gone: " + error);
                       call.response.set_content(std::move(data), "image/tiff");
                   } else {
                       if (!PagePng(page.path, &data, &error))
                           return call.Error(410, "the page cannot be shown: " + error);
                       call.response.set_content(std::move(data), "image/png");
                   }
               });
}

}  // namespace orvoscand
