// The texts with which the scanning programs report a driver result code.
#pragma once

#include <cstdint>
#include <string>

namespace orvo::scanrun {

// False for 0 and for -3 (the normal end of a batch): nothing is reported.
bool ReportsDriverResult(int code);

// The message for a driver result code: "Error occurred!! Check the
// scanner..", two line feeds, two blanks, then the code's text; for -100 one
// further line per set bit of `deviceError`. Unknown codes give an empty text.
std::string DriverErrorText(int code, uint32_t deviceError);

// Only the lines of the device error word ("\n  -JAM1 error.." ...). "No
// document" is named only when no other known bit is set.
std::string DeviceErrorLines(uint32_t deviceError);

}  // namespace orvo::scanrun
