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

void installService(void)
{
    // On the stack: only this command needs them, and the running service's
    // memory stays free of them.
    wchar_t modulePath[MODULE_PATH_CAPACITY];
    wchar_t quotedPath[QUOTED_PATH_CAPACITY];

    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL)
        return;
    const char *name = VELMORANE_SERVICE_NAME;

    if (GetModuleFileNameW(NULL, modulePath, MODULE_PATH_CAPACITY) == 0) {
        CloseServiceHandle(manager);
        return;
    }
    quoteModulePath(modulePath, quotedPath);

    SC_HANDLE service = CreateServiceW(manager, SERVICE_NAME, SERVICE_NAME, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                                       quotedPath, NULL, NULL, NULL, NULL, NULL);
    if (service != NULL) {
        CloseServiceHandle(service);
        // The line is the same whether or not the source could be registered:
        // without it the service runs as before, its events unreadable.
        registerEventSource(modulePath);
        printf("%s installed successfully\n", name);
    } else {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            printf("%s already exists.\n", name);
        else
            printf("%s was not installed successfully. Error Code %d\n", name, (int)error);
    }
    CloseServiceHandle(manager);
}

static void reportDeleteFailure(DWORD error, const char *name)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        printf("Access denied while trying to remove %s \n", name);
        break;
    case ERROR_INVALID_HANDLE:
        printf("Handle invalid while trying to remove %s \n", name);
        break;
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        printf("%s already marked for deletion\n", name);
        break;
    default:
        break;
    }
}

void uninstallService(void)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return;
    const char *name = VELMORANE_SERVICE_NAME;

    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, DELETE | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        CloseServiceHandle(manager);
        return;
    }

    SERVICE_STATUS status;
    if (QueryServiceStatus(service, &status)) {
        // The command never stops the service itself: pending and paused
        // states count as running.
        if (status.dwCurrentState != SERVICE_STOPPED)
            printf("%s is still running.\n", name);
        else if (!DeleteService(service))
            reportDeleteFailure(GetLastError(), name);
        else {
            // The event source goes with the service; the line is the same
            // whether or not its key could be removed.
            removeEventSource();
            printf("%s removed successfully\n", name);
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}
