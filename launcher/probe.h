// The launcher's third stage: loading a Microsoft runtime library and the
// virtual machine library from fixed places in the installation tree.
#ifndef VELMORANE_PROBE_H
#define VELMORANE_PROBE_H

#include <windows.h>

// Tries the runtime library candidates in order; the outcome is only logged.
void probeRuntimeLibrary(void);
// Tries the virtual machine library candidates in order. Returns the module
// of the first that loads, or NULL after the last has failed.
HMODULE probeJvmLibrary(void);

// The candidate lists for the operator's console, which reports on each.
enum LibraryList { RUNTIME_LIBRARIES, JVM_LIBRARIES };
size_t libraryCandidateCount(LibraryList list);
// Puts candidate `index` of `list` into its path buffer (runtimeLibraryPath
// or jvmLibraryPath, with the ANSI copy) as the probe does. The first of each
// list is the path the path stage prepared, so the candidates are formed in
// order from the first, right after that stage. False when the path was cut.
bool formLibraryCandidate(LibraryList list, size_t index);

#endif
