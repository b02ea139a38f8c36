// The shutdown thread: lets the Java application stop in order.
#ifndef VELMORANE_SHUTDOWN_H
#define VELMORANE_SHUTDOWN_H

#include <windows.h>

#include "launcher/jvm.h"
#include "log/service_name.h"

// The name the shutdown thread carries among the Java threads (a dump shows it).
#define SHUTDOWN_THREAD_NAME VELMORANE_SERVICE_NAME " shutdown"

struct LaunchContext;

// Thread routine; the parameter is the LaunchContext, whose stopFailure is
// the kind of a failed start that stops the service (a LaunchFailure),
// LAUNCH_NOT_FAILED for any other stop. 1 when shutdown() was called.
DWORD WINAPI shutdownThread(LPVOID parameter);

// The stop of the launch, whatever stops it (a STOP, SHUTDOWN or
// PRESHUTDOWN, a console event, a failed start under VLSTOPONFAILURE with
// `failure` its kind): runs the shutdown thread and waits for it at most
// SHUTDOWN_WAIT_MS; when it still runs after THREAD_DUMP_AFTER_MS, the Java
// threads' stacks are written into the log meanwhile. An application that
// takes longer is left running; the process ends without it. Where a failed
// start left no shutdown() to call, the stop says so once. False when it was
// left running so; true when it ended within the wait, or could not be
// started at all.
bool stopLaunch(LaunchContext *launch, DWORD failure);
// The same for a launch that did not fail.
bool stopApplication(LaunchContext *launch);

#endif
