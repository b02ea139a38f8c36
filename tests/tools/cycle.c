/*
 * scmctl cycle: one start/stop cycle of a service, driven from inside the Wine
 * session so that the stop lands within milliseconds of the moment chosen,
 * and with the service process held open from its start so that its exit
 * code can still be read after it has ended (the reliability tests).
 *
 *   scmctl cycle NAME TRIGGER_FILE TRIGGER_TEXT DELAY_MS STOPS STOP_GAP_MS STOP_BOUND_MS EXIT_BOUND_MS
 *
 * StartServiceW; then, when TRIGGER_FILE is not "-", waits (at most 120 s)
 * until that file holds TRIGGER_TEXT (read with full sharing, so a writer is
 * never refused: never point it at the service's own log); sleeps DELAY_MS;
 * sends STOPS stop controls, each from a thread of its own, STOP_GAP_MS apart;
 * polls the status until SERVICE_STOPPED or STOP_BOUND_MS after the first stop;
 * waits at most EXIT_BOUND_MS for the process to end.
 *
 * Output, key=value, one record a line:
 *   pid=N running_ms=N                   start request to the first RUNNING seen
 *   trigger=hit|timeout t_ms=N           (only with a trigger file)
 *   change t_ms=N state=N accepted=N     every state change, time from the first stop
 *   stopped=0|1 stop_ms=N                first stop to SERVICE_STOPPED
 *   exited=0|1 exit_code=N exit_ms=N     SERVICE_STOPPED (or the bound) to the process end
 *   control n=N sent_ms=N error=N returned_ms=N   one per stop, times from the first stop
 *   refused stop N call=ControlService error=N      a stop Wine refused in passing, sent again
 * Exit codes: 0 the cycle ran (whatever it showed), 1 usage, 2 a call failed
 * (error=N call=NAME printed).
 */
#include "scmctl.h"

#define MAX_STOPS 16
#define TRIGGER_CAPACITY 65536
#define TRIGGER_TIMEOUT_MS 120000
#define POLL_MS 5
#define CONTROL_JOIN_MS 120000

struct stop_call {
    const wchar_t *name;
    ULONGLONG origin;
    ULONGLONG sent_ms;
    ULONGLONG returned_ms;
    DWORD error;
    DWORD refused;
    HANDLE thread;
};

static struct stop_call stops[MAX_STOPS];
static char trigger_buffer[TRIGGER_CAPACITY];

/* Each stop has a thread of its own: the manager holds a control for as long
 * as the handler takes, and the later stops must still go out on time. */
static DWORD WINAPI send_stop(LPVOID parameter)
{
    struct stop_call *call = (struct stop_call *)parameter;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != NULL ? OpenServiceW(manager, call->name, SERVICE_STOP | SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS status;

    call->sent_ms = GetTickCount64() - call->origin;
    if (service == NULL)
        call->error = GetLastError();
    else if (!stop_service(service, &status, &call->refused))
        call->error = GetLastError();
    else
        call->error = 0;
    call->returned_ms = GetTickCount64() - call->origin;
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return 0;
}

static int wait_trigger(const wchar_t *path, const char *text, ULONGLONG origin)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (read_shared(path, trigger_buffer, TRIGGER_CAPACITY) > 0 && strstr(trigger_buffer, text) != NULL) {
            printf("trigger=hit t_ms=%llu\n", GetTickCount64() - origin);
            return 1;
        }
        if (GetTickCount64() - start >= TRIGGER_TIMEOUT_MS) {
            printf("trigger=timeout t_ms=%llu\n", GetTickCount64() - origin);
            return 0;
        }
        Sleep(1);
    }
}

int cmd_cycle(SC_HANDLE manager, int argc, const wchar_t **argv)
{
    DWORD delay = 0, stop_count = 0, stop_gap = 0, stop_bound = 0, exit_bound = 0;
    char trigger_text[512];
    SC_HANDLE service;
    SERVICE_STATUS_PROCESS status;
    HANDLE process = NULL;
    ULONGLONG requested, origin, stopped_at = 0, now;
    DWORD pid = 0, last_state = 0, last_accepted = 0xffffffff, exit_code = 0, i;
    int stopped = 0, exited = 0;

    if (argc != 9 || !parse_number(argv[4], &delay) || !parse_number(argv[5], &stop_count) ||
        !parse_number(argv[6], &stop_gap) || !parse_number(argv[7], &stop_bound) ||
        !parse_number(argv[8], &exit_bound) || stop_count < 1 || stop_count > MAX_STOPS) {
        fprintf(stderr, "usage: scmctl cycle NAME TRIGGER_FILE TRIGGER_TEXT DELAY_MS STOPS STOP_GAP_MS "
                        "STOP_BOUND_MS EXIT_BOUND_MS\n");
        return EXIT_USAGE;
    }
    if (WideCharToMultiByte(CP_UTF8, 0, argv[3], -1, trigger_text, (int)sizeof(trigger_text), NULL, NULL) <= 0)
        return EXIT_USAGE;

    service = OpenServiceW(manager, argv[1], SERVICE_START | SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW");

    requested = GetTickCount64();
    if (!StartServiceW(service, 0, NULL))
        return fail("StartServiceW");
    /* The process is opened as soon as the manager names it: once it has
     * ended, its exit code can't be asked for any more. */
    for (;;) {
        if (!query_process(service, &status))
            return fail("QueryServiceStatusEx");
        if (process == NULL && status.dwProcessId != 0) {
            pid = status.dwProcessId;
            process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            if (process == NULL)
                return fail("OpenProcess");
        }
        if (status.dwCurrentState == SERVICE_RUNNING && process != NULL)
            break;
        if (status.dwCurrentState == SERVICE_STOPPED && GetTickCount64() - requested > 1000) {
            printf("error=0 call=start state=stopped\n");
            return EXIT_FAILED;
        }
        if (GetTickCount64() - requested > 120000) {
            printf("error=0 call=start state=%lu\n", status.dwCurrentState);
            return EXIT_FAILED;
        }
        Sleep(1);
    }
    printf("pid=%lu running_ms=%llu\n", pid, GetTickCount64() - requested);
    fflush(stdout);

    if (wcscmp(argv[2], L"-") != 0)
        wait_trigger(argv[2], trigger_text, requested);
    if (delay > 0)
        Sleep(delay);

    origin = GetTickCount64();
    for (i = 0; i < stop_count; i++) {
        if (i > 0)
            Sleep(stop_gap);
        stops[i].name = argv[1];
        stops[i].origin = origin;
        stops[i].error = 0;
        stops[i].thread = CreateThread(NULL, 0, send_stop, &stops[i], 0, NULL);
        if (stops[i].thread == NULL)
            return fail("CreateThread");
    }

    for (;;) {
        if (!query_process(service, &status))
            return fail("QueryServiceStatusEx");
        now = GetTickCount64();
        if (status.dwCurrentState != last_state || status.dwControlsAccepted != last_accepted) {
            printf("change t_ms=%llu state=%lu accepted=%lu\n", now - origin, status.dwCurrentState,
                   status.dwControlsAccepted);
            last_state = status.dwCurrentState;
            last_accepted = status.dwControlsAccepted;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            stopped = 1;
            stopped_at = now;
            break;
        }
        if (now - origin >= stop_bound) {
            stopped_at = now;
            break;
        }
        Sleep(POLL_MS);
    }
    printf("stopped=%d stop_ms=%llu\n", stopped, stopped_at - origin);
    fflush(stdout);

    if (WaitForSingleObject(process, exit_bound) == WAIT_OBJECT_0) {
        exited = 1;
        if (!GetExitCodeProcess(process, &exit_code))
            return fail("GetExitCodeProcess");
    }
    printf("exited=%d exit_code=%lu exit_ms=%llu\n", exited, exit_code, GetTickCount64() - stopped_at);
    fflush(stdout);
    CloseHandle(process);

    for (i = 0; i < stop_count; i++) {
        if (WaitForSingleObject(stops[i].thread, CONTROL_JOIN_MS) != WAIT_OBJECT_0) {
            printf("control n=%lu sent_ms=%llu error=pending\n", i + 1, stops[i].sent_ms);
        } else {
            if (stops[i].refused != 0)
                printf("refused stop %lu call=ControlService error=%lu\n", i + 1, stops[i].refused);
            printf("control n=%lu sent_ms=%llu error=%lu returned_ms=%llu\n", i + 1, stops[i].sent_ms,
                   stops[i].error, stops[i].returned_ms);
        }
        CloseHandle(stops[i].thread);
    }
    fflush(stdout);
    CloseServiceHandle(service);
    return EXIT_OK;
}
