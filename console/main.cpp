// Process entry: one command word, anything else is a usage error.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "console/console.h"
#include "log/log.h"

wchar_t *consoleFolder = NULL;
wchar_t *serviceExecutable = NULL;
char *serviceExecutableAnsi = NULL;

static int usage(void)
{
    printf("Usage: VelmoraneConsole check [--no-jvm]   check the installation before a start\n"
           "       VelmoraneConsole status [--json]    the service's state and how its last start went\n"
           "       VelmoraneConsole run                run the application here, records on the console\n"
           "Exit codes: 0 all well, 1 warnings only, 2 problems, 3 usage.\n");
    return EXIT_USAGE;
}

// The service stands beside this program; a folder path too long for both
// names leaves the path cut, and the layout check names it as missing.
static bool locateInstallation(void)
{
    consoleFolder = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    serviceExecutable = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    serviceExecutableAnsi = (char *)malloc(ANSI_CAPACITY);
    if (consoleFolder == NULL || serviceExecutable == NULL || serviceExecutableAnsi == NULL)
        return false;
    consoleFolder[0] = L'\0';
    DWORD length = GetModuleFileNameW(NULL, consoleFolder, PATH_CAPACITY);
    if (length >= PATH_CAPACITY)
        length = PATH_CAPACITY - 1;
    consoleFolder[length] = L'\0';
    wchar_t *slash = wcsrchr(consoleFolder, L'\\');
    if (slash != NULL)
        slash[1] = L'\0';
    joinPath(serviceExecutable, consoleFolder, SERVICE_EXECUTABLE_NAME);
    ansiCopy(serviceExecutable, serviceExecutableAnsi);
    return true;
}

int wmain(int argc, wchar_t **argv)
{
    logLockCreate();
    if (!locateInstallation()) {
        printf("VelmoraneConsole: out of memory\n");
        return EXIT_PROBLEMS;
    }
    if (argc == 2 && lstrcmpiW(argv[1], L"check") == 0)
        return checkCommand(true);
    if (argc == 3 && lstrcmpiW(argv[1], L"check") == 0 && lstrcmpiW(argv[2], L"--no-jvm") == 0)
        return checkCommand(false);
    if (argc == 2 && lstrcmpiW(argv[1], L"status") == 0)
        return statusCommand(false);
    if (argc == 3 && lstrcmpiW(argv[1], L"status") == 0 && lstrcmpiW(argv[2], L"--json") == 0)
        return statusCommand(true);
    if (argc == 2 && lstrcmpiW(argv[1], L"run") == 0)
        return runCommand();
    return usage();
}
