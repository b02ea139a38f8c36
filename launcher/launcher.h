// The launcher thread: finds the installation, builds the class path, loads
// the virtual machine and runs the Java application's main.
#ifndef VELMORANE_LAUNCHER_H
#define VELMORANE_LAUNCHER_H

#include <windows.h>

#include "launcher/classpath.h"
#include "launcher/inputs.h"
#include "launcher/jvm.h"
#include "launcher/paths.h"
#include "launcher/probe.h"

// What every stage of one launch found.
struct LaunchResults {
    PathsResult paths;
    ClassPathResult classPath;
    ProbeResult probe;
    JvmResult jvm;
};

// Empty results that keep no folder entries or candidate paths.
void clearLaunchResults(LaunchResults *results);

// Runs the stages once, in order, with no retries. Returns 1 after main has
// returned, 0 on any failure.
DWORD launch(const LaunchInputs *inputs, LaunchResults *results);

// Thread routine; the parameter is not used. Launches with the process's own
// inputs and ignores the results; nothing reads the thread's result.
DWORD WINAPI launcherThread(LPVOID parameter);

#endif
