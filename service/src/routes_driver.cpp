// POST /v1/driver/<call>: one export of the driver for the Windows program
// named by the header Orvo-Session (K4TR.dll under Wine).
#include <memory>

#include "driver_calls.h"
#include "scanner.h"
#include "service.h"

namespace orvoscand {

void AddDriverRoutes(Routes& routes, Service& service) {
    // Lives as long as the server's handlers that hold it.
    auto calls =
        std::make_shared<DriverCalls>(service.scanner->mutex(), service.spoolDir,
                                      [&service] { return service.scanner->EnsureStarted(); });
    routes.Post(R"(/v1/driver/([a-z-]{1,40}))", [calls, &service](const Call& call) {
        const DriverReply reply = calls->Call(
            call.Match(1), call.request.get_header_value("Orvo-Session"), call.request.body);
        service.lastActivityMs = NowMs();
        call.response.status = reply.status;
        call.response.set_content(reply.json, "application/json");
    });
}

}  // namespace orvoscand
