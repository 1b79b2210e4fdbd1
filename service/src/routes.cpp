#include <cstdio>
#include <ctime>

#include "access.h"
#include "service.h"

namespace orvoscand {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Call::Json(int status, const nlohmann::json& body) const {
    response.status = status;
    response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json");
}

void Call::Error(int status, const std::string& text) const {
    Json(status, {{"error", text}});
}

bool Call::BodyObject(nlohmann::json* body) const {
    *body = nlohmann::json::parse(request.body, nullptr, false);
    if (body->is_discarded() || !body->is_object()) {
        Error(400, "the request body is no JSON object");
        return false;
    }
    return true;
}

httplib::Server::Handler Routes::Wrap(Handler handler, Access access) {
    Service* service = &service_;
    return [service, handler = std::move(handler), access](const httplib::Request& request,
                                                           httplib::Response& response) {
        service->lastActivityMs = NowMs();
        AccessResult verdict = CheckAccess(request, *service, access);
        Call call{request, response, verdict.caller};
        if (verdict.status != 0) {
            std::fprintf(stderr, "orvoscand: refused %s %s from %s: %s\n", request.method.c_str(),
                         request.path.c_str(), request.remote_addr.c_str(), verdict.error.c_str());
            call.Error(verdict.status, verdict.error);
            return;
        }
        if (!verdict.caller.origin.empty()) {
            response.set_header("Access-Control-Allow-Origin", verdict.caller.origin);
            response.set_header("Vary", "Origin");
        }
        response.set_header("Cache-Control", "no-store");
        response.set_header("X-Content-Type-Options", "nosniff");
        try {
            handler(call);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "orvoscand: %s %s failed: %s\n", request.method.c_str(),
                         request.path.c_str(), e.what());
            call.Error(500, std::string("internal error: ") + e.what());
        }
    };
}

void Routes::Get(const std::string& pattern, Handler handler, Access access) {
    server_.Get(pattern, Wrap(std::move(handler), access));
}
void Routes::Post(const std::string& pattern, Handler handler) {
    server_.Post(pattern, Wrap(std::move(handler), Access::Checked));
}
void Routes::Put(const std::string& pattern, Handler handler) {
    server_.Put(pattern, Wrap(std::move(handler), Access::Checked));
}
void Routes::Delete(const std::string& pattern, Handler handler) {
    server_.Delete(pattern, Wrap(std::move(handler), Access::Checked));
}

}  // namespace orvoscand
