// The shutdown thread: lets the Java application stop in order.
#ifndef VELMORANE_SHUTDOWN_H
#define VELMORANE_SHUTDOWN_H

#include <windows.h>

#include "launcher/jvm.h"

// The name the shutdown thread carries among the Java threads (a dump shows it).
#define SHUTDOWN_THREAD_NAME "VelmoraneService shutdown"

// Thread routine; the parameter is not used. 1 when shutdown() was called.
DWORD WINAPI shutdownThread(LPVOID parameter);

// Looks up the main class and its shutdown() on an attached thread. False
// after the failure's record and the record of the Java exception.
bool findShutdown(JNIEnv *env, jclass *mainClass, jmethodID *shutdownMethod, JvmResult *result);

// The stop: runs the shutdown thread and waits for it at most
// SHUTDOWN_WAIT_MS; when it still runs after THREAD_DUMP_AFTER_MS, the Java
// threads' stacks are written into the log meanwhile. An application that
// takes longer is left running; the process ends without it. True when the
// thread ended within the wait.
bool stopApplication(void);

#endif
