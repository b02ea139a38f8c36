/*
 * scmctl time-*: the benchmarks' timings through the Service Control Manager,
 * in one Wine session (bench/benchmarks.py and bench/startup_bench.py lay out
 * the installations and read the figures). Times come from the performance
 * counter; the SCM is polled without pause, so that each query's round trip is
 * the resolution of a figure.
 *
 *   scmctl time-start ROUNDS SETTLE_MS WINEPREFIX NAME EXE LOG LAST  YARDSTICK YARDSTICK_EXE YARDSTICK_LOG YARDSTICK_LAST
 *       alternates the service NAME and the yardstick (EXE, YARDSTICK_EXE:
 *       their file names), the order swapped every round: StartServiceW ->
 *       SERVICE_RUNNING, then, once the process is idle, its memory counters;
 *       then STOP and the end of the process. Neither installation has a
 *       jvm.dll: "idle" is a side's last record, LAST, standing at the end of
 *       its log LOG, the moment just before a virtual machine would be
 *       created. WINEPREFIX (the session's prefix, a Unix path) picks out the
 *       Unix process for the kernel's count of its resident pages.
 *   scmctl time-stop NAME ROUNDS RECORD_FILE
 *       the service with the benchmark application: start, wait until its main
 *       is entered, then STOP -> SERVICE_STOPPED; the application records how
 *       long its shutdown() took ("shutdown ns=<n>").
 *   scmctl time-main ROUNDS RECORD_FILE NAME LOG YARDSTICK YARDSTICK_LOG HOST_EXE HOST_ARGS
 *       in every round the service NAME, the yardstick service and (unless
 *       HOST_EXE is "-") the plain program HOST_EXE HOST_ARGS started with
 *       CreateProcessW, in an order that turns every round: start -> the Java
 *       application's main entered, that is its record file appearing (polled
 *       every millisecond). For the services also when their log file first
 *       appeared, and what they wrote to LOG.stages, if anything (the
 *       service's benchmark build, bench/stageclock.cpp: its entry and every
 *       record; the yardstick: its stage marks), against the start request.
 *
 * A start or a stop that Wine's manager refuses in passing (the codes of the
 * test equipment's table, wine_refusal()) is tried once more at once and
 * printed as "refused"; refused twice, it fails as any other error. A start's
 * timing starts again with the second request.
 *
 * Prints one line per figure:
 *   running <service|yardstick> <round> <ms to RUNNING> <ms until StartServiceW returned>
 *   memory  <service|yardstick> <round> <PrivateUsage> <WorkingSetSize> <committed private>
 *           <committed writable image> <RssAnon> <RssFile>                           (bytes)
 *   stop    <round> <ms to STOPPED> <shutdown() ms or -1> <ms until ControlService returned> <its error>
 *   <service|yardstick|host> <round> <ms to main entered>
 *   <service|yardstick>-log <round> <ms to the log's first record>
 *   stage <service|yardstick> <round> <name> <ms> <ms in records so far> <records so far>
 *   record <service|yardstick> <round> <ms> <ms in it> <text>        (each record noted)
 *   refused <service|yardstick> <round> call=C error=N      (Wine refused a start or a stop
 *                                                            in passing; tried again once)
 * or error=N call=WHAT and exit code 2.
 */
#define PSAPI_VERSION 2
#include "scmctl.h"

#include <psapi.h>
#include <shlwapi.h>

#define WAIT_MS 120000
#define STOP_WAIT_MS 60000
#define QUIET_MS 250
#define TEXT_CAP (1024 * 1024)
#define RECORD_CAP 4096

static LARGE_INTEGER frequency;

static double since_ms(LARGE_INTEGER from)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - from.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

/* Polls without pause; returns the elapsed ms, or a negative value. */
static double wait_state(SC_HANDLE service, DWORD state, LARGE_INTEGER from, DWORD limit_ms,
                         SERVICE_STATUS_PROCESS *status)
{
    for (;;) {
        double t;
        if (!query_process(service, status))
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
    return p->thread != NULL ? 1 : (fail("CreateThread"), 0);
}

static double poller_join(struct poller *p)
{
    WaitForSingleObject(p->thread, INFINITE);
    CloseHandle(p->thread);
    return p->elapsed;
}

static int delete_if_there(const wchar_t *path)
{
    return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : (fail("DeleteFileW"), 0);
}

/* After a failed StartServiceW: whether it was the first of Wine's passing
 * refusals, to be tried once more (printed as "refused"). Otherwise the error is
 * left for fail(). */
static int refused_once(const char *label, int round, int *attempts)
{
    DWORD error = GetLastError();
    if (!wine_refusal("StartServiceW", error) || (*attempts)++ > 0) {
        SetLastError(error);
        return 0;
    }
    printf("refused %s %d call=StartServiceW error=%lu\n", label, round, error);
    fflush(stdout);
    return 1;
}

static void print_refused_stop(const char *label, int round, DWORD refused)
{
    if (refused != 0) {
        printf("refused %s %d call=ControlService error=%lu\n", label, round, refused);
        fflush(stdout);
    }
}

static int file_size(const wchar_t *path, ULONGLONG *size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    *size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 1;
}

/* The launcher has ended once its last record stands at the end of the log. The
 * log opens unshared, so it is read only after its size has rested a while: a
 * read while a record is written would cost the service that record. */
static int wait_launcher_done(const wchar_t *log, const char *last_record)
{
    static char text[TEXT_CAP];
    ULONGLONG size = 0, last = (ULONGLONG)-1;
    DWORD deadline = GetTickCount() + WAIT_MS, rested_since = GetTickCount();
    size_t tail = strlen(last_record);

    while ((LONG)(GetTickCount() - deadline) < 0) {
        if (!file_size(log, &size))
            size = (ULONGLONG)-2;
        if (size != last) {
            last = size;
            rested_since = GetTickCount();
        } else if (size != (ULONGLONG)-2 && GetTickCount() - rested_since >= QUIET_MS) {
            /* The last line: a stamp of 18 characters, the record, CR LF. */
            long n = read_shared(log, text, TEXT_CAP);
            if (n >= (long)(tail + 20) && memcmp(text + n - tail - 2, last_record, tail) == 0 &&
                memcmp(text + n - 2, "\r\n", 2) == 0 && (n == (long)(tail + 20) || text[n - tail - 21] == '\n'))
                return 1;
            rested_since = GetTickCount();
        }
        Sleep(5);
    }
    return fail("launcher-not-done"), 0;
}

/* Windows' PrivateUsage is the process's commit charge; Wine leaves that counter at 0
 * for other processes. Its nearest equivalent from the address space: committed
 * private regions, plus the writable pages of mapped images (copy-on-write data and
 * .bss, which Windows charges as commit when the image is mapped). */
static void commit_estimate(HANDLE process, ULONGLONG *private_bytes, ULONGLONG *image_writable)
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
    char path[64], found_path[64], named_exe[MAX_PATH];
    int found = 0;

    if (snprintf(wanted, PATH_CAP, "WINEPREFIX=%s", prefix) >= PATH_CAP ||
        snprintf(named_exe, MAX_PATH, "\\%s", exe_name) >= MAX_PATH)
        return fail("name-too-long"), 0;
    find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return fail("FindFirstFileW-proc"), 0;
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
        if (StrStrIA(text, named_exe) == NULL)
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
        printf("error=0 call=unix-process-count found=%d\n", found);
        return 0;
    }
    if (read_unix(found_path, text, TEXT_CAP) <= 0)
        return fail("read-status"), 0;
    {
        const char *anon = strstr(text, "RssAnon:"), *file = strstr(text, "RssFile:");
        if (anon == NULL || file == NULL)
            return fail("status-fields"), 0;
        *anon_kb = strtoull(anon + strlen("RssAnon:"), NULL, 10);
        *file_kb = strtoull(file + strlen("RssFile:"), NULL, 10);
    }
    return 1;
}

/* STOP, SERVICE_STOPPED and the end of the process (when it could be opened). Wine
 * answers a STOP whose handler outlasts its wait with a request time-out; the stop
 * goes on all the same. */
static int stop_and_wait(SC_HANDLE service, HANDLE process, const char *label, int round)
{
    SERVICE_STATUS stop_status;
    SERVICE_STATUS_PROCESS status;
    LARGE_INTEGER t0;
    DWORD refused;

    QueryPerformanceCounter(&t0);
    if (!stop_service(service, &stop_status, &refused) && GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT)
        return fail("ControlService"), 0;
    print_refused_stop(label, round, refused);
    if (wait_state(service, SERVICE_STOPPED, t0, STOP_WAIT_MS, &status) < 0)
        return fail("not-stopped"), 0;
    return process == NULL || WaitForSingleObject(process, WAIT_MS) == WAIT_OBJECT_0 ? 1
                                                                                       : (fail("process-not-ended"), 0);
}

static HANDLE open_service_process(SC_HANDLE service, DWORD access)
{
    SERVICE_STATUS_PROCESS status;
    return query_process(service, &status) ? OpenProcess(access, FALSE, status.dwProcessId) : NULL;
}

/* One side of time-start: the service or the yardstick. */
struct side {
    const char *label;
    const wchar_t *name;
    char exe[MAX_PATH];
    const wchar_t *log;
    char last[RECORD_CAP];
};

static int start_run(SC_HANDLE manager, const struct side *side, int round, DWORD settle_ms, const char *prefix)
{
    SC_HANDLE service = OpenServiceW(manager, side->name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    PROCESS_MEMORY_COUNTERS_EX counters;
    ULONGLONG commit_private, commit_image, anon_kb, file_kb;
    struct poller poll;
    HANDLE process;
    double returned, running, refused_ms = 0.0;
    int ok, attempts = 0;

    if (service == NULL)
        return fail("OpenServiceW"), 0;
    if (!delete_if_there(side->log) || !poller_start(&poll, service, SERVICE_RUNNING, WAIT_MS))
        return 0;
    while (!StartServiceW(service, 0, NULL)) {
        if (!refused_once(side->label, round, &attempts))
            return fail("StartServiceW"), 0;
        /* The poller goes on; the times count from the second request. */
        refused_ms = since_ms(poll.from);
    }
    returned = since_ms(poll.from) - refused_ms;
    running = poller_join(&poll);
    if (running < 0)
        return fail("not-running"), 0;
    running -= refused_ms;
    printf("running %s %d %.3f %.3f\n", side->label, round, running, returned);
    fflush(stdout);

    process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, poll.status.dwProcessId);
    if (process == NULL)
        return fail("OpenProcess"), 0;
    if (!wait_launcher_done(side->log, side->last))
        return 0;
    Sleep(settle_ms);
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters))
        return fail("GetProcessMemoryInfo"), 0;
    commit_estimate(process, &commit_private, &commit_image);
    if (!unix_memory(side->exe, prefix, &anon_kb, &file_kb))
        return 0;
    printf("memory %s %d %llu %llu %llu %llu %llu %llu\n", side->label, round,
           (unsigned long long)counters.PrivateUsage, (unsigned long long)counters.WorkingSetSize, commit_private,
           commit_image, anon_kb * 1024, file_kb * 1024);
    fflush(stdout);

    ok = stop_and_wait(service, process, side->label, round);
    CloseHandle(process);
    CloseServiceHandle(service);
    return ok;
}

static int parse_side(struct side *side, const char *label, const wchar_t **argv)
{
    side->label = label;
    side->name = argv[0];
    side->log = argv[2];
    return WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, side->exe, MAX_PATH, NULL, NULL) &&
           WideCharToMultiByte(CP_ACP, 0, argv[3], -1, side->last, RECORD_CAP, NULL, NULL);
}

static int time_start(SC_HANDLE manager, const wchar_t **argv)
{
    static char prefix[PATH_CAP];
    static struct side sides[2];
    DWORD rounds = 0, settle_ms = 0;
    int round, turn, ok = 1;

    if (!parse_number(argv[1], &rounds) || !parse_number(argv[2], &settle_ms) ||
        !WideCharToMultiByte(CP_UTF8, 0, argv[3], -1, prefix, PATH_CAP, NULL, NULL) ||
        !parse_side(&sides[0], "service", argv + 4) || !parse_side(&sides[1], "yardstick", argv + 8))
        return EXIT_USAGE;
    for (round = 0; round < (int)rounds && ok; round++)
        /* Swap the order every round, so that neither side always follows the other. */
        for (turn = 0; turn < 2 && ok; turn++)
            ok = start_run(manager, &sides[turn ^ (round % 2)], round, settle_ms, prefix);
    return ok ? EXIT_OK : EXIT_FAILED;
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

static int time_stop(SC_HANDLE service, DWORD rounds, const wchar_t *record)
{
    DWORD round;

    for (round = 0; round < rounds; round++) {
        SERVICE_STATUS stop_status;
        struct poller poll;
        HANDLE process;
        DWORD deadline, control_error = 0, refused;
        double returned, stopped;

        int attempts = 0;

        if (!delete_if_there(record))
            return EXIT_FAILED;
        while (!StartServiceW(service, 0, NULL))
            if (!refused_once("service", (int)round, &attempts))
                return fail("StartServiceW");
        deadline = GetTickCount() + WAIT_MS;
        while (!main_entered(record)) {
            if ((LONG)(GetTickCount() - deadline) >= 0)
                return fail("main-not-entered");
            Sleep(5);
        }
        /* Let the start-up's stragglers (class loading, the launcher's end) settle first. */
        Sleep(500);
        process = open_service_process(service, SYNCHRONIZE);

        if (!poller_start(&poll, service, SERVICE_STOPPED, STOP_WAIT_MS))
            return EXIT_FAILED;
        if (!stop_service(service, &stop_status, &refused)) {
            control_error = GetLastError();
            if (control_error != ERROR_SERVICE_REQUEST_TIMEOUT)
                return fail("ControlService");
        }
        print_refused_stop("service", (int)round, refused);
        returned = since_ms(poll.from);
        stopped = poller_join(&poll);
        if (stopped < 0)
            return fail("not-stopped");
        if (process != NULL) {
            if (WaitForSingleObject(process, WAIT_MS) != WAIT_OBJECT_0)
                return fail("process-not-ended");
            CloseHandle(process);
        }
        printf("stop %lu %.3f %.3f %.3f %lu\n", round, stopped, shutdown_ms(record), returned, control_error);
        fflush(stdout);
    }
    return EXIT_OK;
}

/* Waits for the record file; its elapsed time since `from`, or a negative value. When
 * log is given, also notes when that log file first appeared. */
static double wait_for_main(const wchar_t *record, LARGE_INTEGER from, const wchar_t *log, double *log_seen)
{
    for (;;) {
        double t = since_ms(from);
        if (log != NULL && *log_seen < 0 && GetFileAttributesW(log) != INVALID_FILE_ATTRIBUTES)
            *log_seen = t;
        if (GetFileAttributesW(record) != INVALID_FILE_ATTRIBUTES)
            return t;
        if (t > WAIT_MS)
            return -1.0;
        Sleep(1);
    }
}

/* The whole of a file others may be writing, in a buffer of its own that the
 * caller frees; NULL when it can't be read. */
static char *read_whole(const wchar_t *path)
{
    ULONGLONG size;
    char *text;
    if (!file_size(path, &size) || size >= 0x40000000)
        return NULL;
    text = (char *)malloc((size_t)size + 1);
    if (text != NULL && read_shared(path, text, (DWORD)size + 1) < 0) {
        free(text);
        return NULL;
    }
    return text;
}

/* Prints what LOG.stages holds ("frequency F", then "mark NAME COUNTER
 * RECORD_TICKS RECORDS" and "record COUNTER COUNTER_AFTER TEXT" lines) against
 * the start request at t0. */
static void print_stages(const char *label, int round, const wchar_t *stages, LARGE_INTEGER t0)
{
    char name[64];
    long long counter, ticks, records, frequency = 0;
    char *text = read_whole(stages), *line, *next;
    int used;

    if (text == NULL)
        return;
    if (sscanf(text, "frequency %lld", &frequency) != 1 || frequency <= 0) {
        free(text);
        return;
    }
    for (line = text; line != NULL && *line != '\0'; line = next) {
        next = strchr(line, '\n');
        if (next != NULL)
            *next++ = '\0';
        if (*line != '\0' && line[strlen(line) - 1] == '\r')
            line[strlen(line) - 1] = '\0';
        if (sscanf(line, "mark %63s %lld %lld %lld", name, &counter, &ticks, &records) == 4)
            printf("stage %s %d %s %.4f %.4f %lld\n", label, round, name,
                   (double)(counter - t0.QuadPart) * 1000.0 / (double)frequency,
                   (double)ticks * 1000.0 / (double)frequency, records);
        else if (sscanf(line, "record %lld %lld %n", &counter, &ticks, &used) == 2)
            printf("record %s %d %.4f %.4f %s\n", label, round,
                   (double)(counter - t0.QuadPart) * 1000.0 / (double)frequency,
                   (double)(ticks - counter) * 1000.0 / (double)frequency, line + used);
    }
    free(text);
}

static int main_run_service(SC_HANDLE manager, const char *label, const wchar_t *name, const wchar_t *log,
                            const wchar_t *record, int round)
{
    static wchar_t stages[MAX_PATH + 8];
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    LARGE_INTEGER t0;
    HANDLE process;
    double t, log_seen = -1.0;
    int ok, attempts = 0;

    if (service == NULL)
        return fail("OpenServiceW"), 0;
    if (_snwprintf(stages, MAX_PATH + 8, L"%ls.stages", log) < 0)
        return fail("log-path-too-long"), 0;
    for (;;) {
        /* The log's first record marks the start of the thread that does the work. */
        if (!delete_if_there(record) || !delete_if_there(log) || !delete_if_there(stages))
            return 0;
        QueryPerformanceCounter(&t0);
        if (StartServiceW(service, 0, NULL))
            break;
        if (!refused_once(label, round, &attempts))
            return fail("StartServiceW"), 0;
    }
    t = wait_for_main(record, t0, log, &log_seen);
    if (t < 0)
        return fail("service-main-not-entered"), 0;
    printf("%s %d %.3f\n", label, round, t);
    printf("%s-log %d %.3f\n", label, round, log_seen);
    print_stages(label, round, stages, t0);
    fflush(stdout);
    process = open_service_process(service, SYNCHRONIZE);
    ok = stop_and_wait(service, process, label, round);
    if (process != NULL)
        CloseHandle(process);
    CloseServiceHandle(service);
    return ok;
}

static int main_run_host(const wchar_t *record, const wchar_t *host_exe, const wchar_t *host_args, int round)
{
    static wchar_t command_line[PATH_CAP];
    STARTUPINFOW startup;
    PROCESS_INFORMATION info;
    LARGE_INTEGER t0;
    DWORD code = 1;
    double t;

    if (_snwprintf(command_line, PATH_CAP, L"\"%ls\" %ls", host_exe, host_args) < 0)
        return fail("command-line-too-long"), 0;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!delete_if_there(record))
        return 0;
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(host_exe, command_line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return fail("CreateProcessW"), 0;
    t = wait_for_main(record, t0, NULL, NULL);
    if (t < 0)
        return fail("host-main-not-entered"), 0;
    printf("host %d %.3f\n", round, t);
    fflush(stdout);
    if (WaitForSingleObject(info.hProcess, WAIT_MS) != WAIT_OBJECT_0)
        return fail("host-not-ended"), 0;
    if (!GetExitCodeProcess(info.hProcess, &code) || code != 0) {
        printf("error=0 call=host-exit-code code=%lu\n", code);
        return 0;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 1;
}

static int time_main(SC_HANDLE manager, const wchar_t **argv)
{
    const wchar_t *record = argv[2];
    DWORD rounds = 0;
    int round, turn, sides, ok = 1;

    if (!parse_number(argv[1], &rounds))
        return EXIT_USAGE;
    sides = wcscmp(argv[7], L"-") == 0 ? 2 : 3;
    /* The order turns every round, so that no side always follows another. */
    for (round = 0; round < (int)rounds && ok; round++)
        for (turn = 0; turn < sides && ok; turn++)
            switch ((turn + round) % sides) {
            case 0:
                ok = main_run_service(manager, "service", argv[3], argv[4], record, round);
                break;
            case 1:
                ok = main_run_service(manager, "yardstick", argv[5], argv[6], record, round);
                break;
            default:
                ok = main_run_host(record, argv[7], argv[8], round);
                break;
            }
    return ok ? EXIT_OK : EXIT_FAILED;
}

int cmd_time(SC_HANDLE manager, const wchar_t *what, int argc, const wchar_t **argv)
{
    SC_HANDLE service;
    DWORD rounds = 0;
    int rc;

    if (!QueryPerformanceFrequency(&frequency))
        return fail("QueryPerformanceFrequency");
    if (wcscmp(what, L"start") == 0 && argc == 12)
        return time_start(manager, argv);
    if (wcscmp(what, L"main") == 0 && argc == 9)
        return time_main(manager, argv);
    if (wcscmp(what, L"stop") != 0 || argc != 4 || !parse_number(argv[2], &rounds)) {
        fprintf(stderr, "scmctl: time-start ROUNDS SETTLE_MS WINEPREFIX NAME EXE LOG LAST YARDSTICK YARDSTICK_EXE"
                        " YARDSTICK_LOG YARDSTICK_LAST | time-stop NAME ROUNDS RECORD"
                        " | time-main ROUNDS RECORD NAME LOG YARDSTICK YARDSTICK_LOG HOST_EXE HOST_ARGS\n");
        return EXIT_USAGE;
    }
    service = OpenServiceW(manager, argv[1], SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL)
        return fail("OpenServiceW");
    rc = time_stop(service, rounds, argv[3]);
    CloseServiceHandle(service);
    return rc;
}
