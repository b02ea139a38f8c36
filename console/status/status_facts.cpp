// The status's facts: the service's state from the SCM, and its last start
// from the log, read as the service judges the log.
#include "console/status/status.h"

#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "launcher/launcher.h"
#include "launcher/remedies.h"

// The log's last part is enough: a start writes a few hundred records.
#define LOG_TAIL_CAPACITY (8 * 1024 * 1024)

// The log as the service judges it (its owner against the service's
// account, links, second names), read sharing everything so the service
// writes on meanwhile. NULL when there is none, or when it is not the file
// the service writes (check says which).
static char *readLogTail(const ServiceManager *manager, LogFileCheck *check)
{
    judgeLogAsTheService(manager);
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

// The SCM's process for the service: none while it is stopped; one that
// can't be opened for want of rights still runs.
static ProcessLife serviceProcessLife(bool answered, const SERVICE_STATUS_PROCESS *status)
{
    if (!answered)
        return PROCESS_UNKNOWN;
    if (status->dwCurrentState == SERVICE_STOPPED || status->dwCurrentState == SERVICE_NOT_INSTALLED)
        return PROCESS_GONE;
    if (status->dwProcessId == 0)
        return PROCESS_UNKNOWN;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status->dwProcessId);
    if (process == NULL) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER)
            return PROCESS_GONE;
        return error == ERROR_ACCESS_DENIED ? PROCESS_ALIVE : PROCESS_UNKNOWN;
    }
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended ? PROCESS_GONE : PROCESS_ALIVE;
}

void readStatusFacts(const ServiceManager *manager, StatusFacts *facts)
{
    facts->answered = queryServiceStatus(manager, &facts->status, &facts->error);
    facts->process = serviceProcessLife(facts->answered, &facts->status);
    readJavaOutputFacts(facts);
    facts->logText = readLogTail(manager, &facts->log);
    facts->ownerName[0] = '\0';
    if (logRefused(&facts->log))
        ownerAccountName(facts->log.owner, facts->ownerName, sizeof facts->ownerName);
    memset(&facts->start, 0, sizeof facts->start);
    if (facts->logText != NULL)
        readLastStart(facts->logText, &facts->start);
    facts->startTime[0] = '\0';
    if (facts->start.bannerStamp != NULL)
        lstrcpynA(facts->startTime, facts->start.bannerStamp, sizeof facts->startTime);
    facts->exitCode = facts->logText == NULL || facts->start.bannerStamp == NULL
                          ? EXIT_PROBLEMS
                          : statusExitCode(&facts->start, facts->status.dwCurrentState, facts->process);
}

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

const char *serviceExitCodeMeaning(const StatusFacts *facts)
{
    DWORD code = facts->status.dwServiceSpecificExitCode;
    if (facts->start.jvmExit != NULL && facts->start.stopOnFailureCode == 0 && (DWORD)facts->start.jvmExitCode == code)
        return "the application's System.exit or Runtime.halt";
    return exitCodeMeaning(code);
}

bool stoppedWithoutShutdownRecord(const LastStart *start, DWORD state)
{
    return !start->shutdownCalled && start->shutdownThrew == NULL && start->stopFailure == NULL && start->mainInvoked &&
           (state == SERVICE_STOPPED || state == SERVICE_NOT_INSTALLED);
}

StartOutcome startOutcome(const LastStart *start)
{
    if (start->mainInvoked)
        return start->mainFailure != NULL ? START_MAIN_THREW : START_MAIN_INVOKED;
    return start->startFailure != NULL ? START_FAILED : START_UNFINISHED;
}

StopOutcome stopOutcome(const LastStart *start, DWORD state)
{
    if (start->shutdownThrew != NULL)
        return STOP_SHUTDOWN_THREW;
    if (start->shutdownCalled)
        return STOP_SHUTDOWN_RETURNED;
    if (start->stopFailure != NULL)
        return STOP_FAILED;
    return stoppedWithoutShutdownRecord(start, state) ? STOP_NO_SHUTDOWN_RECORD : STOP_NONE;
}

// A stopped service whose log has the thread dump of a shutdown() that had
// not returned, and no record of its end, went on without it past its bound.
// A process gone with no stop in the log after main ended otherwise.
UncleanStop uncleanStop(const LastStart *start, DWORD state, ProcessLife process)
{
    if (start->shutdownThrew != NULL)
        return UNCLEAN_SHUTDOWN_THREW;
    if (start->attachFailed)
        return UNCLEAN_ATTACH_FAILED;
    bool dumped = start->dumpBegun || start->shutdownStack != NULL || start->dumpEnd != NULL;
    if (stoppedWithoutShutdownRecord(start, state) && dumped)
        return UNCLEAN_SHUTDOWN_NOT_RETURNED;
    bool stopTold = start->stopLogged || dumped || start->jvmExit != NULL;
    if (start->mainInvoked && !stopTold && process == PROCESS_GONE)
        return UNCLEAN_PROCESS_ENDED;
    return UNCLEAN_NONE;
}

int statusExitCode(const LastStart *start, DWORD state, ProcessLife process)
{
    return uncleanStop(start, state, process) != UNCLEAN_NONE ? EXIT_PROBLEMS : lastStartExitCode(start, state);
}
