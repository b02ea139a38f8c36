// The snapshot: the service's own stages, run once on the installation beside
// this program with the service's environment, and what they found.
#include "console/snapshot.h"

#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "console/log_view.h"
#include "log/log.h"

// The stages' records are not the check's output, and the service's log is
// left as it was found.
static void dropRecord(const char *, const char *)
{
}

static DWORD WINAPI launchThread(LPVOID parameter)
{
    Snapshot *snapshot = (Snapshot *)parameter;
    return launch(snapshot->stages);
}

// The service executable beside this program, or another program here in
// its stead (the likely renamed service executable).
static void findExecutables(Snapshot *snapshot)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(snapshot->installation->serviceExecutable, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        snapshot->serviceExecutablePresent = true;
        lstrcpynW(snapshot->serviceExecutableName, entry.cFileName, MAX_PATH);
        return;
    }
    wchar_t *pattern = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    if (pattern == NULL)
        return;
    joinPath(pattern, snapshot->installation->folder, L"*.exe");
    search = FindFirstFileW(pattern, &entry);
    free(pattern);
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

// This folder's parent and this folder's own name.
static void splitConsoleFolder(Snapshot *snapshot)
{
    wchar_t *parent = snapshot->parentFolder;
    boundedCopy(parent, snapshot->installation->folder);
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

// The virtual machine's own lines (options it picked up, options it
// rejects) would come out in the middle of the report: the launch sends the
// process's output to a file of its own, as the service sends it to
// VLJAVAOUTPUT's, and they are kept for the application's findings. The
// check's own handles are put back after.
static bool prepareJvmOutput(Snapshot *snapshot)
{
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"vlc", 0, snapshot->jvmOutputPath) == 0)
        return false;
    snapshot->stages->inputs.javaOutput = snapshot->jvmOutputPath;
    return true;
}

static void keepJvmOutput(Snapshot *snapshot)
{
    HANDLE file = CreateFileW(snapshot->jvmOutputPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE) {
        if (!ReadFile(file, snapshot->jvmOutput, sizeof snapshot->jvmOutput - 1, &read, NULL))
            read = 0;
        CloseHandle(file);
    }
    snapshot->jvmOutput[read] = '\0';
    blankControls(snapshot->jvmOutput);
}

static void runStages(Snapshot *snapshot)
{
    LaunchContext *stages = snapshot->stages;
    LaunchResults *results = &stages->results;
    results->classPath.entries = snapshot->entries;
    results->classPath.entryCapacity = SNAPSHOT_ENTRY_LIMIT;
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        results->probe.runtime[index].path = snapshot->runtimePaths[index];
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        results->probe.jvm[index].path = snapshot->jvmPaths[index];

    serviceLaunchInputs(&snapshot->environment, snapshot->installation->serviceExecutable, &snapshot->inputs);
    stages->inputs = snapshot->inputs;
    // The check looks at the service's output file; it does not take the output.
    stages->inputs.javaOutput = NULL;
    stages->inputs.javaOutputSize = NULL;
    stages->inputs.depth = snapshot->withJvm ? LAUNCH_TO_LOOKUPS : LAUNCH_TO_PROBE;
    applyJvmEnvironment(&snapshot->environment);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    bool capturing = snapshot->withJvm && prepareJvmOutput(snapshot);

    logSink = dropRecord;
    // On a thread of its own, as the service runs it: a virtual machine may
    // refuse the process's main thread.
    HANDLE thread = CreateThread(NULL, 0, launchThread, snapshot, 0, NULL);
    if (thread == NULL) {
        // Everything short of the virtual machine can still be looked at here.
        snapshot->launchThreadError = GetLastError();
        stages->inputs.depth = LAUNCH_TO_PROBE;
        launch(stages);
    } else {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
    if (capturing)
        keepJvmOutput(snapshot);
}

Snapshot *takeSnapshot(const Installation *installation, bool withJvm)
{
    Snapshot *snapshot = (Snapshot *)calloc(1, sizeof *snapshot);
    LaunchContext *stages = newLaunchContext();
    if (snapshot == NULL || stages == NULL) {
        free(snapshot);
        if (stages != NULL)
            HeapFree(GetProcessHeap(), 0, stages);
        return NULL;
    }
    snapshot->stages = stages;
    snapshot->installation = installation;
    snapshot->withJvm = withJvm;
    findExecutables(snapshot);
    splitConsoleFolder(snapshot);
    readServiceEnvironment(&snapshot->environment);
    runStages(snapshot);
    snapshot->layoutSound = stages->results.paths.ktrPath != NULL &&
                            wcscmp(stages->results.paths.ktrPath, snapshot->parentFolder) == 0;
    return snapshot;
}
