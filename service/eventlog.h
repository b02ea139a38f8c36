// The service's entries in the Application event log, for what needs an
// operator: a failed start, a main that threw, a shutdown() that outlived the
// stop, a stop the service made itself, a log file it refused. The texts are
// the message table's (service/messages.mc); the service hands over only the
// inserts, each one line with its control characters blanked.
#ifndef VELMORANE_EVENTLOG_H
#define VELMORANE_EVENTLOG_H

#include <windows.h>

#include "launcher/launcher.h"
#include "log/logfile.h"
#include "log/service_name.h"

// The source is named after the service.
#define EVENT_SOURCE_NAME L"" VELMORANE_SERVICE_NAME
#define EVENT_SOURCE_KEY L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" EVENT_SOURCE_NAME
// Wide characters of one insert, terminator included; longer ones are cut.
#define EVENT_INSERT_CAPACITY 2048
// The inserts of the longest message.
#define EVENT_INSERT_LIMIT 4
// The frames of the shutdown thread an event carries, innermost first.
#define EVENT_FRAME_LIMIT 3

// Writes one entry: its type, its number (as the message table has it) and
// its inserts. The service's writes to the event log; tests put their own.
typedef void (*EventReportFunction)(WORD type, DWORD id, WORD count, const wchar_t **inserts);
// Process-wide as the event source is: one for the process, whoever reports.
extern EventReportFunction eventReport;
void writeEventLogEntry(WORD type, DWORD id, WORD count, const wchar_t **inserts);

// Events are written once the service main routine has begun: the console's
// run and check use the same stages and write none. The launch's observer is
// pointed at the reports below by the service main routine.
void eventsBegin(void);

// install and uninstall: the source under EVENT_SOURCE_KEY, its messages in
// the executable at modulePath. True when done.
bool registerEventSource(const wchar_t *modulePath);
bool removeEventSource(void);

// The launcher's outcome: nothing for a good start (or a main that returned).
void reportStartFailure(const LaunchContext *launch, LaunchFailure failure);
// The stop waited the whole bound; the frames kept from the dump, if any.
void reportShutdownNotReturned(void);
void reportStoppedOnFailure(DWORD exitCode);
// System.exit or Runtime.halt ends the process with this code: an error, a
// warning for 0.
void reportJvmExit(int code);
// The log file refused (link, second name, unknown, owner): once per start.
void reportLogRefused(LogFileState state, const char *owner);

// The dump's frames of the thread in shutdown(), as written to the log.
void keepShutdownFrame(int index, const char *frame);

#endif
