/*
 * The yardstick of the service benchmarks: the least a service must do, and
 * the service's work done the plainest way.
 *
 *   minimal_service.exe
 *       registers its control handler, reports RUNNING at once, stops on STOP.
 *   minimal_service.exe BASE LOG RUNTIMES JVMS
 *       the same, and after RUNNING, on a thread of its own, the work the
 *       service does up to the Java application's main: a record of its paths;
 *       the class path from BASE\lib\*.jar, a record per directory entry and
 *       one more per name of over 4 characters; the two options; the runtime
 *       library candidates RUNTIMES, then the virtual machine candidates JVMS
 *       ('|' between paths), each tried with LoadLibraryW until one loads, a
 *       record before and after each try; JNI_CreateJavaVM with the two
 *       options; the main class and its main; main called with
 *       "installbase=BASE\n". A record around each step, as many as the
 *       service writes, each appended with fopen "a" / fputs / fclose.
 *
 * Started as a plain program (not by the SCM), it does the work alone and ends
 * with main's return: the minimal JNI host, which skips the SCM; with LOG "-"
 * it writes no records.
 *
 * It marks the stages that the service's benchmark build finds in its records
 * (bench/stageclock.cpp, bench/startup_bench.py), each where the record that
 * ends it has been written, with the time spent in its records (the open, the
 * write and the close, as the service's logAppend), and a few the service has
 * no record for (service main, RUNNING); it writes them to LOG.stages, in the
 * format of the service's benchmark build, just before it calls main.
 * Built like the service (mingw, static, the same stack reserve); registered
 * and driven by scmctl.exe (create, time-start, time-main).
 */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#include <jni.h>

#define MINIMAL_SERVICE_NAME L"VelmoraneBenchMinimal"
#define CAP 32767
#define OPTION_PREFIX "-Djava.class.path="
#define MAIN_CLASS "com/orvenda/calistren/test/lt/nextgen/Velmorane"
#define MARK_CAP 32

typedef jint(JNICALL *create_fn)(JavaVM **, void **, void *);

static SERVICE_STATUS status;
static SERVICE_STATUS_HANDLE status_handle;
static HANDLE stop_event;

/* The work's inputs (from the command line) and its buffers. */
static const wchar_t *base, *runtimes, *jvms;
static char log_path[MAX_PATH];
static wchar_t class_path[CAP];
static char class_path_ansi[CAP];
static char class_path_option[CAP];
static char argument[CAP];

/* Stage marks: name, counter, time in records so far, records so far. */
static struct {
    const char *name;
    LONGLONG counter, record_ticks;
    long records;
} marks[MARK_CAP];
static int mark_count;
static LONGLONG record_ticks;
static long records;

static void mark(const char *name)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (mark_count == MARK_CAP)
        return;
    marks[mark_count].name = name;
    marks[mark_count].counter = now.QuadPart;
    marks[mark_count].record_ticks = record_ticks;
    marks[mark_count].records = records;
    mark_count++;
}

/* "mark NAME COUNTER RECORD_TICKS RECORDS" lines, between the marks "writing"
 * and "written" of the write-out itself. */
static void write_marks(void)
{
    char path[MAX_PATH + 8];
    LARGE_INTEGER frequency, now;
    FILE *file;
    int i;
    mark("writing");
    if (log_path[0] == '\0' || snprintf(path, sizeof path, "%s.stages", log_path) >= (int)sizeof path ||
        !QueryPerformanceFrequency(&frequency) || (file = fopen(path, "w")) == NULL)
        return;
    fprintf(file, "frequency %lld\n", frequency.QuadPart);
    for (i = 0; i < mark_count; i++)
        fprintf(file, "mark %s %lld %lld %ld\n", marks[i].name, marks[i].counter, marks[i].record_ticks,
                marks[i].records);
    QueryPerformanceCounter(&now);
    fprintf(file, "mark written %lld %lld %ld\n", now.QuadPart, record_ticks, records);
    fclose(file);
}

/* One record: the local time stamp and the text, appended and closed. Its
 * time is that of the open, the write and the close. */
static void record(const char *format, ...)
{
    LARGE_INTEGER from, to;
    char stamp[80];
    time_t now;
    struct tm *local;
    va_list args;
    FILE *file;

    if (log_path[0] == '\0')
        return;
    now = time(NULL);
    local = localtime(&now);
    if (local == NULL || strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S ", local) == 0)
        strcpy(stamp, "00/00/00 00:00:00 ");
    QueryPerformanceCounter(&from);
    file = fopen(log_path, "a");
    if (file != NULL) {
        fputs(stamp, file);
        va_start(args, format);
        vfprintf(file, format, args);
        va_end(args);
        fclose(file);
    }
    QueryPerformanceCounter(&to);
    record_ticks += to.QuadPart - from.QuadPart;
    records++;
}

static void append(wchar_t *dest, const wchar_t *src)
{
    size_t used = wcslen(dest);
    if (used < CAP - 1)
        wcsncat(dest, src, CAP - 1 - used);
}

static void to_ansi(const wchar_t *src, char *dest, int cap)
{
    if (WideCharToMultiByte(CP_ACP, 0, src, -1, dest, cap, NULL, NULL) == 0)
        dest[0] = '\0';
}

static void find_paths(void)
{
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, exe, MAX_PATH);
    record("yardstick starting\n");
    record("executable\n");
    record("%ls\n", exe);
    record("length %lu\n", (unsigned long)n);
    record("base '%ls'\n", base);
    record("root '%ls'\n", base);
    record("paths done\n");
}

static void build_class_path(void)
{
    wchar_t pattern[MAX_PATH * 2];
    WIN32_FIND_DATAW entry;
    char name[MAX_PATH * 3];
    HANDLE find;

    record("listing lib\n");
    _snwprintf(pattern, MAX_PATH * 2, L"%lslib\\*", base);
    pattern[MAX_PATH * 2 - 1] = L'\0';
    class_path[0] = L'\0';
    find = FindFirstFileW(pattern, &entry);
    if (find != INVALID_HANDLE_VALUE) {
        record("lib listed\n");
        do {
            size_t length;
            to_ansi(entry.cFileName, name, sizeof name);
            record("entry: %s\n", name);
            length = strlen(name);
            if (length <= 4)
                continue;
            record("ends: '%s'\n", name + length - 4);
            if (strcmp(name + length - 4, ".jar") == 0) {
                append(class_path, base);
                append(class_path, L"lib\\");
                append(class_path, entry.cFileName);
                append(class_path, L";");
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    to_ansi(class_path, class_path_ansi, CAP);
    snprintf(class_path_option, CAP, OPTION_PREFIX "%s", class_path_ansi);
    record("options:\n");
    record("-Djdk.nativeDigest=false\n");
    record("%s\n\n", class_path_option);
}

/* Tries the '|'-separated candidates in order; the first that loads. */
static HMODULE load_first(const wchar_t *list)
{
    wchar_t path[CAP];
    while (*list) {
        const wchar_t *end = wcschr(list, L'|');
        size_t n = end ? (size_t)(end - list) : wcslen(list);
        HMODULE module;
        if (n >= CAP)
            n = CAP - 1;
        wmemcpy(path, list, n);
        path[n] = L'\0';
        record("trying %ls\n", path);
        module = LoadLibraryW(path);
        record(module ? "loaded %ls\n" : "not loaded %ls\n", path);
        if (module)
            return module;
        list += end ? n + 1 : n;
    }
    return NULL;
}

/* 1 once main has returned, 0 on any failure. */
static DWORD WINAPI work(void *unused)
{
    JavaVMOption options[2];
    JavaVMInitArgs args;
    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    HMODULE jvm;
    create_fn create_vm;
    jclass main_class, string_class;
    jmethodID main_method;
    jobjectArray array;
    (void)unused;

    mark("thread");
    find_paths();
    mark("paths");
    build_class_path();
    mark("classpath");
    load_first(runtimes);
    mark("runtime");
    jvm = load_first(jvms);
    mark("jvm-dll");
    if (jvm == NULL)
        return 0;
    record("looking up JNI_CreateJavaVM\n");
    create_vm = (create_fn)(void *)GetProcAddress(jvm, "JNI_CreateJavaVM");
    if (create_vm == NULL)
        return 0;
    options[0].optionString = "-Djdk.nativeDigest=false";
    options[0].extraInfo = NULL;
    options[1].optionString = class_path_option;
    options[1].extraInfo = NULL;
    args.version = JNI_VERSION_1_6;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    record("creating the VM\n");
    mark("create");
    if (create_vm(&vm, (void **)&env, &args) < 0)
        return 0;
    record("created\n");
    mark("created");
    record("VM ready\n");
    main_class = (*env)->FindClass(env, MAIN_CLASS);
    if (main_class == NULL)
        return 0;
    record("class %s\n", MAIN_CLASS);
    main_method = (*env)->GetStaticMethodID(env, main_class, "main", "([Ljava/lang/String;)V");
    if (main_method == NULL)
        return 0;
    record("method main\n");
    mark("lookups");
    string_class = (*env)->FindClass(env, "java/lang/String");
    array = (*env)->NewObjectArray(env, 1, string_class, NULL);
    snprintf(argument, CAP, "installbase=%ls\n", base);
    (*env)->SetObjectArrayElement(env, array, 0, (*env)->NewStringUTF(env, argument));
    record("calling main\n");
    mark("main");
    write_marks();
    (*env)->CallStaticVoidMethod(env, main_class, main_method, array);
    (*vm)->DetachCurrentThread(vm);
    return 1;
}

static void report(DWORD state)
{
    status.dwCurrentState = state;
    SetServiceStatus(status_handle, &status);
}

static void WINAPI handler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stop_event);
        return;
    }
    SetServiceStatus(status_handle, &status);
}

static void WINAPI service_main(DWORD argc, LPWSTR *argv)
{
    (void)argc;
    (void)argv;
    mark("service-main");
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    status_handle = RegisterServiceCtrlHandlerW(MINIMAL_SERVICE_NAME, handler);
    if (status_handle == NULL)
        return;
    stop_event = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (stop_event == NULL) {
        status.dwWin32ExitCode = GetLastError();
        report(SERVICE_STOPPED);
        return;
    }
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    report(SERVICE_RUNNING);
    mark("running");
    if (base != NULL) {
        /* Not on the dispatcher's threads: HotSpot does not survive being created on the main thread under Wine. */
        HANDLE thread = CreateThread(NULL, 0, work, NULL, 0, NULL);
        if (thread != NULL)
            CloseHandle(thread);
    }
    WaitForSingleObject(stop_event, INFINITE);
    CloseHandle(stop_event);
    status.dwControlsAccepted = 0;
    report(SERVICE_STOPPED);
}

/* Started by the SCM, the service; started as a plain program (the dispatcher
 * can't connect), the work alone, on a thread, and the process ends with
 * main: the JNI host of the old comparison, which skips the SCM. LOG "-"
 * writes no records. */
int wmain(int argc, wchar_t **argv)
{
    static SERVICE_TABLE_ENTRYW table[] = {
        {(LPWSTR)MINIMAL_SERVICE_NAME, service_main},
        {NULL, NULL},
    };
    HANDLE thread;
    DWORD result = 0;

    mark("entry");
    if (argc == 5) {
        base = argv[1];
        runtimes = argv[3];
        jvms = argv[4];
        if (wcscmp(argv[2], L"-") != 0 &&
            WideCharToMultiByte(CP_ACP, 0, argv[2], -1, log_path, MAX_PATH, NULL, NULL) == 0)
            return 1;
    }
    if (StartServiceCtrlDispatcherW(table) || GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ||
        base == NULL)
        return 0;
    thread = CreateThread(NULL, 0, work, NULL, 0, NULL);
    if (thread == NULL)
        return 1;
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    /* The virtual machine's own threads end with the process. */
    ExitProcess(result == 1 ? 0 : 1);
}
