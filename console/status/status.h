// "status": the service's state and how its last start went, read once into
// its facts and printed from them as text or as one JSON object for monitoring.
#ifndef VELMORANE_STATUS_H
#define VELMORANE_STATUS_H

#include <windows.h>

#include "console/log_view.h"
#include "launcher/strings.h"
#include "console/status/last_start.h"
#include "log/log.h"
#include "log/logfile.h"

// Whether the service's process, the one the SCM names, still runs.
enum ProcessLife { PROCESS_UNKNOWN, PROCESS_ALIVE, PROCESS_GONE };

// What the status is made of, read once; both printings take it as it is.
struct StatusFacts {
    bool answered;                       // the Service Control Manager could be asked
    DWORD error;                         // its error otherwise
    SERVICE_STATUS_PROCESS status;       // dwCurrentState SERVICE_NOT_INSTALLED when it is not
    ProcessLife process;                 // gone when stopped; unknown when the SCM can't tell
    char javaOutput[ANSI_CAPACITY];      // the Java output file (VLJAVAOUTPUT); "" without the variable
    ULONGLONG javaOutputSize;
    DWORD javaOutputError;               // 0: its size was read
    char *logText;                       // NULL: no log, or one the service refuses
    LogFileCheck log;                    // what the log file is
    char ownerName[256];                 // the account of a refused file's owner
    LastStart start;                     // bannerStamp NULL: no start in the log
    char startTime[LOG_STAMP_LENGTH];    // the banner's stamp without its blank
    int exitCode;
};

// How the last start went, and how the stop after it went, in a word each:
// a fixed set, named by the tokens of status_tokens.cpp.
enum StartOutcome { START_MAIN_INVOKED, START_MAIN_THREW, START_FAILED, START_UNFINISHED };
enum StopOutcome { STOP_NONE, STOP_SHUTDOWN_RETURNED, STOP_SHUTDOWN_THREW, STOP_FAILED, STOP_NO_SHUTDOWN_RECORD };
// A stop that did not end cleanly: shutdown() past its bound, an attach
// that failed, shutdown()'s exception; or a process that ended while the
// log tells no stop after main was invoked.
enum UncleanStop { UNCLEAN_NONE, UNCLEAN_SHUTDOWN_NOT_RETURNED, UNCLEAN_ATTACH_FAILED, UNCLEAN_SHUTDOWN_THREW,
                   UNCLEAN_PROCESS_ENDED };

// Asks the SCM and reads the log, as the service judges it, into `facts`.
void readStatusFacts(const ServiceManager *manager, StatusFacts *facts);

// The remedy for a failure record read from the log and the Java exception
// after it (NULL: none).
const char *statusRemedy(const char *record, const char *exception);
// What a service-specific exit code means.
const char *exitCodeMeaning(DWORD code);
// The same for the code the manager has: the application's own after a last
// start that System.exit or Runtime.halt ended with it (under VLSTOPONFAILURE).
const char *serviceExitCodeMeaning(const StatusFacts *facts);
// Whether the service stopped after main was invoked without any record of
// shutdown(): it outlived its wait, or the process ended otherwise.
bool stoppedWithoutShutdownRecord(const LastStart *start, DWORD state);
StartOutcome startOutcome(const LastStart *start);
// STOP_NONE while the service has not been stopped since the start.
StopOutcome stopOutcome(const LastStart *start, DWORD state);
UncleanStop uncleanStop(const LastStart *start, DWORD state, ProcessLife process);
// The status's exit code: lastStartExitCode's, and problems for an unclean stop.
int statusExitCode(const LastStart *start, DWORD state, ProcessLife process);

// The fixed tokens of status --json, lower case, and the texts beside them.
// A state or kind outside the set is "unknown".
const char *serviceStateToken(DWORD state);
const char *startOutcomeToken(StartOutcome outcome);
const char *startOutcomeText(StartOutcome outcome);
const char *stopOutcomeToken(StopOutcome outcome); // NULL for STOP_NONE
const char *stopOutcomeText(StopOutcome outcome);  // NULL for STOP_NONE
const char *uncleanStopToken(UncleanStop kind);    // NULL for UNCLEAN_NONE
// A Java thread's state as the dump names it (TIMED_WAITING): "timed_waiting".
const char *threadStateToken(const char *javaName);
const char *logRefusalToken(LogFileState state);

void printStatusText(const StatusFacts *facts);
// The Java output file the service writes now (VLJAVAOUTPUT) and its size,
// read into the facts, and its line; nothing without the variable.
void readJavaOutputFacts(StatusFacts *facts);
void printJavaOutputStatus(const StatusFacts *facts);
// The same facts as one JSON object on one line, each fact a field of its
// own beside the texts for people; the log's texts, read in the ANSI code
// page, in UTF-8 (json_text.h).
#define STATUS_JSON_SCHEMA 1
void printStatusJson(const StatusFacts *facts);

#endif
