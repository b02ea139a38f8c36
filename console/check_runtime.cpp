// Runtime and JVM: every library candidate in the probe's order, loaded as
// the probe loads it until one loads, and the outcome in words. A jvm.dll
// elsewhere in the installation root (a runtime one level off, a Java 9 or
// later runtime) is named with where it should be.
#include "console/check.h"

#include <string.h>

#include "console/report.h"
#include "launcher/paths.h"
#include "launcher/probe.h"

int candidatePathCount = 0;
wchar_t candidatePaths[CANDIDATE_LIMIT][PATH_CAPACITY];

// Places of jvm.dll inside a runtime's folder, longest first, and where that
// folder must be, below the installation root, for a candidate to find it.
struct RuntimeShape {
    const wchar_t *tail;
    const wchar_t *home;
};

static const RuntimeShape runtimeShapes[] = {
    {L"\\jre\\bin\\server\\jvm.dll", L"jdk\\"},
    {L"\\jre\\bin\\default\\jvm.dll", L"jdk\\"},
    {L"\\jre\\bin\\j9vm\\jvm.dll", L"jdk\\"},
    {L"\\bin\\j9vm\\jvm.dll", L"jdk\\"},
    // A Java 9 or later runtime (or a Java 8 JRE): its folder takes the place of jdk\jre\.
    {L"\\bin\\server\\jvm.dll", L"jdk\\jre\\"},
    {L"\\bin\\default\\jvm.dll", L"jdk\\jre\\"},
};

#define SEARCH_DEPTH 6
#define SEARCH_BUDGET 20000

static wchar_t searchPath[PATH_CAPACITY];
static wchar_t foundHome[PATH_CAPACITY];
static wchar_t wantedHome[PATH_CAPACITY];
static int searchBudget;

static const char *loadOutcome(DWORD error)
{
    switch (error) {
    case ERROR_BAD_EXE_FORMAT: return "not a 64-bit library (a 32-bit Java runtime)";
    case ERROR_MOD_NOT_FOUND: return "a library it needs is missing";
    default: return "does not load";
    }
}

static bool isCandidate(const wchar_t *path)
{
    for (int index = 0; index < candidatePathCount; index++)
        if (lstrcmpiW(candidatePaths[index], path) == 0)
            return true;
    return false;
}

// Tries one candidate; reports it and returns its module when it loads.
static HMODULE tryCandidate(LibraryList list, size_t index, const wchar_t *path, bool tried, bool jvm)
{
    const char *kind = jvm ? "jvm.dll" : "runtime";
    bool whole = formLibraryCandidate(list, index);
    if (candidatePathCount < CANDIDATE_LIMIT)
        boundedCopy(candidatePaths[candidatePathCount++], path);
    if (!whole) {
        reportFinding(FINDING_WARNING, "%s %d %s: too long a path, never tried", kind, (int)index + 1, reportPath(path));
        return NULL;
    }
    // Only VLJVMDLL can make one: the loader looks for it along the DLL
    // search path of the service's process, not from here.
    if (!isAbsolutePath(path)) {
        reportFinding(FINDING_WARNING, "%s %d %s: a relative path, not tried here (the service's DLL search path finds it or not)",
                      kind, (int)index + 1, reportPath(path));
        return NULL;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        reportFinding(FINDING_OK, "%s %d %s: not there", kind, (int)index + 1, reportPath(path));
        return NULL;
    }
    if (tried) {
        reportFinding(FINDING_OK, "%s %d %s: there, not tried (the service uses the first that loads)", kind,
                      (int)index + 1, reportPath(path));
        return NULL;
    }
    HMODULE module = LoadLibraryW(path);
    if (module != NULL) {
        reportFinding(FINDING_OK, "%s %d %s: loaded", kind, (int)index + 1, reportPath(path));
        return module;
    }
    DWORD error = GetLastError();
    reportFinding(FINDING_WARNING, "%s %d %s: %s (error %lu)", kind, (int)index + 1, reportPath(path), loadOutcome(error),
                  error);
    if (error == ERROR_BAD_EXE_FORMAT)
        reportRemedy("replace it with a 64-bit Java runtime");
    else if (error == ERROR_MOD_NOT_FOUND)
        reportRemedy("check that the runtime is complete and that its C runtime library loads (see the runtime lines)");
    return NULL;
}

static HMODULE probeList(LibraryList list, bool jvm)
{
    HMODULE loaded = NULL;
    wchar_t *path = jvm ? jvmLibraryPath : runtimeLibraryPath;
    for (size_t index = 0; index < libraryCandidateCount(list); index++) {
        HMODULE module = tryCandidate(list, index, path, loaded != NULL, jvm);
        if (loaded == NULL)
            loaded = module;
    }
    return loaded;
}

// A jvm.dll that no candidate names: where its runtime's folder is and where it should be.
static void reportStrayJvm(const wchar_t *path, bool anyLoaded)
{
    size_t length = wcslen(path);
    for (const RuntimeShape &shape : runtimeShapes) {
        size_t tailLength = wcslen(shape.tail);
        if (length <= tailLength || _wcsicmp(path + length - tailLength, shape.tail) != 0)
            continue;
        boundedPrefixCopy(foundHome, path, length - tailLength + 1);
        joinPath(wantedHome, ktrPath, shape.home);
        reportFinding(anyLoaded ? FINDING_WARNING : FINDING_PROBLEM, "a jvm.dll the service does not look for: %s",
                      reportPath(path));
        // In its place already: VLJVMDLL took the first place's path.
        if (lstrcmpiW(foundHome, wantedHome) == 0)
            reportRemedy("remove VLJVMDLL, or set VLJVMDLL=%s", reportPath(path));
        else
            reportRemedy("move the runtime's folder %s to %s, or set VLJVMDLL=%s", reportPath(foundHome),
                         reportPath(wantedHome), reportPath(path));
        return;
    }
    reportFinding(anyLoaded ? FINDING_WARNING : FINDING_PROBLEM, "a jvm.dll the service does not look for: %s",
                  reportPath(path));
    reportRemedy("set VLJVMDLL=%s", reportPath(path));
}

// Depth-first through searchPath (a folder with its closing backslash).
static void searchJvm(int depth, bool anyLoaded)
{
    size_t length = wcslen(searchPath);
    boundedAppend(searchPath, L"*");
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(searchPath, &entry);
    searchPath[length] = L'\0';
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (--searchBudget < 0 || wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        boundedAppend(searchPath, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth > 0 && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                boundedAppend(searchPath, L"\\");
                searchJvm(depth - 1, anyLoaded);
            }
        } else if (lstrcmpiW(entry.cFileName, L"jvm.dll") == 0 && !isCandidate(searchPath)) {
            reportStrayJvm(searchPath, anyLoaded);
        }
        searchPath[length] = L'\0';
    } while (searchBudget >= 0 && FindNextFileW(search, &entry));
    FindClose(search);
}

HMODULE checkRuntime(void)
{
    reportSection("Runtime and JVM");
    candidatePathCount = 0;
    HMODULE runtime = probeList(RUNTIME_LIBRARIES, false);
    if (runtime == NULL)
        reportFinding(FINDING_OK, "no C runtime library loads from the list (jvm.dll may still find its own)");
    HMODULE jvm = probeList(JVM_LIBRARIES, true);
    if (jvm == NULL) {
        reportFinding(FINDING_PROBLEM, "no jvm.dll loads: the service would stop after the last candidate");
        reportRemedy("put a 64-bit Java runtime at one of the places above or set VLJVMDLL to its jvm.dll");
    }
    if (layoutSound) {
        boundedCopy(searchPath, ktrPath);
        searchBudget = SEARCH_BUDGET;
        searchJvm(SEARCH_DEPTH, jvm != NULL);
    }
    return jvm;
}
