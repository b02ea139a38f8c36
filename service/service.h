// The service as the Service Control Manager sees it.
#ifndef VELMORANE_SERVICE_H
#define VELMORANE_SERVICE_H

#include <windows.h>

#include "log/service_name.h"

#define SERVICE_NAME L"" VELMORANE_SERVICE_NAME
// Own-process and shared-process bits together, as every report carries them.
#define SERVICE_REPORTED_TYPE SERVICE_WIN32

extern SERVICE_STATUS serviceStatus;
extern SERVICE_STATUS_HANDLE serviceStatusHandle;
extern HANDLE stopEvent;
// Set by the first STOP or SHUTDOWN; later ones only re-report.
extern volatile LONG stopRequested;

void WINAPI serviceMain(DWORD argc, LPWSTR *argv);
void WINAPI controlHandler(DWORD control);

#endif
