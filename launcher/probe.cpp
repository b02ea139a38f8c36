// Neither library is looked for on the Windows search path: each candidate is
// a full path inside the installation tree, covering the layouts of several
// Java runtimes, and every attempt is logged.
#include "launcher/probe.h"

#include "launcher/paths.h"
#include "log/log.h"

enum CandidateBase { PREPARED, FROM_KTR_PATH, FROM_BASE_PATH };

struct LibraryCandidate {
    CandidateBase base;
    const wchar_t *suffix;
    const char *tryingLine;
    const char *successLine; // NULL: no line of its own
    const char *failureLine;
};

static const LibraryCandidate runtimeCandidates[] = {
    {PREPARED, RUNTIME_LIBRARY_SUFFIX, "Trying to load msvcr120.dll at %s\n",
     "Success loading msvcr120.dll at %s\n", "Failed to load msvcr120.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\jre\\bin\\default\\msvcr100.dll", "Trying to load msvcr100.dll at %s\n", NULL,
     "Failed to load msvcr100.dll at %s\n"},
    {FROM_BASE_PATH, L"jdk\\jre\\bin\\default\\msvcr100.dll", "Trying to load msvcr100.dll at %s\n",
     "Success loading msvcr100.dll at %s\n", "Failed to load mscvr100.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\jre\\bin\\msvcr100.dll", "Trying to load msvcr100.dll at Oracle location %s\n",
     "Success loading msvcr100.dll at %s\n", "Failed to load mscvr100.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\jre\\bin\\vcruntime140.dll", "Trying to load vcruntime140.dll at %s\n",
     "Success loading vcruntime140.dll at %s\n", "Failed to load vcruntime140.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\bin\\vcruntime140.dll", "Trying to load vcruntime140.dll at %s\n",
     "Success loading vcruntime140.dll at %s\n", "Failed to load vcruntime.dll at %s\n"},
};

static const LibraryCandidate jvmCandidates[] = {
    {PREPARED, JVM_LIBRARY_SUFFIX, "Trying to load jvm dll at %s\n", NULL, "Failed to load jvm.dll at %s\n"},
    {FROM_BASE_PATH, JVM_LIBRARY_SUFFIX, "Trying to load jvm.dll at %s\n", NULL,
     "Failed to load jvm.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\jre\\bin\\server\\jvm.dll", "Trying to load jvm.dll at Oracle location %s\n", NULL,
     "Failed to load jvm.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\jre\\bin\\j9vm\\jvm.dll", "Trying to load jvm.dll at OpenJ9 location %s\n", NULL,
     "Failed to load jvm.dll at %s\n"},
    {FROM_KTR_PATH, L"jdk\\bin\\j9vm\\jvm.dll", "Trying to load jvm.dll at OpenJ9 VM 17 location %s\n", NULL,
     "Failed to load jvm.dll at %s\n"},
};

// Puts the candidate's path into path/pathAnsi. The first candidate of each
// list was prepared by the path stage. Returns false when the path does not
// fit the buffer (only for executable paths near the system's limit).
static bool formCandidate(const LibraryCandidate *candidate, wchar_t *path, char *pathAnsi)
{
    bool whole = true;
    if (candidate->base != PREPARED)
        whole = joinPath(path, candidate->base == FROM_KTR_PATH ? ktrPath : basePath, candidate->suffix);
    ansiCopy(path, pathAnsi);
    return whole;
}

// One attempt: the trying line, the load, the success or failure line.
static HMODULE tryCandidate(const LibraryCandidate *candidate, wchar_t *path, char *pathAnsi)
{
    bool whole = formCandidate(candidate, path, pathAnsi);
    logWrite(candidate->tryingLine, pathAnsi);
    // A cut path might name some other library: it counts as a failed attempt.
    HMODULE module = whole ? LoadLibraryW(path) : NULL;
    if (module == NULL)
        logWrite(candidate->failureLine, pathAnsi);
    else if (candidate->successLine != NULL)
        logWrite(candidate->successLine, pathAnsi);
    return module;
}

void probeRuntimeLibrary(void)
{
    // The virtual machine library may still find its runtime elsewhere, so
    // running out of candidates here is not an error of its own.
    for (const LibraryCandidate &candidate : runtimeCandidates)
        if (tryCandidate(&candidate, runtimeLibraryPath, runtimeLibraryPathAnsi) != NULL)
            return;
}

HMODULE probeJvmLibrary(void)
{
    for (const LibraryCandidate &candidate : jvmCandidates) {
        HMODULE module = tryCandidate(&candidate, jvmLibraryPath, jvmLibraryPathAnsi);
        if (module != NULL) {
            logWrite("Success loading jvm.dll at %s\n", jvmLibraryPathAnsi);
            return module;
        }
    }
    return NULL;
}

size_t libraryCandidateCount(LibraryList list)
{
    return list == RUNTIME_LIBRARIES ? sizeof runtimeCandidates / sizeof runtimeCandidates[0]
                                     : sizeof jvmCandidates / sizeof jvmCandidates[0];
}

bool formLibraryCandidate(LibraryList list, size_t index)
{
    if (list == RUNTIME_LIBRARIES)
        return formCandidate(&runtimeCandidates[index], runtimeLibraryPath, runtimeLibraryPathAnsi);
    return formCandidate(&jvmCandidates[index], jvmLibraryPath, jvmLibraryPathAnsi);
}
