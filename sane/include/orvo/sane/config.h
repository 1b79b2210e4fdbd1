// The backend's configuration file, orvoscan.conf.
#pragma once

#include <string>
#include <vector>

namespace orvo::sane {

struct Config {
    std::string systemDir;  // "system-dir <path>": where OrvoScan.ini and the code tables are
    std::string profile;    // "profile <name>": chosen when a frontend opens the scanner
    std::string aspi;       // "aspi sim|sg": the ASPI backend when ORVOSCAN_ASPI is unset
    std::string path;       // the file read; empty when none was found
};

// Parses the text of a configuration file: one setting per line, "#" starts
// a comment, blank lines are ignored. Lines it does not understand are
// listed in `problems` and otherwise ignored.
Config ParseConfig(const std::string& text, std::vector<std::string>* problems);

// The directories searched for orvoscan.conf: those of SANE_CONFIG_DIR
// (separated by ':'; a trailing ':' adds the default), else the default
// `defaultDir`.
std::vector<std::string> ConfigDirs(const char* saneConfigDir, const std::string& defaultDir);

// Reads orvoscan.conf from the first of `dirs` that has one. Only a regular
// file of at most 64 KiB is read: anything else there (a FIFO, a device) is
// refused at once with an error message and the search goes on.
Config ReadConfig(const std::vector<std::string>& dirs);

}  // namespace orvo::sane
