// Service main routine and control handler. The service reports itself
// running before the Java application starts and stays running whatever
// becomes of it, until a STOP or SHUTDOWN (or, when asked for, PRESHUTDOWN)
// arrives; under VLSTOPONFAILURE a failed start stops it as a STOP would, with
// the failure's exit code.
#include "service/service.h"

#include <stdlib.h>
#include <wchar.h>

#include "launcher/launcher.h"
#include "launcher/shutdown.h"
#include "log/log.h"
#include "service/eventlog.h"

// The control handler's state: the manager calls it with no argument of ours.
static SERVICE_STATUS serviceStatus;
static SERVICE_STATUS_HANDLE serviceStatusHandle;
HANDLE stopEvent;
// Set by the first STOP or SHUTDOWN; later ones only re-report.
static volatile LONG stopRequested;

// Two threads report: the dispatcher's (the control handler's re-report, and
// the stop) and, when a failed start stops the service, the service main
// routine's. Each change of the record and its report happen under this
// lock, so no report is half-updated and the reports reach the manager in
// the order the record changed. Once STOPPED is reported the record changes
// no more: a later report repeats it.
static SRWLOCK statusLock = SRWLOCK_INIT;
static bool stoppedReported;
#define KEEP_CONTROLS 0xFFFFFFFFu
// The launch the stop stops: the control handler is given no argument of
// ours. Set before the first control can be accepted.
static LaunchContext *serviceLaunch;

static void report(DWORD state, DWORD controlsAccepted, DWORD exitCode, DWORD specificExitCode)
{
    AcquireSRWLockExclusive(&statusLock);
    if (!stoppedReported) {
        serviceStatus.dwCurrentState = state;
        if (controlsAccepted != KEEP_CONTROLS)
            serviceStatus.dwControlsAccepted = controlsAccepted;
        serviceStatus.dwWin32ExitCode = exitCode;
        serviceStatus.dwServiceSpecificExitCode = specificExitCode;
        stoppedReported = state == SERVICE_STOPPED;
    }
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
    ReleaseSRWLockExclusive(&statusLock);
}

static bool accepts(DWORD controls)
{
    AcquireSRWLockShared(&statusLock);
    bool accepted = (serviceStatus.dwControlsAccepted & controls) != 0;
    ReleaseSRWLockShared(&statusLock);
    return accepted;
}

static void reportState(DWORD state)
{
    report(state, KEEP_CONTROLS, NO_ERROR, 0);
}

static void reReport(void)
{
    AcquireSRWLockExclusive(&statusLock);
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
    ReleaseSRWLockExclusive(&statusLock);
}

// Without a stop event the service could never be stopped: it reports itself
// stopped at once, with the reason, instead of running on.
static void stopForMissingEvent(DWORD error)
{
    report(SERVICE_STOPPED, 0, error, 0);
    logRetire();
}

static void stopSequence(DWORD failure);
static void tellJvmExit(const LaunchContext *launch, int code);

// Waits for the stop event. A launcher thread that ends asking the service to
// stop (its start failed and VLSTOPONFAILURE is set) stops it as a STOP
// would; one that ends otherwise leaves it running until a STOP. Returns the
// failure's number when the service stops for it, else 0.
static DWORD waitForStop(HANDLE launcher)
{
    HANDLE waits[2] = {stopEvent, launcher};
    DWORD count = launcher != NULL ? 2 : 1;
    DWORD failure = 0;
    while (WaitForMultipleObjects(count, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        count = 1;
        DWORD result = 0;
        if (!GetExitCodeThread(launcher, &result) || result <= STOP_ON_FAILURE_RESULT)
            continue;
        // A STOP that came first has the stop in hand already.
        if (InterlockedCompareExchange(&stopRequested, 1, 0) == 0) {
            failure = result - STOP_ON_FAILURE_RESULT;
            stopSequence(failure);
            reportStoppedOnFailure(failure);
        }
    }
    return failure;
}

// STOP and SHUTDOWN; PRESHUTDOWN as well when VLPRESHUTDOWN is "1": Windows
// then gives the stop its pre-shutdown timeout instead of the few seconds
// that services get after SHUTDOWN.
static DWORD acceptedControls(void)
{
    const wchar_t *preshutdown = _wgetenv(PRESHUTDOWN_VARIABLE);
    DWORD accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    if (preshutdown != NULL && wcscmp(preshutdown, L"1") == 0)
        accepted |= SERVICE_ACCEPT_PRESHUTDOWN;
    return accepted;
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
    stoppedReported = false;
    eventsBegin();

    serviceStatusHandle = RegisterServiceCtrlHandlerW(SERVICE_NAME, controlHandler);
    if (serviceStatusHandle == NULL)
        return;

    reportState(SERVICE_START_PENDING);

    // The launch lives as long as the process: a shutdown thread that
    // outlived the stop, or the launcher thread still in main, may use it
    // until the process ends.
    serviceLaunch = newLaunchContext();
    stopEvent = serviceLaunch != NULL ? CreateEventW(NULL, FALSE, FALSE, NULL) : NULL;
    if (stopEvent == NULL) {
        stopForMissingEvent(serviceLaunch != NULL ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    readLaunchInputs(&serviceLaunch->inputs);
    // What the launch and the log meet that an operator must hear of goes to
    // the event log.
    serviceLaunch->observer.logRefused = reportLogRefused;
    serviceLaunch->observer.launchOutcome = reportStartFailure;
    serviceLaunch->observer.shutdownFrame = keepShutdownFrame;
    serviceLaunch->observer.jvmExit = tellJvmExit;
    logNoticeRefusals(serviceLaunch->observer.logRefused);

    // The event exists before any STOP or SHUTDOWN can be accepted.
    report(SERVICE_RUNNING, acceptedControls(), NO_ERROR, 0);

    HANDLE launcher = CreateThread(NULL, 0, launcherThread, serviceLaunch, 0, NULL);
    DWORD failure = waitForStop(launcher);
    if (launcher != NULL)
        CloseHandle(launcher);

    reportState(SERVICE_STOP_PENDING);
    CloseHandle(stopEvent);
    stopEvent = NULL;
    // What the application wrote before the stop is in the files at STOPPED.
    finishJavaOutput(&serviceLaunch->output, OUTPUT_DRAIN_MS);
    // A failed start that stopped the service is a failure to Windows: its
    // recovery actions see it.
    report(SERVICE_STOPPED, 0, failure != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR, failure);

    logRetire();
}

// System.exit or Runtime.halt, on the virtual machine's thread, just before
// the process ends: the event, and under VLSTOPONFAILURE the manager told
// the service stopped, with the code (a non-zero one as a failure, which its
// recovery actions see). No stop runs after it: a STOP now only re-reports.
static void tellJvmExit(const LaunchContext *launch, int code)
{
    reportJvmExit(code);
    if (!launch->inputs.stopOnFailure)
        return;
    InterlockedExchange(&stopRequested, 1);
    report(SERVICE_STOPPED, 0, code != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR, (DWORD)code);
}

// Runs on the dispatcher's thread (or, for a failed start, the service main
// routine's, with the failure's kind): while it waits for shutdown() no other
// control is handled.
static void stopSequence(DWORD failure)
{
    reportState(SERVICE_STOP_PENDING);
    if (!stopLaunch(serviceLaunch, failure))
        reportShutdownNotReturned();

    // The last use of the event: the service main routine closes it only
    // after this signal has woken it.
    SetEvent(stopEvent);
}

void WINAPI controlHandler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_PRESHUTDOWN:
        // Only a service that accepts it stops on it.
        if (!accepts(SERVICE_ACCEPT_PRESHUTDOWN))
            break;
        // fall through
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // Only the first stop runs the sequence: a later one could report
        // STOP_PENDING after STOPPED, or signal an event already closed.
        if (InterlockedCompareExchange(&stopRequested, 1, 0) == 0) {
            stopSequence(LAUNCH_NOT_FAILED);
            return;
        }
        break;
    default:
        break;
    }
    reReport();
}
