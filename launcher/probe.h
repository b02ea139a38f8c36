// The launcher's third stage: loading a Microsoft runtime library and the
// virtual machine library from fixed places in the installation tree.
#ifndef VELMORANE_PROBE_H
#define VELMORANE_PROBE_H

#include <windows.h>

#include "launcher/paths.h"

#define RUNTIME_CANDIDATE_COUNT 6
#define JVM_CANDIDATE_COUNT 5

enum LibraryOutcome {
    LIBRARY_NOT_TRIED, // an earlier candidate loaded
    LIBRARY_PATH_CUT,  // the path did not fit its buffer: never tried
    LIBRARY_RELATIVE_PATH, // not a full path (VLJVMDLL): never tried
    LIBRARY_ABSENT,    // the load failed and there is no file at the path
    LIBRARY_FAILED,    // the file is there and did not load (error says why)
    LIBRARY_LOADED,
};

struct LibraryAttempt {
    LibraryOutcome outcome;
    DWORD error;   // the load's Windows error, for LIBRARY_ABSENT and LIBRARY_FAILED
    wchar_t *path; // the caller's room for the candidate's path (PATH_CAPACITY), or NULL
};

// What the probe found: every candidate of both lists in order, and which
// one loaded (-1: none).
struct ProbeResult {
    LibraryAttempt runtime[RUNTIME_CANDIDATE_COUNT];
    LibraryAttempt jvm[JVM_CANDIDATE_COUNT];
    int runtimeLoaded;
    int jvmLoaded;
};

// Makes the system folders the only places a library loaded later by name
// comes from (the virtual machine's own loads among them): the executable's
// folder and the system's, never PATH or the current folder. Called first on
// the launcher thread, before anything is loaded.
void limitLibrarySearch(void);

// Tries the runtime library candidates in order, each formed in
// paths->runtimeLibraryPath from the installation's paths; the outcome is
// only logged.
void probeRuntimeLibrary(LaunchPaths *paths, ProbeResult *result);
// Tries the virtual machine library candidates in order, each formed in
// paths->jvmLibraryPath. Returns the module of the first that loads, or NULL
// after the last has failed.
HMODULE probeJvmLibrary(LaunchPaths *paths, ProbeResult *result);

#endif
