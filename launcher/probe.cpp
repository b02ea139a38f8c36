// Neither library is looked for on the Windows search path: each candidate is
// a full path inside the installation tree, covering the layouts of several
// Java runtimes, and every attempt is logged.
#include "launcher/probe.h"

#include "launcher/records.h"
#include "log/log.h"

enum CandidateBase { PREPARED, FROM_KTR_PATH, FROM_BASE_PATH };

struct LibraryCandidate {
    CandidateBase base;
    const wchar_t *suffix;
    const char *tryingLine;
    const char *successLine; // NULL: no line of its own
    const char *failureLine;
};

static const LibraryCandidate runtimeCandidates[RUNTIME_CANDIDATE_COUNT] = {
    {PREPARED, RUNTIME_LIBRARY_SUFFIX, RECORD_TRYING_MSVCR120, RECORD_LOADED_MSVCR120, RECORD_FAILED_MSVCR120},
    {FROM_KTR_PATH, L"" JRE_FOLDER DEFAULT_VM_FOLDER "msvcr100.dll", RECORD_TRYING_MSVCR100, NULL, RECORD_FAILED_MSVCR100},
    {FROM_BASE_PATH, L"" JRE_FOLDER DEFAULT_VM_FOLDER "msvcr100.dll", RECORD_TRYING_MSVCR100, RECORD_LOADED_MSVCR100,
     RECORD_FAILED_MSCVR100},
    {FROM_KTR_PATH, L"" JRE_FOLDER BIN_FOLDER "msvcr100.dll", RECORD_TRYING_MSVCR100_ORACLE, RECORD_LOADED_MSVCR100,
     RECORD_FAILED_MSCVR100},
    {FROM_KTR_PATH, L"" JRE_FOLDER BIN_FOLDER "vcruntime140.dll", RECORD_TRYING_VCRUNTIME140, RECORD_LOADED_VCRUNTIME140,
     RECORD_FAILED_VCRUNTIME140},
    {FROM_KTR_PATH, L"" JDK_FOLDER BIN_FOLDER "vcruntime140.dll", RECORD_TRYING_VCRUNTIME140, RECORD_LOADED_VCRUNTIME140,
     RECORD_FAILED_VCRUNTIME},
};

static const LibraryCandidate jvmCandidates[JVM_CANDIDATE_COUNT] = {
    {PREPARED, JVM_LIBRARY_SUFFIX, RECORD_TRYING_JVM_FIRST, NULL, RECORD_FAILED_JVM},
    {FROM_BASE_PATH, JVM_LIBRARY_SUFFIX, RECORD_TRYING_JVM, NULL, RECORD_FAILED_JVM},
    {FROM_KTR_PATH, L"" JRE_FOLDER SERVER_VM_FOLDER JVM_FILE, RECORD_TRYING_JVM_ORACLE, NULL, RECORD_FAILED_JVM},
    {FROM_KTR_PATH, L"" JRE_FOLDER J9_VM_FOLDER JVM_FILE, RECORD_TRYING_JVM_OPENJ9, NULL, RECORD_FAILED_JVM},
    {FROM_KTR_PATH, L"" JDK_FOLDER J9_VM_FOLDER JVM_FILE, RECORD_TRYING_JVM_OPENJ9_17, NULL, RECORD_FAILED_JVM},
};

// Puts the candidate's path into path (PATH_CAPACITY). The first candidate
// of each list is the path the path stage prepared in `prepared`. Returns
// false when the path does not fit (only for executable paths near the
// system's limit).
static bool formCandidate(const LaunchPaths *paths, const LibraryCandidate *candidate, const wchar_t *prepared,
                          wchar_t *path)
{
    if (candidate->base == PREPARED) {
        if (prepared == NULL)
            return false;
        if (path != prepared)
            boundedCopy(path, prepared);
        return true;
    }
    return joinPath(path, candidate->base == FROM_KTR_PATH ? paths->ktrPath : paths->basePath, candidate->suffix);
}

// The libraries a candidate imports are looked for in its own folder and the
// system's folders only: never in the process's folder, the current folder
// or PATH, where someone else might put one for the service to run. The
// loader takes such a search only for a full path.
static HMODULE loadCandidate(const wchar_t *path)
{
    return LoadLibraryExW(path, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Looked up rather than imported: Windows Vista and 7 without their 2011
// loader update lack it, and the executable must still start there.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);

void limitLibrarySearch(void)
{
    SetDefaultDllDirectoriesFunction limit = (SetDefaultDllDirectoriesFunction)(void *)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (limit != NULL)
        limit(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// One attempt: the trying line, the load, the success or failure line.
static HMODULE tryCandidate(const LaunchPaths *paths, const LibraryCandidate *candidate, wchar_t *path, char *pathAnsi,
                            LibraryAttempt *attempt)
{
    bool whole = formCandidate(paths, candidate, path, path);
    ansiCopy(path, pathAnsi);
    if (attempt->path != NULL)
        boundedCopy(attempt->path, path);
    logWrite(candidate->tryingLine, pathAnsi);
    // A cut path might name some other library, and the loader would look for
    // a relative one (only VLJVMDLL gives one) along the search path: either
    // counts as a failed attempt, never handed to the loader.
    bool full = whole && isFullPath(path);
    HMODULE module = full ? loadCandidate(path) : NULL;
    if (module == NULL) {
        attempt->error = full ? GetLastError() : ERROR_SUCCESS;
        logWrite(candidate->failureLine, pathAnsi);
        attempt->outcome = !whole  ? LIBRARY_PATH_CUT
                           : !full ? LIBRARY_RELATIVE_PATH
                           : GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? LIBRARY_ABSENT
                                                                                 : LIBRARY_FAILED;
    } else {
        attempt->outcome = LIBRARY_LOADED;
        if (candidate->successLine != NULL)
            logWrite(candidate->successLine, pathAnsi);
    }
    return module;
}

// The candidates after the one that loaded: their paths, for a caller that
// keeps them, without trying them.
static void noteUntried(const LaunchPaths *paths, const LibraryCandidate *candidates, LibraryAttempt *attempts,
                        size_t from, size_t count)
{
    for (size_t index = from; index < count; index++) {
        attempts[index].outcome = LIBRARY_NOT_TRIED;
        attempts[index].error = ERROR_SUCCESS;
        if (attempts[index].path != NULL && !formCandidate(paths, &candidates[index], NULL, attempts[index].path))
            attempts[index].outcome = LIBRARY_PATH_CUT;
    }
}

// Tries the list's candidates in order until one loads; returns its index or -1.
static int probeList(const LaunchPaths *paths, const LibraryCandidate *candidates, LibraryAttempt *attempts,
                     size_t count, wchar_t *path, char *pathAnsi, HMODULE *module)
{
    for (size_t index = 0; index < count; index++) {
        *module = tryCandidate(paths, &candidates[index], path, pathAnsi, &attempts[index]);
        if (*module != NULL) {
            noteUntried(paths, candidates, attempts, index + 1, count);
            return (int)index;
        }
    }
    return -1;
}

void probeRuntimeLibrary(LaunchPaths *paths, ProbeResult *result)
{
    // The virtual machine library may still find its runtime elsewhere, so
    // running out of candidates here is not an error of its own.
    HMODULE module = NULL;
    result->runtimeLoaded = probeList(paths, runtimeCandidates, result->runtime, RUNTIME_CANDIDATE_COUNT,
                                      paths->runtimeLibraryPath, paths->runtimeLibraryPathAnsi, &module);
}

HMODULE probeJvmLibrary(LaunchPaths *paths, ProbeResult *result)
{
    HMODULE module = NULL;
    result->jvmLoaded = probeList(paths, jvmCandidates, result->jvm, JVM_CANDIDATE_COUNT, paths->jvmLibraryPath,
                                  paths->jvmLibraryPathAnsi, &module);
    if (module != NULL)
        logWrite(RECORD_LOADED_JVM, paths->jvmLibraryPathAnsi);
    return module;
}
