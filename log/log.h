// The diagnostic log: one time-stamped record per call, appended to a fixed file.
#ifndef VELMORANE_LOG_H
#define VELMORANE_LOG_H

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

#define LOG_STAMP_CAPACITY 80
// The time stamp's length: "%x %X " in the "C" locale, MM/DD/YY HH:MM:SS and a blank.
#define LOG_STAMP_LENGTH 18
// The longest record text a sink receives, terminator included; longer ones are cut.
#define LOG_RECORD_CAPACITY 0x10000

// Set once the log lock has been retired; later records are dropped.
// Process-wide as the log is: one file and one lock for every thread that
// writes; the tests revive it.
extern volatile LONG logRetired;

// Where records go instead of the file, when set: the stamp and the formatted
// text (cut at LOG_RECORD_CAPACITY), called under the log lock. The service never sets
// it; the operator's console sends the records to its console ("run") or
// nowhere ("check"), and the benchmark build times them on their way.
typedef void (*LogSink)(const char *stamp, const char *text);
// Process-wide as the log is: every thread's records go through it.
extern LogSink logSink;

// How long a record waits for the log lock before it is dropped; after
// STOPPED, the service main routine and the process's end wait as long for a
// record under way. A record holds the lock for well under a millisecond;
// only a file whose open does not return (an oplock that another account
// holds on it) holds it longer.
#define LOG_RECORD_WAIT_MS 2000
// How long the stop waits for it before STOPPED (to give up a thread dump).
#define LOG_STOP_WAIT_MS 500

void logLockCreate(void);
// Enters the log lock within `milliseconds`; false, not entered, after that.
bool logLockEnterWithin(DWORD milliseconds);
// Retires the log: records that come after this are dropped. Waits for a
// record under way at most LOG_RECORD_WAIT_MS.
void logRetire(void);
void logWrite(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
// The same with the arguments in a va_list.
void logWriteV(const char *format, va_list args) __attribute__((format(gnu_printf, 1, 0)));
// Appends one record (stamp and text) to the log file, as logWrite does
// without a sink; called under the log lock. A sink may pass records on here.
void logAppend(const char *stamp, const char *text);
// The local time stamp (LOG_STAMP_LENGTH characters), written into a buffer of LOG_STAMP_CAPACITY bytes.
void logFormatStamp(char *stamp);

#endif
