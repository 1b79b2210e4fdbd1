// The subcommands of orvoscan besides `scan`.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "orvo/scanrun/driver.h"

namespace orvoscan {

// Driver version and start, where the scanner was found, the system directory,
// the settings file with its profiles, the trace directory.
int RunInfo(orvo::scanrun::Driver& driver, Console& console);

// Prints the scanner's 12-byte QA block.
int RunQaRead(orvo::scanrun::Driver& driver, Console& console);

// Writes the 10 QA bytes given as decimal or 0x-hex numbers 0-255.
int RunQaWrite(orvo::scanrun::Driver& driver, const std::vector<std::string>& values,
               Console& console);

}  // namespace orvoscan
