// Runtime and JVM: every library candidate in the probe's order with what
// the probe found, in words. A jvm.dll elsewhere in the installation root (a
// runtime one level off, a Java 9 or later runtime) is named with where it
// should be.
#include "console/check/check.h"

#include <stdlib.h>
#include <string.h>

#include "console/report.h"
#include "launcher/runtime_layout.h"

// Places of jvm.dll inside a runtime's folder, longest first, and where that
// folder must be, below the installation root, for a candidate to find it.
struct RuntimeShape {
    const wchar_t *tail;
    const wchar_t *home;
};

static const RuntimeShape runtimeShapes[] = {
    {L"\\" JRE_SUBFOLDER SERVER_VM_FOLDER JVM_FILE, L"" JDK_FOLDER},
    {L"\\" JRE_SUBFOLDER DEFAULT_VM_FOLDER JVM_FILE, L"" JDK_FOLDER},
    {L"\\" JRE_SUBFOLDER J9_VM_FOLDER JVM_FILE, L"" JDK_FOLDER},
    {L"\\" J9_VM_FOLDER JVM_FILE, L"" JDK_FOLDER},
    // A Java 9 or later runtime (or a Java 8 JRE): its folder takes the place of jdk\jre\.
    {L"\\" SERVER_VM_FOLDER JVM_FILE, L"" JRE_FOLDER},
    {L"\\" DEFAULT_VM_FOLDER JVM_FILE, L"" JRE_FOLDER},
};

#define SEARCH_DEPTH 6
#define SEARCH_BUDGET 20000

// The search's state, on the heap.
struct JvmSearch {
    const Snapshot *snapshot;
    bool anyLoaded;
    int budget;
    wchar_t path[PATH_CAPACITY];
    wchar_t foundHome[PATH_CAPACITY];
    wchar_t wantedHome[PATH_CAPACITY];
};

static const char *loadOutcome(DWORD error)
{
    switch (error) {
    case ERROR_BAD_EXE_FORMAT: return "not a 64-bit library (a 32-bit Java runtime)";
    case ERROR_MOD_NOT_FOUND: return "a library it needs is missing";
    default: return "does not load";
    }
}

static bool isCandidate(const Snapshot *snapshot, const wchar_t *path)
{
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        if (lstrcmpiW(snapshot->runtimePaths[index], path) == 0)
            return true;
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        if (lstrcmpiW(snapshot->jvmPaths[index], path) == 0)
            return true;
    return false;
}

static void reportAttempt(const LibraryAttempt *attempt, int number, const char *kind)
{
    const char *path = reportPath(attempt->path);
    switch (attempt->outcome) {
    case LIBRARY_PATH_CUT:
        reportFinding(FINDING_WARNING, "%s %d %s: too long a path, never tried", kind, number, path);
        return;
    case LIBRARY_LOADED:
        reportFinding(FINDING_OK, "%s %d %s: loaded", kind, number, path);
        return;
    case LIBRARY_NOT_TRIED:
        if (GetFileAttributesW(attempt->path) == INVALID_FILE_ATTRIBUTES)
            reportFinding(FINDING_OK, "%s %d %s: not there", kind, number, path);
        else
            reportFinding(FINDING_OK, "%s %d %s: there, not tried (the service uses the first that loads)", kind,
                          number, path);
        return;
    default:
        break;
    }
    // Only VLJVMDLL can make one, and the service loads from full paths only.
    if (!isFullPath(attempt->path)) {
        reportFinding(FINDING_PROBLEM, "%s %d %s: a relative path, which the service never loads", kind, number, path);
        reportRemedy("set " JVM_LIBRARY_VARIABLE_NAME " to the full path of jvm.dll");
    } else if (attempt->outcome == LIBRARY_ABSENT) {
        reportFinding(FINDING_OK, "%s %d %s: not there", kind, number, path);
    } else {
        reportFinding(FINDING_WARNING, "%s %d %s: %s (error %lu)", kind, number, path, loadOutcome(attempt->error),
                      attempt->error);
        if (attempt->error == ERROR_BAD_EXE_FORMAT)
            reportRemedy("replace it with a 64-bit Java runtime");
        else if (attempt->error == ERROR_MOD_NOT_FOUND)
            reportRemedy("check that the runtime is complete and that its C runtime library loads (see the runtime lines)");
    }
}

// A jvm.dll that no candidate names: where its runtime's folder is and where it should be.
static void reportStrayJvm(JvmSearch *search)
{
    const wchar_t *path = search->path;
    bool anyLoaded = search->anyLoaded;
    wchar_t *foundHome = search->foundHome, *wantedHome = search->wantedHome;
    size_t length = wcslen(path);
    for (const RuntimeShape &shape : runtimeShapes) {
        size_t tailLength = wcslen(shape.tail);
        if (length <= tailLength || _wcsicmp(path + length - tailLength, shape.tail) != 0)
            continue;
        boundedPrefixCopy(foundHome, path, length - tailLength + 1);
        joinPath(wantedHome, search->snapshot->stages->results.paths.ktrPath, shape.home);
        reportFinding(anyLoaded ? FINDING_WARNING : FINDING_PROBLEM, "a jvm.dll the service does not look for: %s",
                      reportPath(path));
        // In its place already: VLJVMDLL took the first place's path.
        if (lstrcmpiW(foundHome, wantedHome) == 0)
            reportRemedy("remove " JVM_LIBRARY_VARIABLE_NAME ", or set " JVM_LIBRARY_VARIABLE_NAME "=%s", reportPath(path));
        else
            reportRemedy("move the runtime's folder %s to %s, or set " JVM_LIBRARY_VARIABLE_NAME "=%s", reportPath(foundHome),
                         reportPath(wantedHome), reportPath(path));
        return;
    }
    reportFinding(anyLoaded ? FINDING_WARNING : FINDING_PROBLEM, "a jvm.dll the service does not look for: %s",
                  reportPath(path));
    reportRemedy("set " JVM_LIBRARY_VARIABLE_NAME "=%s", reportPath(path));
}

// Depth-first through search->path (a folder with its closing backslash).
static void searchJvm(JvmSearch *search, int depth)
{
    wchar_t *searchPath = search->path;
    size_t length = wcslen(searchPath);
    boundedAppend(searchPath, L"*");
    WIN32_FIND_DATAW entry;
    HANDLE found = FindFirstFileW(searchPath, &entry);
    searchPath[length] = L'\0';
    if (found == INVALID_HANDLE_VALUE)
        return;
    do {
        if (--search->budget < 0 || wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        boundedAppend(searchPath, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth > 0 && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                boundedAppend(searchPath, L"\\");
                searchJvm(search, depth - 1);
            }
        } else if (lstrcmpiW(entry.cFileName, L"jvm.dll") == 0 && !isCandidate(search->snapshot, searchPath)) {
            reportStrayJvm(search);
        }
        searchPath[length] = L'\0';
    } while (search->budget >= 0 && FindNextFileW(found, &entry));
    FindClose(found);
}

void checkRuntime(const Snapshot *snapshot)
{
    reportSection("Runtime and JVM");
    const ProbeResult *probe = &snapshot->stages->results.probe;
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        reportAttempt(&probe->runtime[index], index + 1, "runtime");
    if (probe->runtimeLoaded < 0)
        reportFinding(FINDING_OK, "no C runtime library loads from the list (jvm.dll may still find its own)");
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        reportAttempt(&probe->jvm[index], index + 1, "jvm.dll");
    if (probe->jvmLoaded < 0) {
        if (snapshot->inputs.stopOnFailure)
            reportFinding(FINDING_PROBLEM, "no jvm.dll loads: the service would stop after the last candidate, with exit code %d (" STOP_ON_FAILURE_VARIABLE_NAME ")",
                          FAILURE_NO_JVM_LIBRARY);
        else
            reportFinding(FINDING_PROBLEM, "no jvm.dll loads: the service would stay running after the last candidate, with no application");
        reportRemedy("put a 64-bit Java runtime at one of the places above or set " JVM_LIBRARY_VARIABLE_NAME " to its jvm.dll");
    }
    if (!snapshot->layoutSound)
        return;
    JvmSearch *search = (JvmSearch *)malloc(sizeof *search);
    if (search == NULL)
        return;
    search->snapshot = snapshot;
    search->anyLoaded = probe->jvmLoaded >= 0;
    search->budget = SEARCH_BUDGET;
    boundedCopy(search->path, snapshot->stages->results.paths.ktrPath);
    searchJvm(search, SEARCH_DEPTH);
    free(search);
}
