// The subcommands of orvoscan besides `scan`.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "driver_api.h"

namespace orvoscan {

// The system directory: $ORVOSCAN_SYSTEM_DIR, else the driver library's
// directory; ends in '/' unless empty.
std::string SystemDir();

// Driver version and start, where the scanner was found, the system directory,
// the settings file with its profiles, the trace directory.
int RunInfo(const DriverApi& driver, Console& console);

// Prints the scanner's 12-byte QA block.
int RunQaRead(const DriverApi& driver, Console& console);

// Writes the 10 QA bytes given as decimal or 0x-hex numbers 0-255.
int RunQaWrite(const DriverApi& driver, const std::vector<std::string>& values, Console& console);

}  // namespace orvoscan
