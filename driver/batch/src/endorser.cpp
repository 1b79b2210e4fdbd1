#include "orvo/batch/endorser.h"

#include <cstdio>

namespace orvo {

namespace {

std::string Formatted(const char* format, int value) {
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, format, value);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// atoi over a few characters: blanks, an optional sign, then decimal digits.
int LeadingNumber(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10 + (s[i] - '0');
    return negative ? -value : value;
}

}  // namespace

bool BuildEndorserText(const std::string& format, int year, int month, int day, std::string& text) {
    text.clear();
    std::size_t i = 0;
    while (i < format.size()) {
        std::string piece;
        if (format[i] != '$') {
            piece.assign(1, format[i]);
            i += 1;
        } else {
            if (i + 1 >= format.size()) return false;
            const char what = format[i + 1];
            switch (what) {
                case '$':
                    piece = "$";
                    break;
                case 'Y':
                    piece = Formatted("%04d", year);
                    break;
                case 'M':
                    piece = Formatted("%02d", month);
                    break;
                case 'D':
                    piece = Formatted("%02d", day);
                    break;
                case 'N': {
                    if (i + 2 >= format.size()) return false;
                    const char digit = format[i + 2];
                    if (digit < '0' || digit > '9') return false;
                    piece = std::string("$N") + digit;
                    i += 1;
                    break;
                }
                default:
                    return false;
            }
            i += 2;
        }
        if (text.size() + piece.size() > kEndorserTextMax) return true;
        text += piece;
    }
    return true;
}

EndorserDateParts EndorserDate(const std::string& dateKeyValue, int localYear, int localMonth,
                               int localDay) {
    if (dateKeyValue.size() != 8) return {localYear, localMonth, localDay};
    return {LeadingNumber(dateKeyValue.substr(0, 4)), LeadingNumber(dateKeyValue.substr(4, 2)),
            LeadingNumber(dateKeyValue.substr(6, 2))};
}

}  // namespace orvo
