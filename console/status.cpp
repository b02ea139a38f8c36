// "status": the service's state, then how its last start went, from the log.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "console/last_start.h"
#include "console/remedies.h"
#include "console/service_view.h"
#include "console/status.h"
#include "launcher/java_contract.h"
#include "launcher/launcher.h"
#include "launcher/thread_dump.h"
#include "log/log.h"

// The log's last part is enough: a start writes a few hundred records.
#define LOG_TAIL_CAPACITY (8 * 1024 * 1024)

// The log as the service judges it (its owner against the service's
// account, links, second names), read sharing everything so the service
// writes on meanwhile. NULL when there is none, or when it is not the file
// the service writes (check says which).
static char *readLogTail(LogFileCheck *check)
{
    judgeLogAsTheService();
    HANDLE file = logOpenToRead(check);
    if (file == NULL)
        return NULL;
    char *text = (char *)malloc(LOG_TAIL_CAPACITY + 1);
    if (text != NULL)
        text[0] = '\0';
    LARGE_INTEGER size;
    DWORD read = 0;
    if (text != NULL && GetFileSizeEx(file, &size)) {
        LARGE_INTEGER at;
        at.QuadPart = size.QuadPart > LOG_TAIL_CAPACITY ? size.QuadPart - LOG_TAIL_CAPACITY : 0;
        if (!SetFilePointerEx(file, at, NULL, FILE_BEGIN) || !ReadFile(file, text, LOG_TAIL_CAPACITY, &read, NULL))
            read = 0;
        text[read] = '\0';
    }
    CloseHandle(file);
    // What Java wrote into a record must not act on this console.
    if (text != NULL)
        blankControls(text);
    return text;
}

bool logRefused(const LogFileCheck *check)
{
    return check->state != LOG_FILE_PLAIN && check->state != LOG_FILE_ABSENT && check->state != LOG_FILE_UNOPENABLE;
}

void refusedLogLine(const LogFileCheck *check, const char *ownerName, char *line, size_t capacity)
{
    snprintf(line, capacity, "%s is not the service's log: %s, owned by %s (%s); the service writes no record to it, and status reports none of it",
             LOG_FILE_PATH, logRefusalText(check->state), ownerName[0] != '\0' ? ownerName : "an unknown account",
             check->owner[0] != '\0' ? check->owner : "owner unreadable");
}

// What the status is made of, read once and printed as text or as JSON.
struct StatusView {
    bool answered;          // the Service Control Manager could be asked
    DWORD error;            // its error otherwise
    SERVICE_STATUS status;  // dwCurrentState SERVICE_NOT_INSTALLED when it is not
    char *logText;          // NULL: no log, or one the service refuses
    LogFileCheck log;       // what the log file is
    char ownerName[256];    // the account of a refused file's owner
    LastStart start;        // bannerStamp NULL: no start in the log
};

const char *statusRemedy(const char *record, const char *exception)
{
    return exception != NULL && isNewerJavaException(exception) ? NEWER_JAVA_REMEDY : logRecordRemedy(record);
}

// A service-specific exit code is one of a failed start's (VLSTOPONFAILURE).
const char *exitCodeMeaning(DWORD code)
{
    const char *text = launchFailureText(code);
    return text != NULL ? text : "not one of this service's codes";
}

bool stoppedWithoutShutdownRecord(const LastStart *start, DWORD state)
{
    return !start->shutdownCalled && start->shutdownThrew == NULL && start->stopFailure == NULL && start->mainInvoked &&
           (state == SERVICE_STOPPED || state == SERVICE_NOT_INSTALLED);
}

// A failure line, the Java exception that followed it, and the remedy.
static void printWithRemedy(const char *record, const char *exception)
{
    printf("    %s\n", record);
    if (exception != NULL)
        printf("    %s\n", exception);
    const char *remedy = statusRemedy(record, exception);
    if (remedy != NULL)
        printf("      -> %s\n", remedy);
}

// Where shutdown() stood when the threads were dumped: its thread and top frames.
static void printShutdownStack(const LastStart *start)
{
    if (start->shutdownStack != NULL) {
        printf("  stop: shutdown() had not returned after %d seconds; its thread stood at\n", THREAD_DUMP_AFTER_MS / 1000);
        printf("    %s\n", start->shutdownStack);
        for (int index = 0; index < start->shutdownFrameCount; index++)
            printf("    %s\n", start->shutdownFrames[index]);
    }
    if (start->dumpEnd != NULL)
        printf("  stop: %s\n", start->dumpEnd);
}

static void printStop(const LastStart *start, DWORD state)
{
    if (start->shutdownCalled)
        printf("  stop: shutdown() was called and %s%s\n", start->shutdownThrew ? "threw an exception" : "returned",
               start->detached ? "; its thread detached" : "");
    if (start->shutdownThrew)
        printWithRemedy(start->shutdownThrew, start->stopException);
    else if (start->stopFailure != NULL)
        printWithRemedy(start->stopFailure, start->stopException);
    else if (stoppedWithoutShutdownRecord(start, state))
        printf("  stop: no record of shutdown(): it took longer than %d seconds, or the process ended otherwise\n",
               SHUTDOWN_WAIT_MS / 1000);
    printShutdownStack(start);
}

static void printStatusText(const StatusView *view)
{
    DWORD state = view->status.dwCurrentState;
    if (!view->answered)
        printf("VelmoraneService: the Service Control Manager can't be asked (error %lu)\n", view->error);
    else if (state == SERVICE_STOPPED && view->status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        printf("VelmoraneService: stopped, exit code %lu: %s\n", view->status.dwServiceSpecificExitCode,
               exitCodeMeaning(view->status.dwServiceSpecificExitCode));
    else
        printf("VelmoraneService: %s\n", serviceStateText(state));

    const LastStart *start = &view->start;
    if (logRefused(&view->log)) {
        char line[1024];
        refusedLogLine(&view->log, view->ownerName, line, sizeof line);
        printf("%s\n", line);
        return;
    }
    if (view->logText == NULL) {
        printf("No log at %s: the service has not started since the log was removed\n", LOG_FILE_PATH);
        return;
    }
    if (start->bannerStamp == NULL) {
        printf("No start in %s\n", LOG_FILE_PATH);
        return;
    }
    printf("Last start, %.17s (%s):\n", start->bannerStamp, LOG_FILE_PATH);
    for (int index = 0; index < start->startNoteCount; index++)
        printWithRemedy(start->startNotes[index], NULL);
    if (start->jvmLoaded != NULL)
        printf("  JVM loaded: %s\n", start->jvmLoaded);
    if (start->mainInvoked) {
        printf("  main invoked\n");
        if (start->mainFailure != NULL)
            printWithRemedy(start->mainFailure, start->mainException);
    } else if (start->startFailure != NULL) {
        printf("  main not invoked: the start stopped at\n");
        printWithRemedy(start->startFailure, start->startException);
    } else {
        printf("  main not invoked (yet): the start is still under way or ended without a record\n");
    }
    if (start->stopOnFailureCode != 0)
        printf("  the service stopped itself (VLSTOPONFAILURE): exit code %d, %s\n", start->stopOnFailureCode,
               exitCodeMeaning((DWORD)start->stopOnFailureCode));
    printStop(start, state);
}

int statusCommand(bool json)
{
    StatusView view;
    view.answered = queryServiceStatus(&view.status, &view.error);
    view.logText = readLogTail(&view.log);
    view.ownerName[0] = '\0';
    if (logRefused(&view.log))
        ownerAccountName(view.log.owner, view.ownerName, sizeof view.ownerName);
    memset(&view.start, 0, sizeof view.start);
    if (view.logText != NULL)
        readLastStart(view.logText, &view.start);
    int code = view.logText == NULL || view.start.bannerStamp == NULL
                   ? EXIT_PROBLEMS
                   : lastStartExitCode(&view.start, view.status.dwCurrentState);
    if (json)
        printStatusJson(view.answered, view.error, &view.status, &view.log, view.ownerName, view.logText != NULL,
                        &view.start, code);
    else
        printStatusText(&view);
    return code;
}
