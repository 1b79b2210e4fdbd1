// The JavaScript client (/client/orvoscan.js) and, with --demo, the demo page
// (/). Both are built into the program, so that the client always matches
// the service that serves it.
#include "service.h"
#include "web_files.h"

namespace orvoscand {

void AddClientRoutes(Routes& routes, Service& service) {
    auto client = [](const Call& call) {
        call.response.set_content(std::string(kClientScript), "text/javascript; charset=utf-8");
    };
    routes.Get(R"(/client/orvoscan\.js)", client, Access::Public);
    routes.Get(R"(/orvoscan\.js)", client, Access::Public);
    routes.Get(
        R"(/demo\.js)",
        [&service](const Call& call) {
            if (!service.config.demo)
                return call.Error(404, "the demo page is served with --demo only");
            call.response.set_content(std::string(kDemoScript), "text/javascript; charset=utf-8");
        },
        Access::Public);
    routes.Get(
        R"(/(index\.html)?)",
        [&service](const Call& call) {
            if (!service.config.demo) {
                call.Error(404, "the demo page is served with --demo only");
                return;
            }
            call.response.set_header("Content-Security-Policy",
                                     "default-src 'self'; connect-src *; img-src * blob: data:; "
                                     "style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
            call.response.set_content(std::string(kDemoPage), "text/html; charset=utf-8");
        },
        Access::Public);
}

}  // namespace orvoscand
