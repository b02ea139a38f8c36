// The diagnostic log. The file is opened and closed for every record, so every
// record is on disk before the call returns and nothing is lost if the process
// ends abruptly; the lock makes one record one indivisible step.
#include "log/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "log/logfile.h"

LogSink logSink = NULL;
static LogRefusedNotice refusedNotice;

void logNoticeRefusals(LogRefusedNotice notice)
{
    refusedNotice = notice;
}
// A record for the sink: the longest a launcher record gets (a class path
// option of ANSI_CAPACITY bytes) with room to spare; longer ones are cut.
static char sinkRecord[LOG_RECORD_CAPACITY];

// The stamp when the clock can't be read: the length is the format's.
static const char NO_STAMP[] = "00/00/00 00:00:00 ";
static_assert(sizeof NO_STAMP - 1 == LOG_STAMP_LENGTH, "a stamp is LOG_STAMP_LENGTH characters");

void logFormatStamp(char *stamp)
{
    time_t now = time(NULL);
    struct tm *local = localtime(&now);
    // The program never changes its locale, so "%x %X " gives the "C" locale's
    // MM/DD/YY HH:MM:SS and a blank.
    // Two-digit years are the record format; not a mistake.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    size_t length = local != NULL ? strftime(stamp, LOG_STAMP_CAPACITY, "%x %X ", local) : 0;
#pragma GCC diagnostic pop
    if (length == 0)
        lstrcpynA(stamp, NO_STAMP, LOG_STAMP_CAPACITY);
}

// One record into the file, formatted straight into it. A file that can't be
// opened (no directory, no access, held open by another program, a link)
// drops the record; the next call tries again.
static void appendRecordV(LogRefusal *refusal, const char *stamp, const char *format, va_list args)
{
    FILE *file = logOpen(refusal);
    if (file == NULL)
        return;
    fputs(stamp, file);
    vfprintf(file, format, args);
    fclose(file);
}

static void appendRecord(const char *stamp, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    appendRecordV(NULL, stamp, format, args);
    va_end(args);
}

void logAppend(const char *stamp, const char *text)
{
    appendRecord(stamp, "%s", text);
}

void logWriteV(const char *format, va_list args)
{
    char stamp[LOG_STAMP_CAPACITY];
    LogRefusal refusal;
    refusal.state = LOG_FILE_PLAIN;

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
        appendRecordV(&refusal, stamp, format, args);
    }
    LeaveCriticalSection(&logLock);
    // Out of the lock: whoever is told may write records of its own.
    LogRefusedNotice notice = refusedNotice;
    if (refusal.state != LOG_FILE_PLAIN && notice != NULL)
        notice(refusal.state, refusal.owner);
}

void logWrite(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    logWriteV(format, args);
    va_end(args);
}
