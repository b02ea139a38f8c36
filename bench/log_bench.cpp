// The cost of one log record against the plainest ways of appending the same
// text to a file of the same directory, each opened and closed per record:
//
//   log    logWrite (lock, time stamp, unshared open, formatted write, close)
//   stdio  fopen "a" / fputs / fclose of the finished record text
//   win32  CreateFileW (append, unshared) / WriteFile / CloseHandle
//
// Blocks of RECORDS calls of each kind alternate, the order rotating every
// block; each file is deleted before its block. Prints "<kind> <block> <us per
// record>" for every block, or "error ..." and exit code 1.
//
// usage: log_bench.exe BLOCKS RECORDS
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "log/logfile.h"

#define BARE_STDIO_PATH "c:\\windows\\temp\\velmorane-bench-stdio.log"
#define BARE_WIN32_PATH L"c:\\windows\\temp\\velmorane-bench-win32.log"
// A typical record of the library probe, with a path of a typical length.
#define RECORD_FORMAT "Trying to load jvm.dll at Oracle location %s\n"
#define RECORD_ARGUMENT "C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll"
#define TEXT_CAP 512

enum { KIND_LOG, KIND_STDIO, KIND_WIN32, KINDS };
static const char *const kindNames[KINDS] = {"log", "stdio", "win32"};
static const wchar_t *const kindFiles[KINDS] = {L"" LOG_FILE_PATH, L"" BARE_STDIO_PATH, BARE_WIN32_PATH};

static LARGE_INTEGER frequency;
// The finished record as the bare loops write it: the log's own stamp and message.
static char recordText[TEXT_CAP];
static char recordTextCrlf[TEXT_CAP];
static DWORD recordTextCrlfLength;

static bool fail(const char *what)
{
    printf("error %s %lu\n", what, GetLastError());
    fflush(stdout);
    return false;
}

static bool removeFile(const wchar_t *path)
{
    return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

static bool runLog(int records)
{
    for (int i = 0; i < records; i++)
        logWrite(RECORD_FORMAT, RECORD_ARGUMENT);
    return true;
}

static bool runStdio(int records)
{
    for (int i = 0; i < records; i++) {
        FILE *file = fopen(BARE_STDIO_PATH, "a");
        if (file == NULL)
            return fail("fopen");
        fputs(recordText, file);
        fclose(file);
    }
    return true;
}

static bool runWin32(int records)
{
    for (int i = 0; i < records; i++) {
        HANDLE file = CreateFileW(BARE_WIN32_PATH, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE)
            return fail("CreateFileW");
        if (!WriteFile(file, recordTextCrlf, recordTextCrlfLength, &written, NULL) || written != recordTextCrlfLength) {
            CloseHandle(file);
            return fail("WriteFile");
        }
        CloseHandle(file);
    }
    return true;
}

static bool runBlock(int kind, int block, int records)
{
    LARGE_INTEGER t0, t1;
    bool ok;

    if (!removeFile(kindFiles[kind]))
        return fail("DeleteFileW");
    QueryPerformanceCounter(&t0);
    if (kind == KIND_LOG)
        ok = runLog(records);
    else if (kind == KIND_STDIO)
        ok = runStdio(records);
    else
        ok = runWin32(records);
    QueryPerformanceCounter(&t1);
    if (!ok)
        return false;
    double us = (double)(t1.QuadPart - t0.QuadPart) * 1e6 / (double)frequency.QuadPart / records;
    printf("%s %d %.3f\n", kindNames[kind], block, us);
    fflush(stdout);
    return true;
}

int main(int argc, char **argv)
{
    char stamp[LOG_STAMP_CAPACITY];

    if (argc != 3 || atoi(argv[1]) <= 0 || atoi(argv[2]) <= 0) {
        fprintf(stderr, "usage: log_bench BLOCKS RECORDS\n");
        return 1;
    }
    int blocks = atoi(argv[1]), records = atoi(argv[2]);
    if (!QueryPerformanceFrequency(&frequency))
        return fail("QueryPerformanceFrequency"), 1;
    logLockCreate();
    logFormatStamp(stamp);
    int n = snprintf(recordText, TEXT_CAP, "%s" RECORD_FORMAT, stamp, RECORD_ARGUMENT);
    if (n < 0 || n >= TEXT_CAP)
        return fail("record-too-long"), 1;
    // Text mode turns the line feed into CR LF; the Win32 loop writes those bytes itself.
    n = snprintf(recordTextCrlf, TEXT_CAP, "%.*s\r\n", n - 1, recordText);
    if (n < 0 || n >= TEXT_CAP)
        return fail("record-too-long"), 1;
    recordTextCrlfLength = (DWORD)n;

    for (int block = 0; block < blocks; block++)
        for (int k = 0; k < KINDS; k++)
            if (!runBlock((block + k) % KINDS, block, records))
                return 1;
    for (int k = 0; k < KINDS; k++)
        removeFile(kindFiles[k]);
    return 0;
}
