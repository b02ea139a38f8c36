/*
 * Times, alternately, two ways of getting to the Java application's main:
 *   service  StartServiceW of the installed service -> main entered
 *   host     CreateProcessW of startup_host.exe     -> main entered
 * "main entered" is the moment the test application's record file appears
 * (its main writes it first thing); the file is polled every millisecond in
 * both cases. For the service it also prints when its log file first
 * appeared ("service-log"): the launcher thread's first record. After each service run the service is stopped and its process
 * awaited; after each host run the host process is awaited.
 *
 * usage: startup_driver.exe ROUNDS RECORD_FILE HOST_EXE JVM_DLL BASE_PATH
 * Prints one line per run: "<service|service-log|host> <round> <milliseconds>", or
 * "error ..." and exit code 1.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define SERVICE_NAME L"VelmoraneService"
#define CMDLINE_CAP 32767
#define WAIT_MS 120000
#define LOG_FILE L"c:\\windows\\temp\\velmoraneservice.log"

static LARGE_INTEGER frequency;
static const wchar_t *record_file;

static double elapsed_ms(LARGE_INTEGER from)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - from.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static int fail(const char *what)
{
    printf("error %s %lu\n", what, GetLastError());
    fflush(stdout);
    return 0;
}

static int clear_record(void)
{
    if (!DeleteFileW(record_file) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return fail("DeleteFileW");
    return 1;
}

/* Waits for the record file; its elapsed time since `from`, or a negative value. When
 * log_seen is given, also notes when the service's log file first appeared. */
static double wait_for_main(LARGE_INTEGER from, double *log_seen)
{
    for (;;) {
        double t = elapsed_ms(from);
        if (log_seen != NULL && *log_seen < 0 && GetFileAttributesW(LOG_FILE) != INVALID_FILE_ATTRIBUTES)
            *log_seen = t;
        if (GetFileAttributesW(record_file) != INVALID_FILE_ATTRIBUTES)
            return t;
        if (t > WAIT_MS)
            return -1.0;
        Sleep(1);
    }
}

static int query(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)status, sizeof *status, &needed);
}

static int service_run(SC_HANDLE service, int round)
{
    LARGE_INTEGER t0;
    SERVICE_STATUS_PROCESS status;
    SERVICE_STATUS stop_status;
    HANDLE process;
    double t, log_seen = -1.0;
    ULONGLONG deadline;

    if (!clear_record())
        return 0;
    /* Its first record marks the launcher thread's start. */
    if (!DeleteFileW(LOG_FILE) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return fail("DeleteFileW-log");
    QueryPerformanceCounter(&t0);
    if (!StartServiceW(service, 0, NULL))
        return fail("StartServiceW");
    t = wait_for_main(t0, &log_seen);
    if (t < 0)
        return fail("service-main-not-entered");
    printf("service %d %.3f\n", round, t);
    printf("service-log %d %.3f\n", round, log_seen);
    fflush(stdout);

    if (!query(service, &status))
        return fail("QueryServiceStatusEx");
    process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
    if (!ControlService(service, SERVICE_CONTROL_STOP, &stop_status))
        return fail("ControlService");
    deadline = GetTickCount64() + WAIT_MS;
    for (;;) {
        if (!query(service, &status))
            return fail("QueryServiceStatusEx");
        if (status.dwCurrentState == SERVICE_STOPPED)
            break;
        if (GetTickCount64() > deadline)
            return fail("service-not-stopped");
        Sleep(10);
    }
    if (process != NULL) {
        if (WaitForSingleObject(process, WAIT_MS) != WAIT_OBJECT_0)
            return fail("service-process-not-ended");
        CloseHandle(process);
    }
    return 1;
}

static int host_run(const wchar_t *host_exe, const wchar_t *jvm_dll, const wchar_t *base, int round)
{
    static wchar_t command_line[CMDLINE_CAP];
    STARTUPINFOW startup;
    PROCESS_INFORMATION info;
    LARGE_INTEGER t0;
    DWORD code = 1;
    double t;

    if (_snwprintf(command_line, CMDLINE_CAP, L"\"%ls\" \"%ls\" \"%ls\"", host_exe, jvm_dll, base) < 0)
        return fail("command-line-too-long");
    /* A closing backslash before the closing quote would escape it. */
    if (base[0] && base[wcslen(base) - 1] == L'\\') {
        size_t n = wcslen(command_line);
        if (n + 2 > CMDLINE_CAP)
            return fail("command-line-too-long");
        command_line[n - 1] = L'\\';
        command_line[n] = L'"';
        command_line[n + 1] = L'\0';
    }
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!clear_record())
        return 0;
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(host_exe, command_line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return fail("CreateProcessW");
    t = wait_for_main(t0, NULL);
    if (t < 0)
        return fail("host-main-not-entered");
    printf("host %d %.3f\n", round, t);
    fflush(stdout);
    if (WaitForSingleObject(info.hProcess, WAIT_MS) != WAIT_OBJECT_0)
        return fail("host-not-ended");
    if (!GetExitCodeProcess(info.hProcess, &code) || code != 0) {
        printf("error host-exit-code %lu\n", code);
        return 0;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 1;
}

int wmain(int argc, wchar_t **argv)
{
    SC_HANDLE manager, service;
    int rounds, round, ok = 1;

    if (argc != 6) {
        fprintf(stderr, "usage: startup_driver ROUNDS RECORD_FILE HOST_EXE JVM_DLL BASE_PATH\n");
        return 1;
    }
    rounds = _wtoi(argv[1]);
    record_file = argv[2];
    if (rounds <= 0 || !QueryPerformanceFrequency(&frequency))
        return 1;
    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return fail("OpenSCManagerW"), 1;
    service = OpenServiceW(manager, SERVICE_NAME, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW"), 1;
    /* Alternate which goes first, so that neither always follows the other. */
    for (round = 0; round < rounds && ok; round++) {
        if (round % 2 == 0)
            ok = service_run(service, round) && host_run(argv[3], argv[4], argv[5], round);
        else
            ok = host_run(argv[3], argv[4], argv[5], round) && service_run(service, round);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}
