// The launcher thread: finds the installation, builds the class path, loads
// the virtual machine and runs the Java application's main.
#ifndef VELMORANE_LAUNCHER_H
#define VELMORANE_LAUNCHER_H

#include <windows.h>

// Thread routine; the parameter is not used. Ends with 1 after main has
// returned, 0 on any failure; nothing reads the result.
DWORD WINAPI launcherThread(LPVOID parameter);

#endif
