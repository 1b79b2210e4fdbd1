// orvoscan's commands: one table of names, help lines and handlers, so that a
// new command is one more entry (and a command with subcommands, such as
// `qa`, keeps a table of its own the same way).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "console.h"

namespace orvoscan {

struct Command {
    const char* name;
    // Lines of the help text's command list: the synopsis, then what it does.
    const char* help;
    // argv[0] is the command's name; returns the exit code.
    int (*run)(int argc, char** argv, Console& console);
};

const std::vector<Command>& Commands();
// The command of that name; null when there is none.
const Command* FindCommand(const std::vector<Command>& table, const std::string& name);

void PrintUsage(std::FILE* out);
// "orvoscan: MESSAGE" and a hint on stderr; returns the usage exit code.
int UsageError(const std::string& message);

}  // namespace orvoscan
