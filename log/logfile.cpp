// The log file's identity. A record written through a link would land
// wherever whoever planted it chose, with the service's rights; so the file
// is opened without following a link, and the handle is asked what it is
// before anything is written.
#include "log/logfile.h"

#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <winternl.h>

#include "log/logowner.h"

const char *logFilePath = LOG_FILE_PATH;

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

// Whether the opened file is a plain file of its own: not a reparse point,
// no second name. Narrow queries rather than GetFileInformationByHandle,
// which also asks the volume for its serial number: under Wine that alone
// costs some 0.3 ms, several times the rest of a record.
LogFileState judgeFileKind(HANDLE handle, ULONGLONG *size)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return LOG_FILE_UNKNOWN;
    *size = (ULONGLONG)standard.EndOfFile.QuadPart;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return LOG_FILE_LINK;
    if (standard.NumberOfLinks != 1)
        return LOG_FILE_SECOND_NAME;
    return LOG_FILE_PLAIN;
}

const char *fileKindRefusal(LogFileState kind)
{
    switch (kind) {
    case LOG_FILE_LINK: return "a link";
    case LOG_FILE_SECOND_NAME: return "a file with a second name";
    default: return "a file whose kind can't be read";
    }
}

// What the opened file is: the plain file at the log's path, or why not.
// ownerText (OWNER_TEXT_CAPACITY) gets the owner of someone else's file.
static LogFileState judgeLogFile(HANDLE handle, ULONGLONG *size, char *ownerText)
{
    LogFileState kind = judgeFileKind(handle, size);
    if (kind != LOG_FILE_PLAIN)
        return kind;
    // The final name takes a round of name translation (under Wine some
    // 0.05 ms, most of what a record costs beyond its open and write), so it
    // is asked once per file: a file that already had the log's path as its
    // final name stays the log file, however it is reached later. Any other
    // file that turns up at the path, a link's target among them, has
    // another index and is asked again.
    LARGE_INTEGER index;
    bool indexed = fileIndex(handle, &index);
    if (indexed && verifiedPath == logFilePath && index.QuadPart == verifiedIndex.QuadPart)
        return LOG_FILE_PLAIN;
    if (!hasLogPathAsName(handle))
        return LOG_FILE_LINK;
    // Whose it is, asked as seldom as its name: a file someone else made at
    // the path beforehand could be read or forged by them.
    if (!hasTrustedOwner(handle, ownerText))
        return LOG_FILE_FOREIGN_OWNER;
    if (indexed) {
        verifiedIndex = index;
        verifiedPath = logFilePath;
    }
    return LOG_FILE_PLAIN;
}

LogFileOpen logFileOpen = openLogFile;

// Opens the log for appending. It shares reading, so a reader (status, a
// monitoring agent, an editor) costs no record, but neither writing nor
// deletion: there is never a second writer, and a record is never
// interleaved with another process's writes. A program that holds the file
// sharing no writing still costs the records of that time. Windows' fopen_s
// opens unshared and Wine's shares everything, so the share mode is given.
// The handle is not inheritable (no security attributes): a child process
// that the Java application starts while a record is being written would
// otherwise keep the file open, unshared, and every later record would be
// lost. FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it
// points to, so the check looks at the very file that would be written.
HANDLE openLogFile(const char *path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ, NULL, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// The console's look at the file: no data access but reading, sharing
// everything, so the service writes on meanwhile.
static HANDLE openLogToRead(void)
{
    return CreateFileA(logFilePath, GENERIC_READ | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

FILE *logOpen(LogRefusal *refusal)
{
    HANDLE handle = logFileOpen(logFilePath, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    ULONGLONG size = 0;
    char owner[OWNER_TEXT_CAPACITY];
    LogFileState state = judgeLogFile(handle, &size, owner);
    if (state != LOG_FILE_PLAIN) {
        CloseHandle(handle);
        if (refusal != NULL) {
            refusal->state = state;
            lstrcpynA(refusal->owner, owner, sizeof refusal->owner);
        }
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

// Under the log lock, as a record: the identity cache is the writer's.
HANDLE logOpenToRead(LogFileCheck *check)
{
    check->state = LOG_FILE_PLAIN;
    check->error = ERROR_SUCCESS;
    check->size = 0;
    check->owner[0] = '\0';
    EnterCriticalSection(&logLock);
    HANDLE handle = openLogToRead();
    if (handle == INVALID_HANDLE_VALUE) {
        check->error = GetLastError();
        check->state = check->error == ERROR_FILE_NOT_FOUND ? LOG_FILE_ABSENT : LOG_FILE_UNOPENABLE;
    } else {
        check->state = judgeLogFile(handle, &check->size, check->owner);
        // Whose a refused file is, whatever refused it.
        if (check->state != LOG_FILE_PLAIN && check->owner[0] == '\0')
            fileOwnerText(handle, check->owner);
    }
    LeaveCriticalSection(&logLock);
    if (check->state == LOG_FILE_PLAIN)
        return handle;
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return NULL;
}

void logInspect(LogFileCheck *check)
{
    HANDLE handle = logOpenToRead(check);
    if (handle == NULL)
        return;
    CloseHandle(handle);
    // Whether a record's open would succeed now: only an open for writing
    // meets a holder that shares no writing, or an access list that lets
    // this account not write. It lasts an instant, and a record of the
    // service that comes in that instant is lost, as with any writer.
    HANDLE probe = logFileOpen(logFilePath, OPEN_EXISTING);
    if (probe == INVALID_HANDLE_VALUE) {
        check->error = GetLastError();
        check->state = LOG_FILE_UNOPENABLE;
    } else {
        CloseHandle(probe);
    }
}
