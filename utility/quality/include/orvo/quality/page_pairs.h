// Which page files belong together: by the page naming rule a file
// "<title><number>F.<ext>" is the front and "<title><number>R.<ext>" the rear
// of one cheque (A000001F.tif with A000001R.tif).
#pragma once

#include <string>

namespace orvo::quality {

struct NamedSide {
    bool named = false;  // the name follows the rule
    bool front = false;
    std::string partner;  // the path of the other side
};

// The side a path names: its file name's part before the last '.' ends in
// at least six digits and F or R.
NamedSide SideOfPageFile(const std::string& path);

}  // namespace orvo::quality
