// "status": the service's state and how its last start went, read once into
// its facts and printed from them as text or as one JSON object for monitoring.
#ifndef VELMORANE_STATUS_H
#define VELMORANE_STATUS_H

#include <windows.h>

#include "console/last_start.h"
#include "console/log_view.h"
#include "log/log.h"
#include "log/logfile.h"

// What the status is made of, read once; both printings take it as it is.
struct StatusFacts {
    bool answered;                       // the Service Control Manager could be asked
    DWORD error;                         // its error otherwise
    SERVICE_STATUS status;               // dwCurrentState SERVICE_NOT_INSTALLED when it is not
    char *logText;                       // NULL: no log, or one the service refuses
    LogFileCheck log;                    // what the log file is
    char ownerName[256];                 // the account of a refused file's owner
    LastStart start;                     // bannerStamp NULL: no start in the log
    char startTime[LOG_STAMP_LENGTH];    // the banner's stamp without its blank
    int exitCode;
};

// Asks the SCM and reads the log, as the service judges it, into `facts`.
void readStatusFacts(const ServiceManager *manager, StatusFacts *facts);

// The remedy for a failure record read from the log and the Java exception
// after it (NULL: none).
const char *statusRemedy(const char *record, const char *exception);
// What a service-specific exit code means.
const char *exitCodeMeaning(DWORD code);
// Whether the service stopped after main was invoked without any record of
// shutdown(): it outlived its wait, or the process ended otherwise.
bool stoppedWithoutShutdownRecord(const LastStart *start, DWORD state);

void printStatusText(const StatusFacts *facts);
// The Java output file the service writes now (VLJAVAOUTPUT) and its size;
// nothing without the variable.
void printJavaOutputStatus(void);
// The same facts as the text, as one JSON object on one line, in ASCII: the
// log's bytes are read in the ANSI code page and every character outside
// printable ASCII is written as a \u escape, so the object is valid JSON
// whatever the log holds.
void printStatusJson(const StatusFacts *facts);

#endif
