// Where the page and dump files of this process's batches live: a directory
// of their own inside the user's private directory, so that batches of two
// processes never share or delete each other's files.
#pragma once

#include <string>

namespace orvo {

// This process's page directory "batch-<pid>/" in `tempDir` (ends in '/'),
// made on first use (mode 0700) and locked for as long as the process lives,
// which tells it from the directory of a process that has ended. Empty, with
// the reason in *error, when it cannot be made.
std::string ProcessPageDir(const std::string& tempDir, std::string* error = nullptr);

// Removes the page directories in `tempDir` of processes that have ended,
// with their page and dump files. Returns how many went.
int SweepEndedPageDirs(const std::string& tempDir);

// Removes this process's page directory with its page and dump files (the
// driver's end); the next batch makes it again.
void RemoveProcessPageDir();

// The page data are a bank customer's cheques: they also go when the
// process ends. Registers once that the page and dump files of this
// process's page directory are removed at exit() and, for each of SIGINT,
// SIGTERM and SIGHUP the program leaves at its default (ending the process),
// when that signal comes (the signal then ends the process as before).
void RemovePagesAtProcessEnd();

}  // namespace orvo
