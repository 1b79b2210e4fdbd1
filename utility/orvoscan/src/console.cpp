#include "console.h"

namespace orvoscan {

void Console::EndProgress() {
    if (!progressOpen_) return;
    std::fputc('\n', out_);
    progressOpen_ = false;
}

void Console::Line(const std::string& text) {
    if (json_) return;
    EndProgress();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Console::Progress(const std::string& text) {
    if (json_) return;
    if (!terminal_) return Line(text);
    // Carriage return and erase to the end of the line.
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
    progressOpen_ = true;
}

void Console::Event(const nlohmann::json& event) {
    if (!json_) return;
    const std::string text = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Console::Error(const std::string& text) {
    EndProgress();
    std::fflush(out_);
    std::fprintf(err_, "orvoscan: %s\n", text.c_str());
    std::fflush(err_);
}

}  // namespace orvoscan
