// orvoscand's readers of outside input: the configuration file and the body
// of a batch request. Whatever the bytes, they are read within their bounds
// and every value taken is one the service can use.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config.h"
#include "request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    orvoscand::Config config;
    std::string error;
    if (orvoscand::ApplyConfigText(text, "fuzz.conf", &config, &error)) {
        for (const orvoscand::ListenAddress& a : config.listen) {
            if (a.port < 0 || a.port > 65535 || a.host.empty()) __builtin_trap();
        }
        for (const std::string& origin : config.allowOrigins) {
            std::string again;
            // A stored origin reads as itself.
            if (!orvoscand::ParseOrigin(origin, &again) || again != origin) __builtin_trap();
        }
    } else if (error.empty()) {
        __builtin_trap();
    }

    orvoscand::BatchRequest request;
    error.clear();
    const int status = orvoscand::ParseBatchRequest(text, &request, &error);
    if (status == 0) {
        if (request.profile.empty() || request.profile.size() > 64) __builtin_trap();
        if (request.startNumber < 0 || request.startNumber > 9999999) __builtin_trap();
    } else if ((status != 400 && status != 422) || error.empty()) {
        __builtin_trap();
    }
    return 0;
}
