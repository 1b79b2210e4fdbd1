// What the quality checks measured on one side, as JSON (the same fields
// `orvoscan scan --json` reports).
#pragma once

#include <nlohmann/json.hpp>

#include "orvo/quality/check.h"

namespace orvoscand {

nlohmann::json MeasuresJson(const orvo::quality::SideReport& side);

}  // namespace orvoscand
