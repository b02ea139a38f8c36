// The output file's refusals, shared by the file the service opens at the
// start and by every file its rotation opens, renames or removes: the same
// file is reached through the same checks whichever step reaches it.
#include "launcher/output_open.h"

#include <stdio.h>

#include "launcher/folder_walk.h"
#include "launcher/records.h"
#include "launcher/strings.h"
#include "log/logfile.h"
#include "log/log.h"

// The final name with its "\\?\" (or "\\?\UNC\") taken off, as a full path.
static const wchar_t *plainFinalName(wchar_t *finalName)
{
    if (wcsncmp(finalName, L"\\\\?\\UNC\\", 8) == 0) {
        finalName[6] = L'\\';
        return finalName + 6;
    }
    return wcsncmp(finalName, L"\\\\?\\", 4) == 0 ? finalName + 4 : finalName;
}

bool (*javaOutputOwnerCheck)(HANDLE file, char *ownerText) = hasTrustedOwner;

// The log's refusals for the output file, which is written with the
// service's rights too: no reparse point, no second name, the name the
// handle ended up at is the path asked for (under Wine, which follows a
// symbolic link whatever it is asked, only the name tells), and the log's
// owner rule. The buffers are on the launcher thread's stack, which has room
// before the virtual machine.
static LogFileState judgeOutputFile(const wchar_t *path, HANDLE file, char *ownerText)
{
    ULONGLONG size = 0;
    LogFileState kind = judgeFileKind(file, &size);
    if (kind != LOG_FILE_PLAIN)
        return kind;
    wchar_t full[PATH_CAPACITY], longName[PATH_CAPACITY], finalName[PATH_CAPACITY];
    DWORD fullLength = GetFullPathNameW(path, PATH_CAPACITY, full, NULL);
    DWORD longLength =
        fullLength > 0 && fullLength < PATH_CAPACITY ? GetLongPathNameW(full, longName, PATH_CAPACITY) : 0;
    DWORD finalLength = GetFinalPathNameByHandleW(file, finalName, PATH_CAPACITY, FILE_NAME_NORMALIZED);
    if (longLength == 0 || longLength >= PATH_CAPACITY || finalLength == 0 || finalLength >= PATH_CAPACITY)
        return LOG_FILE_UNKNOWN;
    if (lstrcmpiW(plainFinalName(finalName), longName) != 0)
        return LOG_FILE_LINK;
    // Someone else's file, made beforehand, could be read or forged by them.
    return javaOutputOwnerCheck(file, ownerText) ? LOG_FILE_PLAIN : LOG_FILE_FOREIGN_OWNER;
}

// The refusal's record, with the owner of someone else's file.
static void logRefusal(const char *pathAnsi, LogFileState state, const char *ownerText)
{
    char reason[64 + OWNER_TEXT_CAPACITY];
    if (state != LOG_FILE_FOREIGN_OWNER)
        lstrcpynA(reason, fileKindRefusal(state), sizeof reason);
    else if (ownerText[0] != '\0')
        snprintf(reason, sizeof reason, "a file that belongs to %s", ownerText);
    else
        lstrcpynA(reason, "a file whose owner can't be read", sizeof reason);
    logWrite(RECORD_OUTPUT_REFUSED, pathAnsi, reason);
}

// Nothing of the service's stays behind wherever a refused path led: a file
// it made there is deleted through its own handle, not by a name that could
// lead elsewhere by now.
static void removeMadeFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Opens the file at `path` with the output file's refusals, each with its
// record (a refused file the walk made is removed), and error ERROR_SUCCESS;
// a file not opened has its error and no record. `make`: create it where
// nothing is; otherwise a missing file gives ERROR_FILE_NOT_FOUND.
static HANDLE openJudged(const wchar_t *path, const char *pathAnsi, ACCESS_MASK access, bool make, DWORD *error)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    *error = ERROR_SUCCESS;
    WalkOutcome opened = make ? openWithoutLinks(path, access, &file, error)
                              : openExistingWithoutLinks(path, access, &file, error);
    if (opened == WALK_LINK_ON_PATH) {
        logWrite(RECORD_OUTPUT_REFUSED, pathAnsi, "a link on its folder path");
        return INVALID_HANDLE_VALUE;
    }
    if (opened == WALK_NOT_OPENED)
        return INVALID_HANDLE_VALUE;
    char owner[OWNER_TEXT_CAPACITY] = "";
    LogFileState state = judgeOutputFile(path, file, owner);
    if (state == LOG_FILE_PLAIN)
        return file;
    if (opened == WALK_CREATED)
        removeMadeFile(file);
    CloseHandle(file);
    logRefusal(pathAnsi, state, owner);
    *error = ERROR_SUCCESS;
    return INVALID_HANDLE_VALUE;
}

// Append-only access: every write lands at the end of the file, also after
// an operator has truncated it.
static const ACCESS_MASK outputAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;

HANDLE openOutputFile(const wchar_t *path, const char *pathAnsi, DWORD *error)
{
    return openJudged(path, pathAnsi, outputAccess, true, error);
}

HANDLE openRotatedFile(const wchar_t *path, const char *pathAnsi, DWORD *error)
{
    return openJudged(path, pathAnsi, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, false, error);
}

