// The lines of a settings file, as reads and writes both take them.
//
// Lines end at LF, CR LF or a lone CR. After leading blanks a line is a
// comment (";" or "#"), a section header ("[" name "]", the rest of the line
// ignored), a key ("name=value", both trimmed), or nothing the reader uses
// (kept as it is). Keys before the first header belong to no section. A
// UTF-8 signature at the start is skipped, and reading stops at a zero byte.
// When a key occurs twice the first one is read and written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "orvo/platform/profile.h"

namespace orvo::platform::profile_lines {

struct Line {
    enum Kind { kOther, kSection, kKey };
    Kind kind = kOther;
    std::size_t next = 0;  // first byte of the next line
    std::string_view name;
    std::size_t valueBegin = 0, valueEnd = 0;  // the value (trimmed), keys only
};

// Names compare with ASCII case folding only, whatever the locale.
bool SameName(std::string_view a, std::string_view b);

// The lines of `data` (which outlives the result).
std::vector<Line> ParseLines(std::string_view data);

// The key line a read takes for (section, key): the first one in a section
// of that name; -1 when there is none.
long FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key);

// The value of a key line, without enclosing matching quotes.
std::string ValueOf(std::string_view data, const Line& line);

// Names and values that would change the structure of the file are refused.
bool ValidForWrite(const std::string& section, const std::string& key, const std::string& value);

// Puts `entry` into `data`: its value replaces the one a read finds, or a new
// line follows the last key of the first section of that name (a new section
// goes to the end of the file). Nothing else changes.
void Apply(const ProfileEntry& entry, std::string& data);

}  // namespace orvo::platform::profile_lines
