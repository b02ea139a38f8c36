/*
 * scmctl: the one client of the Service Control Manager for the tests, the
 * main job and the benchmarks, run inside the Wine session.
 *
 *   scmctl query   NAME                     status record (all seven fields) and pid
 *   scmctl qc      NAME                     registered configuration
 *   scmctl qfailure NAME                    failure actions and the failure-actions flag
 *   scmctl create  NAME EXE [ARGS]          CreateServiceW: own process, on demand (a yardstick);
 *                                            the binary path is EXE quoted, then ARGS as given
 *   scmctl binpath NAME TEXT                ChangeServiceConfigW: the binary path, exactly TEXT
 *   scmctl start   NAME [ARG...]            StartServiceW with the given arguments
 *   scmctl control NAME CODE                ControlService; prints the returned record
 *   scmctl wait    NAME STATE TIMEOUT_MS    polls until the state is reached
 *   scmctl watch   NAME UNTIL TIMEOUT_MS    polls as fast as it can, prints every change
 *   scmctl notify  NAME UNTIL TIMEOUT_MS    NotifyServiceStatusChangeW, prints every notice
 *   scmctl delete  NAME                     DeleteService (test clean-up)
 *   scmctl exited  PID TIMEOUT_MS           waits for a process to end (0 ended, 3 still running)
 *   scmctl cycle   NAME ...                 one start/stop cycle (cycle.c)
 *   scmctl time-start, time-stop, time-main ...   the benchmarks' timings (bench/timing.c)
 *
 * Output is key=value text on standard output, one record per line; strings are
 * printed in UTF-8. Exit codes: 0 done, 1 usage, 2 a call failed (error=N printed),
 * 3 time-out.
 */
#include "scmctl.h"

#define TEXT_CAPACITY 4096

static void print_utf8(const char *key, const wchar_t *value)
{
    char text[TEXT_CAPACITY];
    int n;

    if (value == NULL) {
        printf("%s=\n", key);
        return;
    }
    n = WideCharToMultiByte(CP_UTF8, 0, value, -1, text, (int)sizeof(text), NULL, NULL);
    if (n <= 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';
    printf("%s=%s\n", key, text);
}

static void print_status(const SERVICE_STATUS *s, DWORD pid, ULONGLONG elapsed_ms, int with_time)
{
    if (with_time)
        printf("t=%llu ", elapsed_ms);
    printf("type=0x%lx state=%lu accepted=%lu exit=%lu specific=%lu checkpoint=%lu wait_hint=%lu pid=%lu\n",
           s->dwServiceType, s->dwCurrentState, s->dwControlsAccepted, s->dwWin32ExitCode,
           s->dwServiceSpecificExitCode, s->dwCheckPoint, s->dwWaitHint, pid);
    fflush(stdout);
}

int fail(const char *what)
{
    DWORD error = GetLastError();
    printf("error=%lu call=%s\n", error, what);
    fflush(stdout);
    return EXIT_FAILED;
}

int parse_number(const wchar_t *text, DWORD *value)
{
    wchar_t *end = NULL;
    unsigned long v = wcstoul(text, &end, 0);
    if (end == text || *end != L'\0')
        return 0;
    *value = (DWORD)v;
    return 1;
}

int query_process(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)status, sizeof(*status), &needed);
}

static int query_ex(SC_HANDLE service, SERVICE_STATUS *status, DWORD *pid)
{
    SERVICE_STATUS_PROCESS sp;

    if (!query_process(service, &sp))
        return 0;
    memcpy(status, &sp, sizeof(*status)); /* the first seven fields are a SERVICE_STATUS */
    *pid = sp.dwProcessId;
    return 1;
}

int wine_refusal(const char *call, DWORD error)
{
    const char *entry = getenv("VELMORANE_WINE_REFUSALS");
    size_t length = strlen(call);

    while (entry != NULL && *entry != '\0') {
        const char *end = strchr(entry, ';');
        if (end == NULL)
            end = entry + strlen(entry);
        if ((size_t)(end - entry) > length && strncmp(entry, call, length) == 0 && entry[length] == ':') {
            const char *code = entry + length + 1;
            while (code < end) {
                char *next;
                unsigned long value = strtoul(code, &next, 10);
                if (next == code)
                    break;
                if (value == error)
                    return 1;
                code = *next == ',' ? next + 1 : next;
            }
        }
        entry = *end != '\0' ? end + 1 : end;
    }
    return 0;
}

BOOL stop_service(SC_HANDLE service, SERVICE_STATUS *status, DWORD *refused)
{
    SERVICE_STATUS_PROCESS now;
    DWORD error;

    *refused = 0;
    if (ControlService(service, SERVICE_CONTROL_STOP, status))
        return TRUE;
    error = GetLastError();
    /* A service whose process has gone takes no STOP: a crash never passes for a refusal. */
    if (!wine_refusal("ControlService", error) || !query_process(service, &now) ||
        now.dwCurrentState == SERVICE_STOPPED || !(now.dwControlsAccepted & SERVICE_ACCEPT_STOP)) {
        SetLastError(error);
        return FALSE;
    }
    *refused = error;
    Sleep(500);
    return ControlService(service, SERVICE_CONTROL_STOP, status);
}

long read_shared(const wchar_t *path, char *text, DWORD capacity)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD got = 0, total = 0;

    if (file == INVALID_HANDLE_VALUE)
        return -1;
    while (total + 1 < capacity && ReadFile(file, text + total, capacity - 1 - total, &got, NULL) && got > 0)
        total += got;
    CloseHandle(file);
    text[total] = '\0';
    return (long)total;
}

static int cmd_query(SC_HANDLE manager, const wchar_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    DWORD pid = 0;
    int rc = EXIT_OK;

    if (service == NULL)
        return fail("OpenServiceW");
    /* The plain query is what installers and monitors use; the extended one adds the pid. */
    if (!QueryServiceStatus(service, &status))
        rc = fail("QueryServiceStatus");
    else {
        SERVICE_STATUS ex;
        if (!query_ex(service, &ex, &pid))
            pid = 0;
        print_status(&status, pid, 0, 0);
    }
    CloseServiceHandle(service);
    return rc;
}

static int cmd_qc(SC_HANDLE manager, const wchar_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    QUERY_SERVICE_CONFIGW *config = NULL;
    DWORD needed = 0;
    int rc = EXIT_OK;

    if (service == NULL)
        return fail("OpenServiceW");
    if (!QueryServiceConfigW(service, NULL, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        rc = fail("QueryServiceConfigW");
    } else if (needed == 0 || needed > 1024 * 1024) {
        printf("error=0 call=QueryServiceConfigW size=%lu\n", needed);
        rc = EXIT_FAILED;
    } else if ((config = (QUERY_SERVICE_CONFIGW *)malloc(needed)) == NULL) {
        printf("error=0 call=malloc\n");
        rc = EXIT_FAILED;
    } else if (!QueryServiceConfigW(service, config, needed, &needed)) {
        rc = fail("QueryServiceConfigW");
    } else {
        printf("type=0x%lx\n", config->dwServiceType);
        printf("start=%lu\n", config->dwStartType);
        printf("error_control=%lu\n", config->dwErrorControl);
        print_utf8("path", config->lpBinaryPathName);
        print_utf8("group", config->lpLoadOrderGroup);
        printf("tag=%lu\n", config->dwTagId);
        print_utf8("account", config->lpServiceStartName);
        print_utf8("display", config->lpDisplayName);
        /* Dependencies are a double-terminated list; only whether there are any matters. */
        printf("dependencies=%s\n",
               (config->lpDependencies != NULL && config->lpDependencies[0] != L'\0') ? "yes" : "none");
    }
    free(config);
    CloseServiceHandle(service);
    return rc;
}

/* QueryServiceConfig2W: "reset=SECONDS actions=TYPE/DELAY_MS,..." and "flag=0|1", each
   or its error line; Wine's manager answers neither (error 124). */
static int cmd_qfailure(SC_HANDLE manager, const wchar_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    static union {
        SERVICE_FAILURE_ACTIONSW actions;
        SERVICE_FAILURE_ACTIONS_FLAG flag;
        BYTE bytes[8192];
    } answer;
    DWORD needed = 0;
    DWORD i;
    int rc = EXIT_OK;

    if (service == NULL)
        return fail("OpenServiceW");
    if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, answer.bytes, sizeof(answer), &needed)) {
        rc = fail("QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS)");
    } else {
        printf("reset=%lu actions=", answer.actions.dwResetPeriod);
        for (i = 0; i < answer.actions.cActions && answer.actions.lpsaActions != NULL; i++)
            printf("%s%d/%lu", i == 0 ? "" : ",", (int)answer.actions.lpsaActions[i].Type,
                   answer.actions.lpsaActions[i].Delay);
        printf("\n");
    }
    if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, answer.bytes, sizeof(answer), &needed))
        rc = fail("QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)");
    else
        printf("flag=%d\n", answer.flag.fFailureActionsOnNonCrashFailures ? 1 : 0);
    CloseServiceHandle(service);
    return rc;
}

static int cmd_create(SC_HANDLE manager, const wchar_t *name, const wchar_t *exe, const wchar_t *args)
{
    static wchar_t quoted[PATH_CAP];
    SC_HANDLE service;

    if (_snwprintf(quoted, PATH_CAP, args ? L"\"%ls\" %ls" : L"\"%ls\"", exe, args) < 0)
        return fail("path-too-long");
    quoted[PATH_CAP - 1] = L'\0';
    service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                             SERVICE_ERROR_IGNORE, quoted, NULL, NULL, NULL, NULL, NULL);
    if (service == NULL && GetLastError() != ERROR_SERVICE_EXISTS)
        return fail("CreateServiceW");
    if (service != NULL)
        CloseServiceHandle(service);
    printf("created\n");
    return EXIT_OK;
}

static int cmd_binpath(SC_HANDLE manager, const wchar_t *name, const wchar_t *text)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_CHANGE_CONFIG);
    BOOL changed;

    if (service == NULL)
        return fail("OpenServiceW");
    changed = ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, text, NULL, NULL,
                                   NULL, NULL, NULL, NULL);
    CloseServiceHandle(service);
    if (!changed)
        return fail("ChangeServiceConfigW");
    printf("changed\n");
    return EXIT_OK;
}

static int cmd_start(SC_HANDLE manager, const wchar_t *name, int argc, const wchar_t **argv)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START);
    int rc = EXIT_OK;

    if (service == NULL)
        return fail("OpenServiceW");
    if (!StartServiceW(service, (DWORD)argc, argc > 0 ? argv : NULL))
        rc = fail("StartServiceW");
    else
        printf("started\n");
    CloseServiceHandle(service);
    return rc;
}

static int cmd_control(SC_HANDLE manager, const wchar_t *name, const wchar_t *code_text)
{
    DWORD code = 0;
    SC_HANDLE service;
    SERVICE_STATUS status;
    int rc = EXIT_OK;

    if (!parse_number(code_text, &code))
        return EXIT_USAGE;
    service = OpenServiceW(manager, name,
                           SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                               SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW");
    memset(&status, 0, sizeof(status));
    if (!ControlService(service, code, &status)) {
        rc = fail("ControlService");
    }
    /* The record comes back on failure too (for instance a stop while stopping). */
    print_status(&status, 0, 0, 0);
    CloseServiceHandle(service);
    return rc;
}

/* Polls the status; prints every distinct record when verbose, stops at the wanted state. */
static int poll_until(SC_HANDLE manager, const wchar_t *name, const wchar_t *state_text,
                      const wchar_t *timeout_text, int verbose)
{
    DWORD wanted = 0, timeout = 0, pid = 0, last_pid = 0;
    SC_HANDLE service;
    SERVICE_STATUS status, last;
    ULONGLONG start;
    int have_last = 0;
    int rc = EXIT_TIMEOUT;

    if (!parse_number(state_text, &wanted) || !parse_number(timeout_text, &timeout))
        return EXIT_USAGE;
    service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW");
    start = GetTickCount64();
    memset(&last, 0, sizeof(last));
    for (;;) {
        ULONGLONG now;
        if (!query_ex(service, &status, &pid)) {
            rc = fail("QueryServiceStatusEx");
            break;
        }
        now = GetTickCount64();
        if (verbose && (!have_last || memcmp(&status, &last, sizeof(status)) != 0 || pid != last_pid)) {
            print_status(&status, pid, now - start, 1);
            last = status;
            last_pid = pid;
            have_last = 1;
        }
        if (status.dwCurrentState == wanted) {
            if (!verbose)
                print_status(&status, pid, now - start, 0);
            rc = EXIT_OK;
            break;
        }
        if (now - start >= timeout) {
            if (!verbose)
                print_status(&status, pid, now - start, 0);
            printf("timeout\n");
            break;
        }
        if (!verbose)
            Sleep(10);
    }
    CloseServiceHandle(service);
    return rc;
}

static volatile LONG notices;

static void CALLBACK on_notice(void *parameter)
{
    SERVICE_NOTIFYW *notify = (SERVICE_NOTIFYW *)parameter;
    SERVICE_STATUS s;

    memcpy(&s, &notify->ServiceStatus, sizeof(s)); /* its first seven fields */
    printf("notify=0x%lx status=%lu ", notify->dwNotificationTriggered, notify->dwNotificationStatus);
    print_status(&s, notify->ServiceStatus.dwProcessId, 0, 0);
    InterlockedIncrement(&notices);
}

static int cmd_notify(SC_HANDLE manager, const wchar_t *name, const wchar_t *state_text,
                      const wchar_t *timeout_text)
{
    DWORD wanted = 0, timeout = 0, result;
    SC_HANDLE service;
    SERVICE_NOTIFYW notify;
    ULONGLONG start;
    int rc = EXIT_TIMEOUT;
    DWORD mask = SERVICE_NOTIFY_STOPPED | SERVICE_NOTIFY_START_PENDING | SERVICE_NOTIFY_STOP_PENDING |
                 SERVICE_NOTIFY_RUNNING | SERVICE_NOTIFY_CONTINUE_PENDING |
                 SERVICE_NOTIFY_PAUSE_PENDING | SERVICE_NOTIFY_PAUSED;

    if (!parse_number(state_text, &wanted) || !parse_number(timeout_text, &timeout))
        return EXIT_USAGE;
    service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW");
    start = GetTickCount64();
    for (;;) {
        LONG before = notices;
        memset(&notify, 0, sizeof(notify));
        notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
        notify.pfnNotifyCallback = on_notice;
        notify.pContext = &notify;
        result = NotifyServiceStatusChangeW(service, mask, &notify);
        if (result != ERROR_SUCCESS) {
            SetLastError(result);
            rc = fail("NotifyServiceStatusChangeW");
            break;
        }
        /* The callback runs as an APC: wait alertably until it has run or time is up. */
        while (notices == before) {
            ULONGLONG now = GetTickCount64();
            if (now - start >= timeout)
                break;
            SleepEx((DWORD)(timeout - (now - start)), TRUE);
        }
        if (notices == before) {
            printf("timeout\n");
            break;
        }
        if (notify.ServiceStatus.dwCurrentState == wanted) {
            rc = EXIT_OK;
            break;
        }
    }
    CloseServiceHandle(service);
    return rc;
}

static int cmd_delete(SC_HANDLE manager, const wchar_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, DELETE);
    int rc = EXIT_OK;

    if (service == NULL)
        return fail("OpenServiceW");
    if (!DeleteService(service))
        rc = fail("DeleteService");
    else
        printf("deleted\n");
    CloseServiceHandle(service);
    return rc;
}

/* A process that can no longer be opened has ended (its id is not reused this quickly). */
static int cmd_exited(const wchar_t *pid_text, const wchar_t *timeout_text)
{
    DWORD pid = 0, timeout = 0, result;
    HANDLE process;

    if (!parse_number(pid_text, &pid) || !parse_number(timeout_text, &timeout))
        return EXIT_USAGE;
    process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == NULL) {
        printf("exited=1\n");
        return EXIT_OK;
    }
    result = WaitForSingleObject(process, timeout);
    CloseHandle(process);
    printf("exited=%d\n", result == WAIT_OBJECT_0 ? 1 : 0);
    return result == WAIT_OBJECT_0 ? EXIT_OK : EXIT_TIMEOUT;
}

int wmain(int argc, wchar_t **argv)
{
    SC_HANDLE manager;
    const wchar_t *command;
    const wchar_t *name;
    int rc = EXIT_USAGE;

    if (argc < 3) {
        fprintf(stderr, "usage: scmctl query|qc|qfailure|create|start|control|wait|watch|notify|delete|cycle|time-start|"
                        "time-stop|time-main ... | exited PID TIMEOUT_MS\n");
        return EXIT_USAGE;
    }
    command = argv[1];
    name = argv[2];
    if (wcscmp(command, L"exited") == 0)
        return argc == 4 ? cmd_exited(argv[2], argv[3]) : EXIT_USAGE;
    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT | (wcscmp(command, L"create") == 0
                                                                   ? SC_MANAGER_CREATE_SERVICE : 0));
    if (manager == NULL)
        return fail("OpenSCManagerW");

    if (wcscmp(command, L"query") == 0)
        rc = cmd_query(manager, name);
    else if (wcscmp(command, L"qc") == 0)
        rc = cmd_qc(manager, name);
    else if (wcscmp(command, L"qfailure") == 0)
        rc = cmd_qfailure(manager, name);
    else if (wcscmp(command, L"create") == 0 && (argc == 4 || argc == 5))
        rc = cmd_create(manager, name, argv[3], argc == 5 ? argv[4] : NULL);
    else if (wcscmp(command, L"binpath") == 0 && argc == 4)
        rc = cmd_binpath(manager, name, argv[3]);
    else if (wcscmp(command, L"start") == 0)
        rc = cmd_start(manager, name, argc - 3, (const wchar_t **)(argv + 3));
    else if (wcscmp(command, L"control") == 0 && argc == 4)
        rc = cmd_control(manager, name, argv[3]);
    else if (wcscmp(command, L"wait") == 0 && argc == 5)
        rc = poll_until(manager, name, argv[3], argv[4], 0);
    else if (wcscmp(command, L"watch") == 0 && argc == 5)
        rc = poll_until(manager, name, argv[3], argv[4], 1);
    else if (wcscmp(command, L"notify") == 0 && argc == 5)
        rc = cmd_notify(manager, name, argv[3], argv[4]);
    else if (wcscmp(command, L"delete") == 0)
        rc = cmd_delete(manager, name);
    else if (wcscmp(command, L"cycle") == 0)
        rc = cmd_cycle(manager, argc - 1, (const wchar_t **)(argv + 1));
    else if (wcsncmp(command, L"time-", 5) == 0)
        rc = cmd_time(manager, command + 5, argc - 1, (const wchar_t **)(argv + 1));
    else
        fprintf(stderr, "scmctl: unknown command or wrong argument count\n");

    CloseServiceHandle(manager);
    fflush(stdout);
    return rc;
}
