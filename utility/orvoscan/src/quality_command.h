// `orvoscan quality [--json] [--limits FILE] FILE...`: the quality checks of
// page files already on disk. Files named by the page naming rule pair up as
// the front and rear of one cheque when both are given.
#pragma once

#include <nlohmann/json.hpp>

#include "console.h"
#include "orvo/quality/check.h"
#include "orvo/quality/limits.h"

namespace orvoscan {

int QualityCommand(int argc, char** argv, Console& console);

// The limits a program uses: the limits file given, else quality.ini in the
// driver's system directory; each problem of the file as a warning.
orvo::quality::Limits LoadLimits(const std::string& file, Console& console);

// A side's measures as JSON members (added to `out`).
void AddMeasures(const orvo::quality::SideReport& side, nlohmann::json& out);

}  // namespace orvoscan
