// The shutdown thread: lets the Java application stop in order.
#ifndef VELMORANE_SHUTDOWN_H
#define VELMORANE_SHUTDOWN_H

#include <windows.h>

// Thread routine; the parameter is not used. 1 when shutdown() was called.
DWORD WINAPI shutdownThread(LPVOID parameter);

#endif
