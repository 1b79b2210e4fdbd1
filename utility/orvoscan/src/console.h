// Where orvoscan writes: results on stdout (a progress line updated in place
// on a terminal, plain lines otherwise, or JSON lines with --json), errors on
// stderr.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace orvoscan {

class Console {
  public:
    Console(std::FILE* out, std::FILE* err, bool json, bool terminal)
        : out_(out), err_(err), json_(json), terminal_(terminal && !json) {}

    bool json() const { return json_; }

    // A line of text for people (nothing in JSON mode).
    void Line(const std::string& text);
    // Replaces the progress line on a terminal; a plain line otherwise.
    void Progress(const std::string& text);
    // One JSON object per line (JSON mode only).
    void Event(const nlohmann::json& event);
    // An error line on stderr, prefixed "orvoscan: ".
    void Error(const std::string& text);

  private:
    void EndProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool json_;
    bool terminal_;
    bool progressOpen_ = false;
};

}  // namespace orvoscan
