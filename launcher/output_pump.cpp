// The pump reads only what the pipe holds (PeekNamedPipe first) and only
// under its lock, so a drain on another thread, which takes the same lock,
// leaves no piece read but not yet written. An idle pipe is polled with
// growing pauses of at most a few milliseconds; the pipe's buffer takes what
// comes meanwhile. Writing never waits for the disk to have room: what can't
// be written is counted and dropped, so the application never blocks on it.
#include "launcher/output_pump.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "launcher/javaoutput.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/log.h"

#define PIPE_BUFFER_BYTES (1024 * 1024)
#define PUMP_CHUNK_BYTES (64 * 1024)
#define PUMP_MAX_PAUSE_MS 4
#define VM_MESSAGE_CAPACITY 4096

static HANDLE pumpRead = INVALID_HANDLE_VALUE;
static HANDLE pumpWrite = INVALID_HANDLE_VALUE;
static HANDLE pumpThread = NULL;
static volatile LONG pumpEnding = 0;
static CRITICAL_SECTION pumpLock;
static char pumpChunk[PUMP_CHUNK_BYTES];

static ULONGLONG currentSize;   // bytes in the current file
static ULONGLONG lineLength;    // bytes since the last line end
static ULONGLONG nextRotation;  // the size at which the next rotation is due
static bool rotationFailed;     // its record is written; the next one is quiet
static ULONGLONG notWritten;    // bytes dropped since the last write that worked
static DWORD notWrittenError;
static ULONGLONG droppedSinceReopen;

static void reportNotWritten(void)
{
    if (notWritten == 0)
        return;
    logWrite(RECORD_OUTPUT_NOT_WRITTEN, (unsigned long long)notWritten, javaOutputPathAnsi,
             (unsigned long)notWrittenError);
    notWritten = 0;
}

static void dropBytes(size_t length, DWORD error)
{
    notWritten += length;
    notWrittenError = error;
    droppedSinceReopen += length;
}

static void writeOut(const char *data, size_t length)
{
    // A new file that could not be opened is tried again after as many
    // bytes as a file holds.
    if (javaOutputFile == INVALID_HANDLE_VALUE && droppedSinceReopen >= outputRotationSize) {
        DWORD error;
        droppedSinceReopen = 0;
        javaOutputFile = openOutputFile(javaOutputPath, javaOutputPathAnsi, &error);
    }
    DWORD written = 0;
    if (javaOutputFile == INVALID_HANDLE_VALUE) {
        dropBytes(length, ERROR_INVALID_HANDLE);
        return;
    }
    BOOL wrote = WriteFile(javaOutputFile, data, (DWORD)length, &written, NULL);
    DWORD error = wrote ? ERROR_SUCCESS : GetLastError();
    if (written > 0 && notWritten > 0)
        reportNotWritten();
    currentSize += written;
    if (written < length)
        dropBytes(length - written, wrote ? ERROR_HANDLE_DISK_FULL : error);
}

static void rotateNow(void)
{
    if (!rotateOutputFiles(javaOutputPath, outputRotationKeep, rotationFailed)) {
        rotationFailed = true;
        nextRotation = currentSize + outputRotationSize;
        return;
    }
    rotationFailed = false;
    DWORD error;
    HANDLE fresh = openOutputFile(javaOutputPath, javaOutputPathAnsi, &error);
    if (fresh == INVALID_HANDLE_VALUE && error != ERROR_SUCCESS)
        logWrite(RECORD_OUTPUT_UNOPENED, javaOutputPathAnsi, (unsigned long)error);
    CloseHandle(javaOutputFile);
    javaOutputFile = fresh;
    droppedSinceReopen = 0;
    currentSize = lineLength = 0;
    nextRotation = outputRotationSize;
}

void pumpBytes(const char *data, size_t length)
{
    while (length > 0) {
        size_t take = length;
        if (currentSize >= nextRotation) {
            if (lineLength == 0 || lineLength >= OUTPUT_LONGEST_LINE) {
                rotateNow();
                continue;
            }
            // Up to the line's end, or the longest line's.
            const char *end = (const char *)memchr(data, '\n', length);
            take = end != NULL ? (size_t)(end - data) + 1 : length;
            if (take > OUTPUT_LONGEST_LINE - lineLength)
                take = (size_t)(OUTPUT_LONGEST_LINE - lineLength);
        } else if (nextRotation - currentSize < length) {
            take = (size_t)(nextRotation - currentSize);
        }
        writeOut(data, take);
        size_t last = take;
        while (last > 0 && data[last - 1] != '\n')
            last--;
        lineLength = last > 0 ? take - last : lineLength + take;
        data += take;
        length -= take;
    }
}

// One piece of what the pipe holds: 1 when something was written, 0 when it
// was empty, -1 when it is closed.
static int pumpOnce(void)
{
    DWORD available = 0, got = 0;
    if (!PeekNamedPipe(pumpRead, NULL, 0, NULL, &available, NULL))
        return -1;
    if (available == 0)
        return 0;
    if (!ReadFile(pumpRead, pumpChunk, available < sizeof pumpChunk ? available : sizeof pumpChunk, &got, NULL))
        return -1;
    pumpBytes(pumpChunk, got);
    return got > 0 ? 1 : 0;
}

static DWORD WINAPI pumpThreadMain(LPVOID)
{
    DWORD pause = 0;
    while (InterlockedCompareExchange(&pumpEnding, 0, 0) == 0) {
        EnterCriticalSection(&pumpLock);
        int pumped = pumpOnce();
        LeaveCriticalSection(&pumpLock);
        if (pumped < 0)
            break;
        pause = pumped > 0 ? 0 : (pause < PUMP_MAX_PAUSE_MS ? pause + 1 : PUMP_MAX_PAUSE_MS);
        if (pause > 0)
            Sleep(pause);
    }
    return 0;
}

HANDLE startOutputPump(HANDLE *file)
{
    LARGE_INTEGER size = {};
    GetFileSizeEx(*file, &size);
    javaOutputFile = *file;
    currentSize = (ULONGLONG)size.QuadPart;
    lineLength = 0;
    nextRotation = outputRotationSize;
    rotationFailed = false;
    notWritten = droppedSinceReopen = 0;
    // A file over the size from an earlier run is rotated first.
    if (currentSize >= nextRotation)
        rotateNow();
    *file = javaOutputFile;
    if (*file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    pumpEnding = 0;
    if (!CreatePipe(&pumpRead, &pumpWrite, NULL, PIPE_BUFFER_BYTES))
        return INVALID_HANDLE_VALUE;
    InitializeCriticalSection(&pumpLock);
    pumpThread = CreateThread(NULL, 0, pumpThreadMain, NULL, 0, NULL);
    if (pumpThread != NULL)
        return pumpWrite;
    DWORD error = GetLastError();
    DeleteCriticalSection(&pumpLock);
    CloseHandle(pumpRead);
    CloseHandle(pumpWrite);
    pumpRead = pumpWrite = INVALID_HANDLE_VALUE;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

void stopOutputPump(void)
{
    if (pumpThread == NULL)
        return;
    InterlockedExchange(&pumpEnding, 1);
    WaitForSingleObject(pumpThread, INFINITE);
    CloseHandle(pumpThread);
    CloseHandle(pumpRead);
    CloseHandle(pumpWrite);
    pumpThread = NULL;
    pumpRead = pumpWrite = INVALID_HANDLE_VALUE;
    DeleteCriticalSection(&pumpLock);
}

void drainJavaOutput(DWORD timeoutMs)
{
    if (pumpThread == NULL)
        return;
    ULONGLONG end = GetTickCount64() + timeoutMs;
    EnterCriticalSection(&pumpLock);
    while (pumpOnce() > 0 && GetTickCount64() < end)
        continue;
    reportNotWritten();
    LeaveCriticalSection(&pumpLock);
}

static void JNICALL exitHook(jint)
{
    drainJavaOutput(OUTPUT_DRAIN_MS);
}

// Into the pipe, behind what the application wrote; without the pump, into
// the file.
static jint JNICALL vfprintfHook(FILE *, const char *format, va_list arguments)
{
    char message[VM_MESSAGE_CAPACITY];
    int length = vsnprintf(message, sizeof message, format, arguments);
    if (length < 0)
        return length;
    DWORD count = (DWORD)length < sizeof message ? (DWORD)length : (DWORD)sizeof message - 1, written = 0;
    WriteFile(pumpThread != NULL ? pumpWrite : javaOutputFile, message, count, &written, NULL);
    return (jint)written;
}

int addJavaOutputHooks(JavaVMOption *options)
{
    if (javaOutputFile == INVALID_HANDLE_VALUE)
        return 0;
    options[0].optionString = (char *)"vfprintf";
    options[0].extraInfo = (void *)vfprintfHook;
    if (pumpThread == NULL)
        return 1;
    options[1].optionString = (char *)"exit";
    options[1].extraInfo = (void *)exitHook;
    return 2;
}
