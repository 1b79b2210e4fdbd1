#include "request.h"

#include <nlohmann/json.hpp>

namespace orvoscand {

namespace {
constexpr std::size_t kMaxProfileName = 64;
constexpr std::size_t kMaxPath = 4096;
constexpr int64_t kLastNumber = 9999999;
}  // namespace

int ParseBatchRequest(const std::string& text, BatchRequest* request, std::string* error) {
    const nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        *error = "the request body is no JSON object";
        return 400;
    }
    BatchRequest out;
    for (const auto& [key, value] : body.items()) {
        if (key == "profile") {
            if (!value.is_string() || value.get<std::string>().empty() ||
                value.get<std::string>().size() > kMaxProfileName) {
                *error = "\"profile\" must name a profile";
                return 422;
            }
            out.profile = value.get<std::string>();
        } else if (key == "startNumber") {
            if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
                value.get<int64_t>() > kLastNumber) {
                *error = "\"startNumber\" must be a number 0-9999999";
                return 422;
            }
            out.startNumber = static_cast<int>(value.get<int64_t>());
        } else if (key == "outputDir") {
            if (value.is_null()) continue;
            if (!value.is_string() || value.get<std::string>().empty() ||
                value.get<std::string>().size() > kMaxPath) {
                *error = "\"outputDir\" must be a path";
                return 422;
            }
            out.outputDir = value.get<std::string>();
        } else {
            *error = "unknown field \"" + key.substr(0, 64) + "\"";
            return 422;
        }
    }
    if (out.profile.empty()) {
        *error = "\"profile\" must name a profile";
        return 422;
    }
    *request = std::move(out);
    return 0;
}

}  // namespace orvoscand
