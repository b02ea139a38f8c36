// Process entry: "install" and "uninstall" run the commands; anything else
// hands the process to the Service Control Manager's dispatcher.
#include <windows.h>

#include "log/log.h"
#include "service/install.h"
#include "service/service.h"

static SERVICE_TABLE_ENTRYW serviceTable[] = {
    {(LPWSTR)SERVICE_NAME, serviceMain},
    {NULL, NULL},
};

int wmain(int argc, wchar_t **argv)
{
    // First of all, so the lock exists in every mode of the program.
    logLockCreate();

    if (argc > 1) {
        if (lstrcmpiW(argv[1], L"install") == 0) {
            installService();
            return 0;
        }
        if (lstrcmpiW(argv[1], L"uninstall") == 0) {
            uninstallService();
            return 0;
        }
    }

    // Returns once the service has reported itself stopped, or at once when
    // the process was not started by the Service Control Manager.
    StartServiceCtrlDispatcherW(serviceTable);

    // The launcher thread (or a shutdown thread that outlived its wait) may
    // be writing a record right now. Returning runs the C runtime's exit,
    // which ends those threads wherever they are and then flushes every open
    // stream: a record cut off inside its fclose would be written a second
    // time. Holding the log lock from here on lets a record in progress
    // finish first; later ones wait for the lock at most LOG_RECORD_WAIT_MS (or
    // until the process ends) and are dropped whole, never doubled or torn.
    // A record whose open does not return (an oplock another account holds
    // on the file) keeps the lock: the process then ends at once, without
    // the C runtime's exit, which could wait for that record's stream too.
    if (!logLockEnterWithin(LOG_RECORD_WAIT_MS))
        TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
