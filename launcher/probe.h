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

#endif
