// "status": the service's state and how its last start went, as text or as
// one JSON object for monitoring.
#ifndef VELMORANE_STATUS_H
#define VELMORANE_STATUS_H

#include <windows.h>

#include "console/last_start.h"
#include "log/logfile.h"

// The remedy for a failure record read from the log and the Java exception
// after it (NULL: none).
const char *statusRemedy(const char *record, const char *exception);
// What a service-specific exit code means.
const char *exitCodeMeaning(DWORD code);
// Whether the service stopped after main was invoked without any record of
// shutdown(): it outlived its wait, or the process ended otherwise.
bool stoppedWithoutShutdownRecord(const LastStart *start, DWORD state);

// The same facts as the text, as one JSON object on one line, in ASCII: the
// log's bytes are read in the ANSI code page and every character outside
// printable ASCII is written as a \u escape, so the object is valid JSON
// whatever the log holds.
void printStatusJson(bool answered, DWORD error, const SERVICE_STATUS *status, const LogFileCheck *log,
                     const char *ownerName, bool logFound, const LastStart *start, int exitCode);

// Whether the file at the log's path is one the service refuses (a link, a
// second name, someone else's): then nothing in it is reported as the
// service's, and the status is a problem.
bool logRefused(const LogFileCheck *check);
// The line that names a refused log file, why, and its owner (ownerName:
// the owner's account, "" when unknown).
void refusedLogLine(const LogFileCheck *check, const char *ownerName, char *line, size_t capacity);

#endif
