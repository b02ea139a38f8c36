/*
 * The least a service can do: register its control handler, report RUNNING at
 * once, and stop on STOP. The yardstick of the service benchmarks (time from
 * the start request to RUNNING, private memory of a running service process).
 *
 * Built like the service (mingw, static, same warnings); it logs nothing and
 * starts no thread of its own. Registered and driven by scmctl.exe (create, time-start).
 */
#include <windows.h>

#define MINIMAL_SERVICE_NAME L"VelmoraneBenchMinimal"

static SERVICE_STATUS status;
static SERVICE_STATUS_HANDLE status_handle;
static HANDLE stop_event;

static void report(DWORD state)
{
    status.dwCurrentState = state;
    SetServiceStatus(status_handle, &status);
}

static void WINAPI handler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stop_event);
        return;
    }
    SetServiceStatus(status_handle, &status);
}

static void WINAPI service_main(DWORD argc, LPWSTR *argv)
{
    (void)argc;
    (void)argv;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    status_handle = RegisterServiceCtrlHandlerW(MINIMAL_SERVICE_NAME, handler);
    if (status_handle == NULL)
        return;
    stop_event = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (stop_event == NULL) {
        status.dwWin32ExitCode = GetLastError();
        report(SERVICE_STOPPED);
        return;
    }
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    report(SERVICE_RUNNING);
    WaitForSingleObject(stop_event, INFINITE);
    CloseHandle(stop_event);
    status.dwControlsAccepted = 0;
    report(SERVICE_STOPPED);
}

int wmain(void)
{
    static SERVICE_TABLE_ENTRYW table[] = {
        {(LPWSTR)MINIMAL_SERVICE_NAME, service_main},
        {NULL, NULL},
    };
    StartServiceCtrlDispatcherW(table);
    return 0;
}
