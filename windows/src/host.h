/* What K4TR.dll needs of the Linux side under Wine: Unix paths mapped to
 * Windows paths, small files read, and a line in the driver's log.txt. */
#ifndef ORVO_K4TR_HOST_H
#define ORVO_K4TR_HOST_H

#include <stddef.h>

/* A Unix environment variable as Wine passes it on; 0 when unset or longer
 * than `cap` - 1. */
int host_env(const char* name, char* out, size_t cap);

/* Reads at most `cap` - 1 bytes of the file at the Unix path `unixPath`,
 * terminated. Returns the length, or -1 when it cannot be read (or is larger
 * than that). */
long host_read_unix_file(const char* unixPath, char* out, size_t cap);

/* Appends a line to the driver's log.txt (ORVOSCAN_TRACE_DIR, else the
 * driver's private directory of this user), in the driver's trace format;
 * nothing when that directory does not exist. */
void host_log(const char* text);

#endif
