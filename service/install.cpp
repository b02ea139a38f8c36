// install and uninstall: each prints at most one line and never logs.
#include "service/install.h"

#include <windows.h>
#include <stdio.h>

#include "service/eventlog.h"
#include "service/service.h"

// The registered command line is the path between quotes, so that it stays
// one path when a directory name has blanks in it.
void quoteModulePath(const wchar_t *modulePath, wchar_t *quotedPath)
{
    size_t length = wcsnlen(modulePath, MODULE_PATH_CAPACITY - 1);
    quotedPath[0] = L'"';
    memcpy(quotedPath + 1, modulePath, length * sizeof(wchar_t));
    quotedPath[length + 1] = L'"';
    quotedPath[length + 2] = L'\0';
}

// The one way out of both commands: whichever handles they opened.
static void closeCommandHandles(SC_HANDLE service, SC_HANDLE manager)
{
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
}

void installService(void)
{
    // On the stack: only this command needs them, and the running service's
    // memory stays free of them.
    wchar_t modulePath[MODULE_PATH_CAPACITY];
    wchar_t quotedPath[QUOTED_PATH_CAPACITY];
    SC_HANDLE service = NULL;

    // Without the right to create services (no elevation) the manager itself
    // refuses, with error 5.
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager != NULL && GetModuleFileNameW(NULL, modulePath, MODULE_PATH_CAPACITY) != 0) {
        quoteModulePath(modulePath, quotedPath);
        service = CreateServiceW(manager, SERVICE_NAME, SERVICE_NAME, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, quotedPath, NULL, NULL, NULL, NULL, NULL);
    }
    if (service == NULL) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            printf(VELMORANE_SERVICE_NAME " already exists.\n");
        else
            printf(VELMORANE_SERVICE_NAME " was not installed successfully. Error Code %d\n", (int)error);
        goto done;
    }
    // The line is the same whether or not the source could be registered:
    // without it the service runs as before, its events unreadable.
    registerEventSource(modulePath);
    printf(VELMORANE_SERVICE_NAME " installed successfully\n");
done:
    closeCommandHandles(service, manager);
}

static void reportDeleteFailure(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        printf("Access denied while trying to remove " VELMORANE_SERVICE_NAME " \n");
        break;
    case ERROR_INVALID_HANDLE:
        printf("Handle invalid while trying to remove " VELMORANE_SERVICE_NAME " \n");
        break;
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        printf(VELMORANE_SERVICE_NAME " already marked for deletion\n");
        break;
    default:
        break;
    }
}

void uninstallService(void)
{
    SERVICE_STATUS status;
    SC_HANDLE service = NULL;

    // Without elevation Windows lets the manager be opened but refuses the
    // service, with error 5; the manager refuses only where even connecting
    // is not allowed, or fails when it can't be reached.
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            reportDeleteFailure(error);
        else
            printf("Error Code %d while trying to remove " VELMORANE_SERVICE_NAME " \n", (int)error);
        goto done;
    }
    service = OpenServiceW(manager, SERVICE_NAME, DELETE | SERVICE_QUERY_STATUS);
    if (service == NULL && GetLastError() == ERROR_ACCESS_DENIED)
        reportDeleteFailure(ERROR_ACCESS_DENIED);
    if (service == NULL || !QueryServiceStatus(service, &status))
        goto done;

    // The command never stops the service itself: pending and paused
    // states count as running.
    if (status.dwCurrentState != SERVICE_STOPPED)
        printf(VELMORANE_SERVICE_NAME " is still running.\n");
    else if (!DeleteService(service))
        reportDeleteFailure(GetLastError());
    else {
        // The event source goes with the service; the line is the same
        // whether or not its key could be removed.
        removeEventSource();
        printf(VELMORANE_SERVICE_NAME " removed successfully\n");
    }
done:
    closeCommandHandles(service, manager);
}
