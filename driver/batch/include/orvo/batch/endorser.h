// The endorser text: the EndorserFormat template expanded for one date, and
// the choice of that date.
#pragma once

#include <cstddef>
#include <string>

namespace orvo {

// Longest endorser text the scanner takes.
constexpr std::size_t kEndorserTextMax = 35;

// Expands `format` for the given date: $$ gives $, $Y the year ("%04d"), $M
// the month and $D the day ("%02d"), $N and a digit stay as they are (the
// scanner puts its serial number there), anything else is copied. Returns
// false for a $ at the end, $N not followed by a digit, or $ followed by any
// other character. The text stops before the first piece that would make it
// longer than 35 characters; the template is then accepted as it is so far.
bool BuildEndorserText(const std::string& format, int year, int month, int day, std::string& text);

struct EndorserDateParts {
    int year;
    int month;
    int day;
};

// The date the worker prints: the value of key Date when it has exactly 8
// characters (YYYYMMDD, each part read like atoi), otherwise the local date.
EndorserDateParts EndorserDate(const std::string& dateKeyValue, int localYear, int localMonth,
                               int localDay);

}  // namespace orvo
