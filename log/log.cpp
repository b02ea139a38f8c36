// The diagnostic log. The file is opened and closed for every record, so every
// record is on disk before the call returns and nothing is lost if the process
// ends abruptly; the lock makes one record one indivisible step.
#include "log/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "log/logfile.h"

CRITICAL_SECTION logLock;
const char *logFilePath = LOG_FILE_PATH;
volatile LONG logRetired = 0;
LogSink logSink = NULL;
// A record for the sink: the longest a launcher record gets (a class path
// option of ANSI_CAPACITY bytes) with room to spare; longer ones are cut.
static char sinkRecord[LOG_RECORD_CAPACITY];

void logLockCreate(void)
{
    InitializeCriticalSection(&logLock);
    logRetired = 0;
}

// A critical section has no timed wait: the lock is tried until the
// deadline. It is almost always free at the first try.
bool logLockEnterWithin(DWORD milliseconds)
{
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!TryEnterCriticalSection(&logLock)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

// Called by the service main routine as its last step. A shutdown thread that
// outlived the stop wait, or a launcher thread still starting up, may still
// log until the process ends; deleting a critical section that another thread
// may enter (or hold) is undefined behaviour. So the lock itself stays alive
// until the process ends, and records that come after this point are dropped:
// nothing can then be half-written while the process is torn down. A record
// whose open does not return keeps the lock; the log is retired all the same
// and that record alone may still come.
void logLockDelete(void)
{
    bool entered = logLockEnterWithin(LOG_RECORD_WAIT_MS);
    InterlockedExchange(&logRetired, 1);
    if (entered)
        LeaveCriticalSection(&logLock);
}

void logFormatStamp(char *stamp)
{
    time_t now = time(NULL);
    struct tm *local = localtime(&now);
    // The program never changes its locale, so "%x %X " gives the "C" locale's
    // MM/DD/YY HH:MM:SS and a blank: 18 characters.
    // Two-digit years are the record format; not a mistake.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    size_t length = local != NULL ? strftime(stamp, LOG_STAMP_CAPACITY, "%x %X ", local) : 0;
#pragma GCC diagnostic pop
    if (length == 0)
        lstrcpynA(stamp, "00/00/00 00:00:00 ", LOG_STAMP_CAPACITY);
}

void logAppend(const char *stamp, const char *text)
{
    FILE *file = logOpen();
    // A file that can't be opened (no directory, no access, held open by
    // another program, a link) drops the record; the next call tries again.
    if (file == NULL)
        return;
    fputs(stamp, file);
    fputs(text, file);
    fclose(file);
}

void logWriteV(const char *format, va_list args)
{
    char stamp[LOG_STAMP_CAPACITY];

    // A record that can't be written in time is dropped, as one that meets
    // the file held open is.
    if (!logLockEnterWithin(LOG_RECORD_WAIT_MS))
        return;
    if (!logRetired && logSink != NULL) {
        logFormatStamp(stamp);
        vsnprintf(sinkRecord, sizeof sinkRecord, format, args);
        logSink(stamp, sinkRecord);
    } else if (!logRetired) {
        logFormatStamp(stamp);
        FILE *file = logOpen();
        // As logAppend, without formatting the record into a buffer first.
        if (file != NULL) {
            fputs(stamp, file);
            vfprintf(file, format, args);
            fclose(file);
        }
    }
    LeaveCriticalSection(&logLock);
}

void logWrite(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    logWriteV(format, args);
    va_end(args);
}
