/*
 * Times the service through the Service Control Manager, in one Wine session
 * (benchmarks.py lays out the installations and reads the figures).
 *
 *   service_bench install-minimal EXE_PATH
 *       registers minimal_service.exe (own process, started on demand)
 *   service_bench delete-minimal
 *   service_bench start ROUNDS SETTLE_MS WINEPREFIX
 *       alternates the service and the minimal service, the order swapped every
 *       round: StartServiceW -> SERVICE_RUNNING (the SCM polled as fast as it
 *       answers), then, once the process is idle, its memory counters; then
 *       STOP and the end of the process. The service's installation has no
 *       jvm.dll: "idle" is its launcher having logged its last failed library
 *       and ended, the moment just before a virtual machine would be created.
 *       WINEPREFIX (the session's prefix, a Unix path) picks out the service's
 *       Unix process for the kernel's count of its resident pages.
 *   service_bench stop ROUNDS RECORD_FILE
 *       the service with the benchmark application: start, wait until its main
 *       is entered, then STOP -> SERVICE_STOPPED; the application records how
 *       long its shutdown() took ("shutdown ns=<n>").
 *
 * Prints one line per figure:
 *   running <service|minimal> <round> <ms to RUNNING> <ms until StartServiceW returned>
 *   memory  <service|minimal> <round> <PrivateUsage> <WorkingSetSize> <committed private>
 *           <committed writable image> <RssAnon> <RssFile>                           (bytes)
 *   stop    <round> <ms to STOPPED> <shutdown() ms or -1> <ms until ControlService returned> <its error>
 * or "error <what> <GetLastError>" and exit code 1.
 */
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define SERVICE_NAME L"VelmoraneService"
#define MINIMAL_NAME L"VelmoraneBenchMinimal"
#define SERVICE_EXE "\\VelmoraneService.exe"
#define MINIMAL_EXE "\\minimal_service.exe"
#define LOG_FILE L"c:\\windows\\temp\\velmoraneservice.log"
/* The launcher's last record when no virtual machine library loads. */
#define LAST_PROBE_LINE "Failed to load jvm.dll at "
#define LAST_PROBE_PATH "jdk\\bin\\j9vm\\jvm.dll\r\n"
#define WAIT_MS 120000
#define STOP_WAIT_MS 60000
#define QUIET_MS 250
#define TEXT_CAP (1024 * 1024)
#define PATH_CAP 32767

static LARGE_INTEGER frequency;
static SC_HANDLE manager;

static double since_ms(LARGE_INTEGER from)
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

static int query(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)status, sizeof *status, &needed);
}

/* Polls without pause: every query is a round trip to the SCM, which is the
 * resolution of the figure. Returns the elapsed ms, or a negative value. */
static double wait_state(SC_HANDLE service, DWORD state, LARGE_INTEGER from, DWORD limit_ms,
                         SERVICE_STATUS_PROCESS *status)
{
    for (;;) {
        double t;
        if (!query(service, status))
            return fail("QueryServiceStatusEx"), -2.0;
        t = since_ms(from);
        if (status->dwCurrentState == state)
            return t;
        if (t > limit_ms)
            return -1.0;
    }
}

/* A poller watches for the state on a thread of its own while the request
 * itself (StartServiceW, ControlService) may still be blocked in the SCM. */
struct poller {
    SC_HANDLE service;
    DWORD state;
    DWORD limit_ms;
    LARGE_INTEGER from;
    double elapsed;
    SERVICE_STATUS_PROCESS status;
    HANDLE thread;
};

static DWORD WINAPI poller_main(void *context)
{
    struct poller *p = (struct poller *)context;
    p->elapsed = wait_state(p->service, p->state, p->from, p->limit_ms, &p->status);
    return 0;
}

/* Takes the start time and starts polling; the caller makes its request right after. */
static int poller_start(struct poller *p, SC_HANDLE service, DWORD state, DWORD limit_ms)
{
    p->service = service;
    p->state = state;
    p->limit_ms = limit_ms;
    p->elapsed = -1.0;
    QueryPerformanceCounter(&p->from);
    p->thread = CreateThread(NULL, 0, poller_main, p, 0, NULL);
    return p->thread != NULL ? 1 : fail("CreateThread");
}

static double poller_join(struct poller *p)
{
    WaitForSingleObject(p->thread, INFINITE);
    CloseHandle(p->thread);
    return p->elapsed;
}

/* Reads at most cap-1 bytes of a file that others may be writing; -1 when it can't be opened. */
static long read_shared(const wchar_t *path, char *text, DWORD cap)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD got = 0, total = 0;
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    while (total + 1 < cap && ReadFile(file, text + total, cap - 1 - total, &got, NULL) && got > 0)
        total += got;
    CloseHandle(file);
    text[total] = '\0';
    return (long)total;
}

static int file_size(const wchar_t *path, ULONGLONG *size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    *size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 1;
}

static int ends_with(const char *text, const char *tail)
{
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && memcmp(text + n - m, tail, m) == 0;
}

/* The launcher has ended once its last record stands at the end of the log. The
 * log opens unshared, so it is read only after its size has rested a while: a
 * read while a record is written would cost the service that record. */
static int wait_launcher_done(void)
{
    static char text[TEXT_CAP];
    ULONGLONG size = 0, last = (ULONGLONG)-1;
    DWORD deadline = GetTickCount() + WAIT_MS, rested_since = GetTickCount();

    while ((LONG)(GetTickCount() - deadline) < 0) {
        if (!file_size(LOG_FILE, &size))
            size = (ULONGLONG)-2;
        if (size != last) {
            last = size;
            rested_since = GetTickCount();
        } else if (size != (ULONGLONG)-2 && GetTickCount() - rested_since >= QUIET_MS) {
            /* Only the tail matters; the log of one start is far smaller than the buffer. */
            if (read_shared(LOG_FILE, text, TEXT_CAP) > 0) {
                char *line = strrchr(text, '\n');
                if (line != NULL) {
                    *line = '\0';
                    line = strrchr(text, '\n');
                    line = line != NULL ? line + 1 : text;
                    *(line + strlen(line)) = '\n';
                    if (strlen(line) > 18 && strncmp(line + 18, LAST_PROBE_LINE, strlen(LAST_PROBE_LINE)) == 0 &&
                        ends_with(line, LAST_PROBE_PATH))
                        return 1;
                }
            }
            rested_since = GetTickCount();
        }
        Sleep(5);
    }
    return fail("launcher-not-done");
}

/* Windows' PrivateUsage is the process's commit charge; Wine leaves that counter at 0
 * for other processes. Its nearest equivalent from the address space: committed
 * private regions, plus the writable pages of mapped images (copy-on-write data and
 * .bss, which Windows charges as commit when the image is mapped). */
static int commit_estimate(HANDLE process, ULONGLONG *private_bytes, ULONGLONG *image_writable)
{
    MEMORY_BASIC_INFORMATION info;
    char *address = NULL;
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

    *private_bytes = 0;
    *image_writable = 0;
    while (VirtualQueryEx(process, address, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT) {
            if (info.Type == MEM_PRIVATE)
                *private_bytes += info.RegionSize;
            else if (info.Type == MEM_IMAGE && (info.Protect & writable) != 0)
                *image_writable += info.RegionSize;
        }
        if ((char *)info.BaseAddress + info.RegionSize <= address)
            break;
        address = (char *)info.BaseAddress + info.RegionSize;
    }
    return 1;
}

/* Reads a Linux file through Wine's Z: drive. */
static long read_unix(const char *unix_path, char *text, DWORD cap)
{
    wchar_t path[MAX_PATH * 2];
    if (_snwprintf(path, MAX_PATH * 2, L"Z:%hs", unix_path) < 0)
        return -1;
    path[MAX_PATH * 2 - 1] = L'\0';
    for (wchar_t *c = path; *c; c++)
        if (*c == L'/')
            *c = L'\\';
    return read_shared(path, text, cap);
}

/* The kernel's view of the same process: its resident anonymous and file pages
 * (/proc/<pid>/status). The Unix process is the one whose command line names
 * the executable and whose environment names this session's prefix; exactly one
 * must match. */
static int unix_memory(const char *exe_name, const char *prefix, ULONGLONG *anon_kb, ULONGLONG *file_kb)
{
    static char text[TEXT_CAP], wanted[PATH_CAP];
    WIN32_FIND_DATAW entry;
    HANDLE find;
    char path[64], found_path[64];
    int found = 0;

    if (snprintf(wanted, PATH_CAP, "WINEPREFIX=%s", prefix) >= PATH_CAP)
        return fail("prefix-too-long");
    find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return fail("FindFirstFileW-proc");
    do {
        long n, i;
        int named = 0;
        if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9')
            continue;
        snprintf(path, sizeof path, "/proc/%ls/cmdline", entry.cFileName);
        if ((n = read_unix(path, text, TEXT_CAP)) <= 0)
            continue;
        for (i = 0; i < n; i++)
            if (text[i] == '\0')
                text[i] = ' ';
        if (StrStrIA(text, exe_name) == NULL)
            continue;
        snprintf(path, sizeof path, "/proc/%ls/environ", entry.cFileName);
        if ((n = read_unix(path, text, TEXT_CAP)) <= 0)
            continue;
        for (i = 0; i < n; i += (long)strlen(text + i) + 1)
            if (strcmp(text + i, wanted) == 0)
                named = 1;
        if (named) {
            found++;
            snprintf(found_path, sizeof found_path, "/proc/%ls/status", entry.cFileName);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    if (found != 1) {
        printf("error unix-process-count %d\n", found);
        return 0;
    }
    if (read_unix(found_path, text, TEXT_CAP) <= 0)
        return fail("read-status");
    {
        const char *anon = strstr(text, "RssAnon:"), *file = strstr(text, "RssFile:");
        if (anon == NULL || file == NULL)
            return fail("status-fields");
        *anon_kb = strtoull(anon + strlen("RssAnon:"), NULL, 10);
        *file_kb = strtoull(file + strlen("RssFile:"), NULL, 10);
    }
    return 1;
}

static int stop_and_wait(SC_HANDLE service, HANDLE process)
{
    SERVICE_STATUS stop_status;
    SERVICE_STATUS_PROCESS status;
    LARGE_INTEGER t0;

    QueryPerformanceCounter(&t0);
    if (!ControlService(service, SERVICE_CONTROL_STOP, &stop_status) && GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT)
        return fail("ControlService");
    if (wait_state(service, SERVICE_STOPPED, t0, STOP_WAIT_MS, &status) < 0)
        return fail("not-stopped");
    if (process != NULL) {
        if (WaitForSingleObject(process, WAIT_MS) != WAIT_OBJECT_0)
            return fail("process-not-ended");
        CloseHandle(process);
    }
    return 1;
}

static int start_run(const wchar_t *name, const char *exe_name, const char *side, int round, DWORD settle_ms,
                     const char *prefix, int is_service)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    PROCESS_MEMORY_COUNTERS_EX counters;
    ULONGLONG commit_private, commit_image, anon_kb, file_kb;
    struct poller poll;
    HANDLE process;
    double returned, running;

    if (service == NULL)
        return fail("OpenServiceW");
    if (is_service && !DeleteFileW(LOG_FILE) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return fail("DeleteFileW-log");
    if (!poller_start(&poll, service, SERVICE_RUNNING, WAIT_MS))
        return 0;
    if (!StartServiceW(service, 0, NULL))
        return fail("StartServiceW");
    returned = since_ms(poll.from);
    running = poller_join(&poll);
    if (running < 0)
        return fail("not-running");
    printf("running %s %d %.3f %.3f\n", side, round, running, returned);
    fflush(stdout);

    process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, poll.status.dwProcessId);
    if (process == NULL)
        return fail("OpenProcess");
    if (is_service && !wait_launcher_done())
        return 0;
    Sleep(settle_ms);
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters))
        return fail("GetProcessMemoryInfo");
    if (!commit_estimate(process, &commit_private, &commit_image) ||
        !unix_memory(exe_name, prefix, &anon_kb, &file_kb))
        return 0;
    printf("memory %s %d %llu %llu %llu %llu %llu %llu\n", side, round, (unsigned long long)counters.PrivateUsage,
           (unsigned long long)counters.WorkingSetSize, commit_private, commit_image, anon_kb * 1024, file_kb * 1024);
    fflush(stdout);

    if (!stop_and_wait(service, process))
        return 0;
    CloseServiceHandle(service);
    return 1;
}

static int cmd_start(int rounds, DWORD settle_ms, const char *prefix)
{
    int round;
    for (round = 0; round < rounds; round++) {
        int ok;
        /* Swap the order every round, so that neither side always follows the other. */
        if (round % 2 == 0)
            ok = start_run(SERVICE_NAME, SERVICE_EXE, "service", round, settle_ms, prefix, 1) &&
                 start_run(MINIMAL_NAME, MINIMAL_EXE, "minimal", round, settle_ms, prefix, 0);
        else
            ok = start_run(MINIMAL_NAME, MINIMAL_EXE, "minimal", round, settle_ms, prefix, 0) &&
                 start_run(SERVICE_NAME, SERVICE_EXE, "service", round, settle_ms, prefix, 1);
        if (!ok)
            return 0;
    }
    return 1;
}

/* The number after "shutdown ns=" in the record, in ms; -1 when absent. */
static double shutdown_ms(const wchar_t *record)
{
    static char text[TEXT_CAP];
    const char *at;
    if (read_shared(record, text, TEXT_CAP) <= 0 || (at = strstr(text, "shutdown ns=")) == NULL)
        return -1.0;
    return strtod(at + strlen("shutdown ns="), NULL) / 1e6;
}

static int main_entered(const wchar_t *record)
{
    static char text[TEXT_CAP];
    return read_shared(record, text, TEXT_CAP) > 0 && strstr(text, "main entered\n") != NULL;
}

static int cmd_stop(int rounds, const wchar_t *record)
{
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    int round;

    if (service == NULL)
        return fail("OpenServiceW");
    for (round = 0; round < rounds; round++) {
        SERVICE_STATUS stop_status;
        SERVICE_STATUS_PROCESS status;
        struct poller poll;
        HANDLE process;
        DWORD deadline, control_error = 0;
        double returned, stopped;

        if (!DeleteFileW(record) && GetLastError() != ERROR_FILE_NOT_FOUND)
            return fail("DeleteFileW-record");
        if (!StartServiceW(service, 0, NULL))
            return fail("StartServiceW");
        deadline = GetTickCount() + WAIT_MS;
        while (!main_entered(record)) {
            if ((LONG)(GetTickCount() - deadline) >= 0)
                return fail("main-not-entered");
            Sleep(5);
        }
        /* Let the start-up's stragglers (class loading, the launcher's end) settle first. */
        Sleep(500);
        if (!query(service, &status))
            return fail("QueryServiceStatusEx");
        process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);

        if (!poller_start(&poll, service, SERVICE_STOPPED, STOP_WAIT_MS))
            return 0;
        /* Wine answers a STOP whose handler outlasts its wait with a request time-out;
         * the stop goes on all the same. */
        if (!ControlService(service, SERVICE_CONTROL_STOP, &stop_status)) {
            control_error = GetLastError();
            if (control_error != ERROR_SERVICE_REQUEST_TIMEOUT)
                return fail("ControlService");
        }
        returned = since_ms(poll.from);
        stopped = poller_join(&poll);
        if (stopped < 0)
            return fail("not-stopped");
        if (process != NULL) {
            if (WaitForSingleObject(process, WAIT_MS) != WAIT_OBJECT_0)
                return fail("process-not-ended");
            CloseHandle(process);
        }
        printf("stop %d %.3f %.3f %.3f %lu\n", round, stopped, shutdown_ms(record), returned, control_error);
        fflush(stdout);
    }
    CloseServiceHandle(service);
    return 1;
}

static int cmd_install_minimal(const wchar_t *exe)
{
    static wchar_t quoted[PATH_CAP];
    SC_HANDLE service;
    if (_snwprintf(quoted, PATH_CAP, L"\"%ls\"", exe) < 0)
        return fail("path-too-long");
    quoted[PATH_CAP - 1] = L'\0';
    service = CreateServiceW(manager, MINIMAL_NAME, MINIMAL_NAME, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, quoted, NULL, NULL, NULL, NULL, NULL);
    if (service == NULL && GetLastError() != ERROR_SERVICE_EXISTS)
        return fail("CreateServiceW");
    if (service != NULL)
        CloseServiceHandle(service);
    printf("installed\n");
    return 1;
}

static int cmd_delete_minimal(void)
{
    SC_HANDLE service = OpenServiceW(manager, MINIMAL_NAME, DELETE);
    if (service == NULL)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 1 : fail("OpenServiceW");
    if (!DeleteService(service))
        fail("DeleteService");
    CloseServiceHandle(service);
    return 1;
}

int wmain(int argc, wchar_t **argv)
{
    int ok;

    if (argc < 2 || !QueryPerformanceFrequency(&frequency)) {
        fprintf(stderr, "usage: service_bench install-minimal EXE | delete-minimal | start ROUNDS SETTLE_MS WINEPREFIX"
                        " | stop ROUNDS RECORD_FILE\n");
        return 1;
    }
    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL)
        return fail("OpenSCManagerW"), 1;
    if (wcscmp(argv[1], L"install-minimal") == 0 && argc == 3)
        ok = cmd_install_minimal(argv[2]);
    else if (wcscmp(argv[1], L"delete-minimal") == 0 && argc == 2)
        ok = cmd_delete_minimal();
    else if (wcscmp(argv[1], L"start") == 0 && argc == 5 && _wtoi(argv[2]) > 0) {
        static char prefix[PATH_CAP];
        if (WideCharToMultiByte(CP_UTF8, 0, argv[4], -1, prefix, PATH_CAP, NULL, NULL) == 0)
            ok = fail("prefix");
        else
            ok = cmd_start(_wtoi(argv[2]), (DWORD)_wtoi(argv[3]), prefix);
    }
    else if (wcscmp(argv[1], L"stop") == 0 && argc == 4 && _wtoi(argv[2]) > 0)
        ok = cmd_stop(_wtoi(argv[2]), argv[3]);
    else {
        fprintf(stderr, "service_bench: bad arguments\n");
        ok = 0;
    }
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}
