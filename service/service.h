// The service as the Service Control Manager sees it.
#ifndef VELMORANE_SERVICE_H
#define VELMORANE_SERVICE_H

#include <windows.h>

#include "log/service_name.h"

#define SERVICE_NAME L"" VELMORANE_SERVICE_NAME
// Own-process and shared-process bits together, as every report carries them.
#define SERVICE_REPORTED_TYPE SERVICE_WIN32

// Process-wide because the control handler is the manager's callback and is
// given no argument of ours; the stop closes it, as the tests see.
extern HANDLE stopEvent;

void WINAPI serviceMain(DWORD argc, LPWSTR *argv);
void WINAPI controlHandler(DWORD control);

#endif
