// The log file's identity: the service appends only to the plain file at the
// log's path, never through a link or to a file with a second name.
#ifndef VELMORANE_LOGFILE_H
#define VELMORANE_LOGFILE_H

#include <windows.h>

#include <stdio.h>

#include "log/logowner.h"

#define LOG_FILE_PATH "c:\\windows\\temp\\velmoraneservice.log"
// Where records go. Always LOG_FILE_PATH in the service; tests point it
// elsewhere. Process-wide as the file is.
extern const char *logFilePath;
// The one process-wide lock (loglock.cpp); every record is written, and the
// file's identity judged, while holding it. Every thread that writes a
// record takes it, whatever launch it belongs to.
extern CRITICAL_SECTION logLock;

enum LogFileState {
    LOG_FILE_PLAIN,       // the plain file at the log's path: records go there
    LOG_FILE_ABSENT,      // no file yet: the first record creates it
    LOG_FILE_UNOPENABLE,  // can't be opened for appending (error says why)
    LOG_FILE_LINK,        // a link, or a file whose final name is another path
    LOG_FILE_SECOND_NAME, // the file has another name besides the log's path
    LOG_FILE_UNKNOWN,     // its attributes can't be read
    LOG_FILE_FOREIGN_OWNER, // it belongs to someone other than the system or the service's account
};

struct LogFileCheck {
    LogFileState state;
    DWORD error;    // the Windows error of the open, for LOG_FILE_UNOPENABLE
    ULONGLONG size; // bytes, when it exists
    char owner[OWNER_TEXT_CAPACITY]; // for a refused file: the owner's SID as text, when it can be read
};

// A log file the service refused to write to: its state (LOG_FILE_PLAIN:
// none) and, for someone else's file, its owner's text.
struct LogRefusal {
    LogFileState state;
    char owner[OWNER_TEXT_CAPACITY];
};

// Opens the log file for one record: appending, text mode, sharing reading
// only, not inheritable. NULL when it can't be opened or is not a plain file
// of its own (a link, a file with a second name, or one that someone else
// owns: *refusal then says which, unless refusal is NULL). The caller closes
// it.
FILE *logOpen(LogRefusal *refusal);

// How the log file is opened for a record: CreateFileA with the record's
// access, sharing and flags, creating the file or not (`disposition`). The
// tests put an open that does not return in its place, as an oplock that
// another account holds on the file makes it on Windows.
typedef HANDLE (*LogFileOpen)(const char *path, DWORD disposition);
// Process-wide as the log is: every record opens the one file through it.
extern LogFileOpen logFileOpen;
// Told of a log file the service refuses to write to (its owner's text for
// someone else's file), after the record has left the log's lock.
typedef void (*LogRefusedNotice)(LogFileState state, const char *owner);
// Who is told from now on; NULL: no one.
void logNoticeRefusals(LogRefusedNotice notice);
HANDLE openLogFile(const char *path, DWORD disposition);

// Opens an existing log file for reading, sharing everything so the service
// writes on meanwhile, and judges it by the record's checks. The handle when
// it is the plain log file of the service's (*check then says so and gives
// its size), else NULL and *check says why; creates nothing.
HANDLE logOpenToRead(LogFileCheck *check);

// Judges the log file as logOpenToRead does and closes it again, then tells
// whether a record's open would succeed now (LOG_FILE_UNOPENABLE and the
// error when not).
void logInspect(LogFileCheck *check);

// The first of the log's refusals, for any opened file: LOG_FILE_PLAIN for a
// file that is no reparse point and has no second name, else LOG_FILE_LINK,
// LOG_FILE_SECOND_NAME or LOG_FILE_UNKNOWN; *size is its length.
LogFileState judgeFileKind(HANDLE handle, ULONGLONG *size);
// Those refusals in the words every report of one uses: "a link", "a file
// with a second name", and for any other state "a file whose kind can't be
// read".
const char *fileKindRefusal(LogFileState kind);

#endif
