// How a file that is not a regular file is named in messages.
#pragma once

#include <sys/stat.h>

#include <string>

namespace orvo::scanrun {

// "a directory", "a FIFO", ... for a file's mode.
inline std::string FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISREG(mode)) return "a regular file";
    return "a special file";
}

}  // namespace orvo::scanrun
