// Event log entries. Each is written whole at once, with its own
// registration of the source: the service writes a handful of them in its
// life, and keeps no handle open across its threads.
#include "service/eventlog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "launcher/remedies.h"
#include "launcher/java_exception.h"
#include "launcher/paths.h"
#include "launcher/records.h"
#include "launcher/shutdown.h"
#include "launcher/thread_dump.h"
#include "log/log.h"
#include "service/messages.h"
#include "service/module_path.h"

EventReportFunction eventReport = writeEventLogEntry;

static volatile LONG eventsOn = 0;
static volatile LONG logRefusalReported = 0;
static SRWLOCK framesLock = SRWLOCK_INIT;
static char shutdownFrames[EVENT_FRAME_LIMIT][THREAD_DUMP_TEXT_CAPACITY];

// Bits 31 and 30 of a message's number are its severity.
static WORD eventType(DWORD id)
{
    switch (id >> 30) {
    case 3:
        return EVENTLOG_ERROR_TYPE;
    case 2:
        return EVENTLOG_WARNING_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

void writeEventLogEntry(WORD type, DWORD id, WORD count, const wchar_t **inserts)
{
    HANDLE source = RegisterEventSourceW(NULL, EVENT_SOURCE_NAME);
    if (source == NULL)
        return;
    ReportEventW(source, type, 0, id, NULL, count, 0, inserts, NULL);
    DeregisterEventSource(source);
}

void eventsBegin(void)
{
    logRefusalReported = 0;
    AcquireSRWLockExclusive(&framesLock);
    memset(shutdownFrames, 0, sizeof shutdownFrames);
    ReleaseSRWLockExclusive(&framesLock);
    InterlockedExchange(&eventsOn, 1);
}

bool registerEventSource(const wchar_t *modulePath)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    DWORD size = (DWORD)((wcsnlen(modulePath, MODULE_PATH_CAPACITY - 1) + 1) * sizeof(wchar_t));
    bool done = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, (const BYTE *)modulePath, size) ==
                    ERROR_SUCCESS &&
                RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, (const BYTE *)&types, sizeof types) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    return done;
}

bool removeEventSource(void)
{
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY) == ERROR_SUCCESS;
}

// ANSI text (a record's, a path's, a Java text's) as an insert: one line,
// control and format characters blanked as in the log, cut to
// EVENT_INSERT_CAPACITY. The Event Viewer expands "%n" and "%%n" even inside
// an insert and knows no escape for them there (a doubled '%' is none), so
// each '%' becomes U+FF05 FULLWIDTH PERCENT SIGN: it reads as a percent sign,
// expands to nothing, and takes the one code unit the '%' took.
static void insertText(const char *text, wchar_t *insert)
{
    wchar_t wide[EVENT_INSERT_CAPACITY];
    // Every byte gives at most one wide character.
    int bytes = (int)ansiCutLength(text, EVENT_INSERT_CAPACITY - 1);
    int length = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, text, bytes, wide, EVENT_INSERT_CAPACITY - 1) : 0;
    makePrintable(wide, length > 0 ? (size_t)length : 0, insert, EVENT_INSERT_CAPACITY);
    for (wchar_t *at = insert; *at != L'\0'; at++)
        if (*at == L'%')
            *at = L'\xFF05';
}

// Writes event `id` as `type` with up to EVENT_INSERT_LIMIT ANSI texts as its inserts.
static void reportTextsAs(WORD type, DWORD id, WORD count, const char *const *texts)
{
    if (eventsOn == 0 || count > EVENT_INSERT_LIMIT)
        return;
    static wchar_t inserts[EVENT_INSERT_LIMIT][EVENT_INSERT_CAPACITY];
    static SRWLOCK insertsLock = SRWLOCK_INIT;
    AcquireSRWLockExclusive(&insertsLock);
    const wchar_t *pointers[EVENT_INSERT_LIMIT];
    for (WORD index = 0; index < count; index++) {
        insertText(texts[index], inserts[index]);
        pointers[index] = inserts[index];
    }
    eventReport(type, id, count, pointers);
    ReleaseSRWLockExclusive(&insertsLock);
}

// The same as the type its message table entry gives it.
static void reportTexts(DWORD id, WORD count, const char *const *texts)
{
    reportTextsAs(eventType(id), id, count, texts);
}

static void dropLineFeed(char *text, size_t capacity)
{
    size_t end = strnlen(text, capacity);
    if (end > 0 && text[end - 1] == '\n')
        text[end - 1] = '\0';
}

// A record as the log has it, less its line feed.
static void formatRecord(char *text, size_t capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, capacity, format, args);
    va_end(args);
    if (length < 0)
        text[0] = '\0';
    dropLineFeed(text, capacity);
}

// The record the start stopped at, as the log wrote it: the stage's own, or
// for no jvm.dll the last candidate's.
static const char *failureRecord(LaunchFailure failure, const LaunchContext *launch, char *text, size_t capacity)
{
    if (failure == FAILURE_NO_JVM_LIBRARY) {
        formatRecord(text, capacity, RECORD_FAILED_JVM, launch->paths.jvmLibraryPathAnsi);
        return RECORD_FAILED_JVM;
    }
    const char *format = failureRecordOf(failure, &launch->results, text, capacity);
    dropLineFeed(text, capacity);
    return format;
}

void reportStartFailure(const LaunchContext *launch, LaunchFailure failure)
{
    if (failure == LAUNCH_NOT_FAILED || failure > LAUNCH_FAILURE_LAST)
        return;
    const LaunchResults *results = &launch->results;
    static char record[ANSI_CAPACITY + 64];
    const char *format = failureRecord(failure, launch, record, sizeof record);
    const char *exception = results->jvm.exception;
    const char *remedy = exception[0] != '\0' && isNewerJavaException(exception)
                             ? NEWER_JAVA_REMEDY
                             : failureRemedy(format, (int)results->jvm.createResult);
    if (remedy == NULL)
        remedy = "";
    if (failure == FAILURE_MAIN_THREW) {
        const char *texts[] = {exception, remedy};
        reportTexts(EVENT_MAIN_THREW, 2, texts);
        return;
    }
    static char exceptionRecord[EXCEPTION_TEXT_CAPACITY + 32];
    exceptionRecord[0] = '\0';
    if (exception[0] != '\0')
        formatRecord(exceptionRecord, sizeof exceptionRecord, RECORD_JAVA_EXCEPTION, exception);
    const char *texts[] = {record, exceptionRecord, remedy};
    reportTexts(EVENT_START_NO_JVM_LIBRARY + (failure - FAILURE_NO_JVM_LIBRARY), 3, texts);
}

void keepShutdownFrame(int index, const char *frame)
{
    if (index < 0 || index >= EVENT_FRAME_LIMIT)
        return;
    AcquireSRWLockExclusive(&framesLock);
    lstrcpynA(shutdownFrames[index], frame, THREAD_DUMP_TEXT_CAPACITY);
    ReleaseSRWLockExclusive(&framesLock);
}

void reportShutdownNotReturned(void)
{
    static char frames[EVENT_FRAME_LIMIT][THREAD_DUMP_TEXT_CAPACITY];
    AcquireSRWLockExclusive(&framesLock);
    memcpy(frames, shutdownFrames, sizeof frames);
    ReleaseSRWLockExclusive(&framesLock);
    char seconds[16];
    snprintf(seconds, sizeof seconds, "%d", SHUTDOWN_WAIT_MS / 1000);
    const char *texts[] = {seconds, frames[0][0] != '\0' ? frames[0] : "(none: the dump did not reach it)",
                           frames[1], frames[2]};
    reportTexts(EVENT_SHUTDOWN_NOT_RETURNED, 4, texts);
}

void reportStoppedOnFailure(DWORD exitCode)
{
    char code[16];
    snprintf(code, sizeof code, "%lu", (unsigned long)exitCode);
    const char *texts[] = {code};
    reportTexts(EVENT_STOPPED_ON_FAILURE, 1, texts);
}

void reportJvmExit(int code)
{
    char text[16];
    snprintf(text, sizeof text, "%d", code);
    const char *texts[] = {text};
    reportTextsAs(code != 0 ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, EVENT_JVM_EXIT, 1, texts);
}

void reportLogRefused(LogFileState state, const char *owner)
{
    DWORD id;
    switch (state) {
    case LOG_FILE_LINK:
        id = EVENT_LOG_LINK;
        break;
    case LOG_FILE_SECOND_NAME:
        id = EVENT_LOG_SECOND_NAME;
        break;
    case LOG_FILE_FOREIGN_OWNER:
        id = EVENT_LOG_FOREIGN_OWNER;
        break;
    case LOG_FILE_UNKNOWN:
        id = EVENT_LOG_UNKNOWN;
        break;
    default:
        return;
    }
    if (eventsOn == 0 || InterlockedCompareExchange(&logRefusalReported, 1, 0) != 0)
        return;
    // The owner is known only for someone else's file.
    bool foreign = id == EVENT_LOG_FOREIGN_OWNER;
    const char *texts[] = {logFilePath, foreign && owner[0] != '\0' ? owner : "an owner that can't be read"};
    reportTexts(id, foreign ? 2 : 1, texts);
}
