// Process entry: one command word, anything else is a usage error.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "console/console.h"
#include "log/log.h"

static int usage(void)
{
    printf("Usage: " CONSOLE_NAME " check [--no-jvm]   check the installation before a start\n"
           "       " CONSOLE_NAME " status [--json]    the service's state and how its last start went\n"
           "       " CONSOLE_NAME " run                run the application here, records on the console\n"
           "Exit codes: 0 all well, 1 warnings only, 2 problems, 3 usage.\n");
    return EXIT_USAGE;
}

// The service stands beside this program; a folder path too long for both
// names leaves the path cut, and the layout check names it as missing.
static void locateInstallation(Installation *installation)
{
    wchar_t *folder = installation->folder;
    DWORD length = GetModuleFileNameW(NULL, folder, PATH_CAPACITY);
    if (length >= PATH_CAPACITY)
        length = PATH_CAPACITY - 1;
    folder[length] = L'\0';
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (slash != NULL)
        slash[1] = L'\0';
    joinPath(installation->serviceExecutable, folder, SERVICE_EXECUTABLE_NAME);
    ansiCopy(installation->serviceExecutable, installation->serviceExecutableAnsi);
}

// The command's word and option; NO_COMMAND for anything else.
enum Command { NO_COMMAND, CHECK, CHECK_WITHOUT_JVM, STATUS, STATUS_JSON, RUN };

static Command commandOf(int argc, wchar_t **argv)
{
    if (argc == 2 && lstrcmpiW(argv[1], L"check") == 0)
        return CHECK;
    if (argc == 3 && lstrcmpiW(argv[1], L"check") == 0 && lstrcmpiW(argv[2], L"--no-jvm") == 0)
        return CHECK_WITHOUT_JVM;
    if (argc == 2 && lstrcmpiW(argv[1], L"status") == 0)
        return STATUS;
    if (argc == 3 && lstrcmpiW(argv[1], L"status") == 0 && lstrcmpiW(argv[2], L"--json") == 0)
        return STATUS_JSON;
    if (argc == 2 && lstrcmpiW(argv[1], L"run") == 0)
        return RUN;
    return NO_COMMAND;
}

int wmain(int argc, wchar_t **argv)
{
    logLockCreate();
    Installation *installation = (Installation *)calloc(1, sizeof *installation);
    if (installation == NULL) {
        printf(CONSOLE_NAME ": out of memory\n");
        return EXIT_PROBLEMS;
    }
    locateInstallation(installation);
    Command command = commandOf(argc, argv);
    if (command == NO_COMMAND)
        return usage();
    openServiceManager(&installation->manager);
    int code;
    switch (command) {
    case CHECK: code = checkCommand(installation, true); break;
    case CHECK_WITHOUT_JVM: code = checkCommand(installation, false); break;
    case STATUS: code = statusCommand(installation, false); break;
    case STATUS_JSON: code = statusCommand(installation, true); break;
    default: code = runCommand(installation); break;
    }
    closeServiceManager(&installation->manager);
    return code;
}
