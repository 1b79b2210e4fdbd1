#include "orvo/setup/dialog_controls.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace orvo {

void SetItemInt(DialogControls& dialog, int id, int value) {
    dialog.SetItemText(id, std::to_string(value));
}

int LeadingNumber(const std::string& text, int min, int max) {
    std::size_t i = 0;
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (i < text.size() && blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Saturates just past the int range, so that the bounds below decide.
    constexpr int64_t kCeiling = int64_t{INT_MAX} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(kCeiling, value * 10 + (text[i] - '0'));
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<int64_t>(value, min, max));
}

int ItemNumber(DialogControls& dialog, int id, std::size_t bufferSize, int min, int max) {
    return LeadingNumber(dialog.ItemText(id, bufferSize), min, max);
}

void CheckRadioGroup(DialogControls& dialog, int first, int last, int value) {
    for (int id = first; id <= last; ++id) dialog.SetChecked(id, id - first == value);
}

}  // namespace orvo
