/* What the parts of scmctl (scmctl.c, cycle.c, bench/timing.c) share. */
#ifndef SCMCTL_H
#define SCMCTL_H

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define EXIT_OK 0
#define EXIT_USAGE 1
#define EXIT_FAILED 2
#define EXIT_TIMEOUT 3

#define PATH_CAP 32767

/* Prints "error=<GetLastError> call=<what>"; returns EXIT_FAILED. */
int fail(const char *what);
int parse_number(const wchar_t *text, DWORD *value);
int query_process(SC_HANDLE service, SERVICE_STATUS_PROCESS *status);
/* Reads at most capacity-1 bytes of a file that others may be writing, with full
 * sharing so that a writer is never refused; -1 when it can't be opened. */
long read_shared(const wchar_t *path, char *text, DWORD capacity);

/* Whether `error` from the manager's call `call` ("StartServiceW", "ControlService") is
 * one of Wine's passing refusals. The test equipment's one table of them
 * (tests/common/wine_refusals.py) hands its codes over in VELMORANE_WINE_REFUSALS,
 * "StartServiceW:1359;ControlService:109,1359"; without the variable none is. */
int wine_refusal(const char *call, DWORD error);
/* ControlService(STOP); sent once more when Wine refused it in passing while the
 * service still takes a STOP (the handle needs SERVICE_QUERY_STATUS too). *refused
 * gets the refused attempt's error, or 0. */
BOOL stop_service(SC_HANDLE service, SERVICE_STATUS *status, DWORD *refused);

/* cycle NAME TRIGGER_FILE TRIGGER_TEXT DELAY_MS STOPS STOP_GAP_MS STOP_BOUND_MS EXIT_BOUND_MS */
int cmd_cycle(SC_HANDLE manager, int argc, const wchar_t **argv);
/* time-start, time-stop, time-main (`what` is the part after "time-") */
int cmd_time(SC_HANDLE manager, const wchar_t *what, int argc, const wchar_t **argv);

#endif
