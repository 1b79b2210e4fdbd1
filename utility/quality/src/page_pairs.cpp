#include "orvo/quality/page_pairs.h"

namespace orvo::quality {

NamedSide SideOfPageFile(const std::string& path) {
    NamedSide side;
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart + 7) return side;
    const std::size_t letter = dot - 1;
    const char c = path[letter];
    if (c != 'F' && c != 'R') return side;
    for (std::size_t i = letter - 6; i < letter; ++i) {
        if (path[i] < '0' || path[i] > '9') return side;
    }
    side.named = true;
    side.front = c == 'F';
    side.partner = path;
    side.partner[letter] = side.front ? 'R' : 'F';
    return side;
}

}  // namespace orvo::quality
