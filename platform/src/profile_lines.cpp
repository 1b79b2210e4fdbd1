// Reading the lines of a settings file and changing one key's line.
#include "profile_lines.h"

#include <cstring>

namespace orvo::platform::profile_lines {

static bool Blank(char c) {
    return c == ' ' || c == '\t';
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

static std::size_t TrimEnd(std::string_view data, std::size_t begin, std::size_t end) {
    while (end > begin && Blank(data[end - 1])) --end;
    return end;
}

static Line ClassifyLine(std::string_view data, std::size_t begin, std::size_t end) {
    Line line;
    std::size_t i = begin;
    while (i < end && Blank(data[i])) ++i;
    if (i == end || data[i] == ';' || data[i] == '#') return line;
    if (data[i] == '[') {
        std::size_t from = i + 1;
        while (from < end && Blank(data[from])) ++from;
        const std::size_t close = data.find(']', from);
        if (close == std::string_view::npos || close >= end) return line;
        line.kind = Line::kSection;
        line.name = data.substr(from, TrimEnd(data, from, close) - from);
        return line;
    }
    const std::size_t eq = data.find('=', i);
    if (eq == std::string_view::npos || eq >= end || eq == i) return line;
    line.kind = Line::kKey;
    line.name = data.substr(i, TrimEnd(data, i, eq) - i);
    std::size_t v = eq + 1;
    while (v < end && Blank(data[v])) ++v;
    line.valueBegin = v;
    line.valueEnd = TrimEnd(data, v, end);
    return line;
}

// The lines of `data` (which outlives the result).
std::vector<Line> ParseLines(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    std::vector<Line> lines;
    std::size_t at = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < data.size()) {
        std::size_t end = data.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = data.size();
        Line line = ClassifyLine(data, at, end);
        std::size_t next = end;
        if (next < data.size()) {
            next += data.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        line.next = next;
        lines.push_back(line);
        at = next;
    }
    return lines;
}

// The key line a read takes for (section, key): the first one in a section
// of that name; -1 when there is none.
long FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    bool inSection = section.empty();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == Line::kSection) {
            inSection = SameName(line.name, section);
        } else if (line.kind == Line::kKey && inSection && SameName(line.name, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// A value enclosed in matching single or double quotes is returned without
// them, as the platform does.
static std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

std::string ValueOf(std::string_view data, const Line& line) {
    return Unquote(data.substr(line.valueBegin, line.valueEnd - line.valueBegin));
}

static bool HasLineBreakOrNul(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Names and values that would change the structure of the file are refused.
bool ValidForWrite(const std::string& section, const std::string& key, const std::string& value) {
    if (section.empty() || key.empty()) return false;
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) {
        return false;
    }
    if (section.find(']') != std::string::npos) return false;
    if (key.find('=') != std::string::npos) return false;
    const char first = key.front();
    if (first == '[' || first == ';' || first == '#') return false;
    // Leading or trailing blanks would be trimmed on the next read.
    return !Blank(section.front()) && !Blank(section.back()) && !Blank(key.front()) &&
           !Blank(key.back());
}

// Puts `entry` into `data`: its value replaces the one a read finds, or a new
// line follows the last key of the first section of that name (a new section
// goes to the end of the file). Nothing else changes.
void Apply(const ProfileEntry& entry, std::string& data) {
    const std::vector<Line> lines = ParseLines(data);
    const std::size_t start = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const long found = FindKey(lines, entry.section, entry.key);
    if (entry.onlyIf && (found < 0 ? std::string() : ValueOf(data, lines[found])) != *entry.onlyIf)
        return;
    if (found >= 0) {
        const Line& line = lines[found];
        data.replace(line.valueBegin, line.valueEnd - line.valueBegin, entry.value);
        return;
    }
    const std::string eol = data.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::size_t at = std::string::npos;
    bool inSection = false;
    for (const Line& line : lines) {
        if (line.kind == Line::kSection) {
            if (at != std::string::npos) break;  // the end of the first such section
            inSection = SameName(line.name, entry.section);
            if (inSection) at = line.next;
        } else if (line.kind == Line::kKey && inSection) {
            at = line.next;
        }
    }
    std::string text = entry.key + "=" + entry.value + eol;
    if (at == std::string::npos) {
        at = data.size();
        text = "[" + entry.section + "]" + eol + text;
    }
    // A line without its line break (the file's last) gets one first.
    if (at > start && data[at - 1] != '\n' && data[at - 1] != '\r') text = eol + text;
    data.insert(at, text);
}

}  // namespace orvo::platform::profile_lines
