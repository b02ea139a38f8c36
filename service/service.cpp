// Service main routine and control handler. The service reports itself
// running before the Java application starts and stays running whatever
// becomes of it, until a STOP or SHUTDOWN arrives.
#include "service/service.h"

#include "launcher/launcher.h"
#include "launcher/shutdown.h"
#include "log/log.h"

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE serviceStatusHandle;
HANDLE stopEvent;
volatile LONG stopRequested;

static void reportState(DWORD state)
{
    serviceStatus.dwCurrentState = state;
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
}

// Starts a thread that nobody joins; its handle is of no further use.
static void startDetachedThread(LPTHREAD_START_ROUTINE routine)
{
    HANDLE thread = CreateThread(NULL, 0, routine, NULL, 0, NULL);
    if (thread != NULL)
        CloseHandle(thread);
}

// Without a stop event the service could never be stopped: it reports itself
// stopped at once, with the reason, instead of running on.
static void stopForMissingEvent(DWORD error)
{
    serviceStatus.dwWin32ExitCode = error;
    reportState(SERVICE_STOPPED);
    logLockDelete();
}

void WINAPI serviceMain(DWORD, LPWSTR *)
{
    serviceStatus.dwServiceType = SERVICE_REPORTED_TYPE;
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwControlsAccepted = 0;
    serviceStatus.dwWin32ExitCode = NO_ERROR;
    serviceStatus.dwServiceSpecificExitCode = 0;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    stopRequested = 0;

    serviceStatusHandle = RegisterServiceCtrlHandlerW(SERVICE_NAME, controlHandler);
    if (serviceStatusHandle == NULL)
        return;

    reportState(SERVICE_START_PENDING);

    stopEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (stopEvent == NULL) {
        stopForMissingEvent(GetLastError());
        return;
    }

    // The event exists before any STOP or SHUTDOWN can be accepted.
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    reportState(SERVICE_RUNNING);

    startDetachedThread(launcherThread);

    WaitForSingleObject(stopEvent, INFINITE);

    reportState(SERVICE_STOP_PENDING);
    CloseHandle(stopEvent);
    serviceStatus.dwControlsAccepted = 0;
    stopEvent = NULL;
    reportState(SERVICE_STOPPED);

    logLockDelete();
}

// Runs on the dispatcher's thread: while it waits for shutdown() no other
// control is handled.
static void stopSequence(void)
{
    reportState(SERVICE_STOP_PENDING);
    stopApplication();

    // The last use of the event: the service main routine closes it only
    // after this signal has woken it.
    SetEvent(stopEvent);
}

void WINAPI controlHandler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // Only the first stop runs the sequence: a later one could report
        // STOP_PENDING after STOPPED, or signal an event already closed.
        if (InterlockedCompareExchange(&stopRequested, 1, 0) == 0) {
            stopSequence();
            return;
        }
        break;
    default:
        break;
    }
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
}
