// The diagnostic log. The file is opened and closed for every record, so every
// record is on disk before the call returns and nothing is lost if the process
// ends abruptly; the lock makes one record one indivisible step.
#include "log/log.h"

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <winternl.h>

#include "launcher/stageclock.h"

CRITICAL_SECTION logLock;
const char *logFilePath = LOG_FILE_PATH;
volatile LONG logRetired = 0;
LogSink logSink = NULL;
// A record for the sink: the longest a launcher record gets (a class path
// option of ANSI_CAPACITY bytes) with room to spare; longer ones are cut.
static char sinkRecord[0x10000];

void logLockCreate(void)
{
    InitializeCriticalSection(&logLock);
    logRetired = 0;
}

// Called by the service main routine as its last step. A shutdown thread that
// outlived the stop wait, or a launcher thread still starting up, may still
// log until the process ends; deleting a critical section that another thread
// may enter (or hold) is undefined behaviour. So the lock itself stays alive
// until the process ends, and records that come after this point are dropped:
// nothing can then be half-written while the process is torn down.
void logLockDelete(void)
{
    EnterCriticalSection(&logLock);
    InterlockedExchange(&logRetired, 1);
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

// The file last found to be the plain log file: its index on its volume and
// the path it was found at. Read and written under the log lock.
static LARGE_INTEGER verifiedIndex;
static const char *verifiedPath = NULL;

// The file's index on its volume: a cheap query (unlike FileIdInfo, which
// also asks the volume for its serial number).
static bool fileIndex(HANDLE handle, LARGE_INTEGER *index)
{
    IO_STATUS_BLOCK status;
    FILE_INTERNAL_INFORMATION information;
    if (NtQueryInformationFile(handle, &status, &information, sizeof information, FileInternalInformation) < 0)
        return false;
    *index = information.IndexNumber;
    return true;
}

// True when the file's final name is the log's path. Wine knows no reparse
// points: it follows a symbolic link even when asked to open the link
// itself, and the handle then shows a plain file. The name it reports for the
// handle is the link's target, though, so a handle whose final name is not
// the path that was opened is refused. On Windows, opened with
// FILE_FLAG_OPEN_REPARSE_POINT, the names agree. (A dangling link under
// Wine: the open creates the empty file it points to; nothing is written
// there.)
static bool hasLogPathAsName(HANDLE handle)
{
    char finalPath[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleA(handle, finalPath, sizeof finalPath, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof finalPath)
        return false;
    const char *name = finalPath;
    if (strncmp(name, "\\\\?\\", 4) == 0)
        name += 4;
    return lstrcmpiA(name, logFilePath) == 0;
}

// True when the opened file is the plain file at the log's path: not a link
// of any kind, and no second name for the same file. A record written
// through a link would land wherever whoever planted it chose, with the
// service's rights.
static bool isPlainLogFile(HANDLE handle)
{
    // Narrow queries rather than GetFileInformationByHandle, which also asks
    // the volume for its serial number: under Wine that alone costs some
    // 0.3 ms, several times the rest of a record.
    FILE_ATTRIBUTE_TAG_INFO tag;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return false;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || standard.NumberOfLinks != 1)
        return false;
    // The final name takes a round of name translation (under Wine some
    // 0.05 ms, most of what a record costs beyond its open and write), so it
    // is asked once per file: a file that already had the log's path as its
    // final name stays the log file, however it is reached later. Any other
    // file that turns up at the path, a link's target among them, has
    // another index and is asked again.
    LARGE_INTEGER index;
    bool indexed = fileIndex(handle, &index);
    if (indexed && verifiedPath == logFilePath && index.QuadPart == verifiedIndex.QuadPart)
        return true;
    if (!hasLogPathAsName(handle))
        return false;
    if (indexed) {
        verifiedIndex = index;
        verifiedPath = logFilePath;
    }
    return true;
}

// Opens the log for appending in text mode, sharing it with nobody. Windows'
// fopen_s already opens unshared, but Wine's lets other openers share the
// file; an explicit share mode of 0 (what _SH_DENYRW asked for) gives the
// same exclusive open on both, so a record is never interleaved with another
// process's writes.
// The handle is not inheritable (no security attributes): a child process
// that the Java application starts while a record is being written would
// otherwise keep the file open, unshared, and every later record would be
// lost. FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it
// points to, so the check below looks at the very file that would be written.
FILE *logOpen(void)
{
    HANDLE handle = CreateFileA(logFilePath, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, NULL, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    if (!isPlainLogFile(handle)) {
        CloseHandle(handle);
        return NULL;
    }
    int fd = _open_osfhandle((intptr_t)handle, _O_APPEND | _O_TEXT | _O_NOINHERIT);
    if (fd == -1) {
        CloseHandle(handle);
        return NULL;
    }
    FILE *file = _fdopen(fd, "a");
    if (file == NULL)
        _close(fd);
    return file;
}

void logWrite(const char *format, ...)
{
    char stamp[LOG_STAMP_CAPACITY];

    EnterCriticalSection(&logLock);
    STAGE_LOG_ENTER();
    if (!logRetired && logSink != NULL) {
        logFormatStamp(stamp);
        va_list args;
        va_start(args, format);
        vsnprintf(sinkRecord, sizeof sinkRecord, format, args);
        va_end(args);
        logSink(stamp, sinkRecord);
    } else if (!logRetired) {
        logFormatStamp(stamp);
        FILE *file = logOpen();
        // A file that can't be opened (no directory, no access, held open by
        // another program, a link) drops the record; the next call tries again.
        if (file != NULL) {
            va_list args;
            va_start(args, format);
            fputs(stamp, file);
            vfprintf(file, format, args);
            va_end(args);
            fclose(file);
        }
    }
    STAGE_LOG_LEAVE();
    LeaveCriticalSection(&logLock);
}
