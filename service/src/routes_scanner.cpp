// GET /v1/scanner, GET and PUT /v1/profiles/{name}.
#include <strings.h>

#include <algorithm>

#include "batches.h"
#include "orvo/core/profile_values.h"
#include "orvo/platform/profile.h"
#include "orvo/scanrun/run_settings.h"
#include "scanner.h"
#include "service.h"

namespace orvoscand {

namespace pv = orvo::profile_values;
using nlohmann::json;

namespace {

// Longest profile name taken.
constexpr std::size_t kMaxProfileName = 64;

bool ValidProfileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxProfileName) return false;
    if (strcasecmp(name.c_str(), "Misc") == 0 || strcasecmp(name.c_str(), "Default") == 0)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u != 0x7F && c != '[' && c != ']' && c != '=' && c != ';' && c != '/' &&
               c != '\\';
    });
}

// The value of a key as stored: a number when it is one, else its text
// (null when missing).
json StoredValue(const std::string& text) {
    if (text.empty()) return nullptr;
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i < text.size() && text.size() - i <= 10 &&
        std::all_of(
            text.begin() + static_cast<long>(i), text.end(),
            [](char c) { return c >= '0' && c <= '9'; }))
        return std::stoll(text);
    return text;
}

std::string Read(const std::string& file, const std::string& section, const std::string& key) {
    return orvo::platform::ProfileString(section, key, "", 256, file);
}

// The profile's keys and those of section Misc as stored.
json ProfileJson(const std::string& file, const std::string& name) {
    json settings = json::object();
    json misc = json::object();
    for (const pv::KeyRule& rule : pv::kKeyRules) {
        const std::string key(rule.key);
        if (rule.misc) {
            misc[key] = StoredValue(Read(file, "Misc", key));
        } else {
            settings[key] = StoredValue(Read(file, name, key));
        }
    }
    return {{"name", name}, {"settings", settings}, {"misc", misc}};
}

}  // namespace

void AddScannerRoutes(Routes& routes, Service& service) {
    routes.Get(R"(/v1/scanner)", [&service](const Call& call) {
        const bool busy = service.batches->running();
        const ScannerInfo info = service.scanner->Describe();
        json scanner = nullptr;
        if (info.present) {
            scanner = {{"adapter", info.adapter},
                       {"target", info.target},
                       {"vendor", info.vendor},
                       {"model", info.model}};
        }
        json out = {{"driverVersion", info.driverVersion},
                    {"scanner", scanner},
                    {"profiles", orvo::scanrun::ListProfiles(service.scanner->SettingsFile())},
                    {"busy", busy}};
        if (info.initResult != 0) {
            out["driverResult"] = info.initResult;
            out["message"] = info.initMessage;
        }
        call.Json(200, out);
    });

    routes.Get(R"(/v1/profiles/([^/]+))", [&service](const Call& call) {
        const std::string name = httplib::detail::decode_url(call.Match(1), false);
        const std::string file = service.scanner->SettingsFile();
        const auto profiles = orvo::scanrun::ListProfiles(file);
        if (std::find(profiles.begin(), profiles.end(), name) == profiles.end()) {
            call.Error(404, "no profile \"" + name + "\" in " + file);
            return;
        }
        call.Json(200, ProfileJson(file, name));
    });

    routes.Put(R"(/v1/profiles/([^/]+))", [&service](const Call& call) {
        const std::string name = httplib::detail::decode_url(call.Match(1), false);
        if (!ValidProfileName(name)) {
            call.Error(422, "\"" + name + "\" cannot be a profile name");
            return;
        }
        json body;
        if (!call.BodyObject(&body)) return;
        if (body.contains("settings")) body = body["settings"];
        if (!body.is_object() || body.empty()) {
            call.Error(422, "no settings given (an object of Key: value)");
            return;
        }
        std::vector<orvo::platform::ProfileEntry> entries;
        for (const auto& [key, value] : body.items()) {
            const pv::KeyRule* rule = nullptr;
            for (const pv::KeyRule& r : pv::kKeyRules)
                if (strcasecmp(std::string(r.key).c_str(), key.c_str()) == 0) rule = &r;
            if (rule == nullptr || rule->misc) {
                call.Json(422, {{"error", rule ? key + " is a setting of every profile, not of one"
                                               : "unknown setting \"" + key + "\""},
                                {"key", key}});
                return;
            }
            std::string text;
            if (value.is_number_integer()) {
                text = std::to_string(value.get<int64_t>());
            } else if (value.is_string() && value.get<std::string>().size() <= 32) {
                text = value.get<std::string>();
            } else {
                text = value.dump();
            }
            const std::string why = text.empty() ? "is empty" : pv::RefusalOf(*rule, text);
            if (!why.empty()) {
                const std::string k(rule->key);
                call.Json(422, {{"error", k + "=" + text + " " + why + " (" + pv::RangeText(*rule) +
                                              " taken)"},
                                {"key", k},
                                {"value", value},
                                {"range", pv::RangeText(*rule)}});
                return;
            }
            entries.push_back({name, std::string(rule->key), text});
        }
        std::string error;
        if (!orvo::platform::WriteProfileStrings(entries, service.scanner->SettingsFile(),
                                                 &error)) {
            call.Error(500, error);
            return;
        }
        call.Json(200, ProfileJson(service.scanner->SettingsFile(), name));
    });
}

}  // namespace orvoscand
