#include "orvo/scanrun/micr_record.h"

#include <cstdio>
#include <cstring>

namespace orvo::scanrun {

int CountReadErrors(const std::string& text, int size) {
    int count = 0;
    const std::size_t limit = size < 0 ? 0 : static_cast<std::size_t>(size);
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        if (text[i] == '_' || text[i] == '?') ++count;
    }
    return count;
}

MicrLine TakeMicr(const char* driverText, int size) {
    MicrLine line;
    if (driverText != nullptr) line.text.assign(driverText, strnlen(driverText, kMicrAreaSize));
    const std::size_t cut = size < 0 ? 0 : static_cast<std::size_t>(size);
    if (cut < line.text.size()) line.text.resize(cut);
    line.error = CountReadErrors(line.text, size) > 0;
    return line;
}

std::string FormatMicrRecord(int documentNumber, const MicrLine& line) {
    char number[32];
    std::snprintf(number, sizeof number, "%07d%1d", documentNumber, line.error ? 1 : 0);
    return number + line.text + "\r\n";
}

double MicrStatistics::rate() const {
    const int total = good_ + bad_;
    return total == 0 ? 0.0 : good_ / static_cast<double>(total) * 100.0;
}

std::string MicrStatistics::Text() const {
    char text[128];
    std::snprintf(text, sizeof text, "MICR OK :\t%d\nMICR ERR :\t%d\nOK rate : \t%5.2f%%", good_,
                  bad_, rate());
    return text;
}

}  // namespace orvo::scanrun
