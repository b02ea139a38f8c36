// The snapshot: the service's own stages, run once on the installation beside
// this program with the service's environment, and what they found.
#include "console/check.h"

#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "log/log.h"

// The stages' records are not the check's output, and the service's log is
// left as it was found.
static void dropRecord(const char *, const char *)
{
}

static DWORD WINAPI launchThread(LPVOID parameter)
{
    Snapshot *snapshot = (Snapshot *)parameter;
    return launch(&snapshot->inputs, &snapshot->launch);
}

// The service executable beside this program, or another program here in
// its stead (the likely renamed service executable).
static void findExecutables(Snapshot *snapshot)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(serviceExecutable, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        snapshot->serviceExecutablePresent = true;
        lstrcpynW(snapshot->serviceExecutableName, entry.cFileName, MAX_PATH);
        return;
    }
    wchar_t *pattern = snapshot->parentFolder; // free until splitConsoleFolder
    joinPath(pattern, consoleFolder, L"*.exe");
    search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            lstrcmpiW(entry.cFileName, CONSOLE_EXECUTABLE_NAME) != 0) {
            lstrcpynW(snapshot->otherExecutable, entry.cFileName, MAX_PATH);
            break;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// This folder's parent and this folder's own name, from consoleFolder.
static void splitConsoleFolder(Snapshot *snapshot)
{
    wchar_t *parent = snapshot->parentFolder;
    boundedCopy(parent, consoleFolder);
    size_t length = wcslen(parent);
    if (length > 0)
        parent[length - 1] = L'\0';
    wchar_t *slash = wcsrchr(parent, L'\\');
    lstrcpynW(snapshot->folderName, slash != NULL ? slash + 1 : parent, MAX_PATH);
    if (slash != NULL)
        slash[1] = L'\0';
    else
        parent[0] = L'\0';
}

static void runStages(Snapshot *snapshot)
{
    clearLaunchResults(&snapshot->launch);
    snapshot->launch.classPath.entries = snapshot->entries;
    snapshot->launch.classPath.entryCapacity = SNAPSHOT_ENTRY_LIMIT;
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        snapshot->launch.probe.runtime[index].path = snapshot->runtimePaths[index];
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        snapshot->launch.probe.jvm[index].path = snapshot->jvmPaths[index];

    serviceLaunchInputs(&snapshot->environment, serviceExecutable, &snapshot->inputs);
    // The check looks at the output file; it does not take the output.
    snapshot->inputs.javaOutput = NULL;
    snapshot->inputs.depth = snapshot->withJvm ? LAUNCH_TO_LOOKUPS : LAUNCH_TO_PROBE;
    applyJvmEnvironment(&snapshot->environment);

    logSink = dropRecord;
    // On a thread of its own, as the service runs it: a virtual machine may
    // refuse the process's main thread.
    HANDLE thread = CreateThread(NULL, 0, launchThread, snapshot, 0, NULL);
    if (thread == NULL) {
        // Everything short of the virtual machine can still be looked at here.
        snapshot->launchThreadError = GetLastError();
        snapshot->inputs.depth = LAUNCH_TO_PROBE;
        launch(&snapshot->inputs, &snapshot->launch);
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

Snapshot *takeSnapshot(bool withJvm)
{
    Snapshot *snapshot = (Snapshot *)calloc(1, sizeof *snapshot);
    if (snapshot == NULL)
        return NULL;
    snapshot->withJvm = withJvm;
    findExecutables(snapshot);
    splitConsoleFolder(snapshot);
    readServiceEnvironment(&snapshot->environment);
    runStages(snapshot);
    snapshot->layoutSound = snapshot->launch.paths.ktrPath != NULL &&
                            wcscmp(snapshot->launch.paths.ktrPath, snapshot->parentFolder) == 0;
    return snapshot;
}
