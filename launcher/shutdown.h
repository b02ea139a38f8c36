// The shutdown thread: lets the Java application stop in order.
#ifndef VELMORANE_SHUTDOWN_H
#define VELMORANE_SHUTDOWN_H

#include <windows.h>

#include "launcher/jvm.h"
#include "log/service_name.h"

// The name the shutdown thread carries among the Java threads (a dump shows it).
#define SHUTDOWN_THREAD_NAME VELMORANE_SERVICE_NAME " shutdown"

// Thread routine; the parameter is the kind of a failed start that stops the
// service (a LaunchFailure), LAUNCH_NOT_FAILED for any other stop. 1 when
// shutdown() was called.
DWORD WINAPI shutdownThread(LPVOID parameter);

// The stop: runs the shutdown thread and waits for it at most
// SHUTDOWN_WAIT_MS; when it still runs after THREAD_DUMP_AFTER_MS, the Java
// threads' stacks are written into the log meanwhile. An application that
// takes longer is left running; the process ends without it. False when it
// was left running so; true when it ended within the wait, or could not be
// started at all.
bool stopApplication(void);
// The same, and the service's stop for every STOP, SHUTDOWN and PRESHUTDOWN:
// failure is LAUNCH_NOT_FAILED then, or the kind of a failed start that
// stops the service (VLSTOPONFAILURE); where the start left no shutdown() to
// call, the stop says so once.
bool stopFailedStart(DWORD failure);

#endif
