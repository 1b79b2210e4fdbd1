// Diagnostic messages of the backend on stderr, as SANE backends write them:
// SANE_DEBUG_ORVOSCAN=<level> shows every message up to that level
// (1 errors, 3 warnings, 5 steps of a scan, 10 details). Silent by default.
#pragma once

namespace orvo::sane {

inline constexpr int kLogError = 1;
inline constexpr int kLogWarning = 3;
inline constexpr int kLogStep = 5;
inline constexpr int kLogDetail = 10;

void Log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orvo::sane
