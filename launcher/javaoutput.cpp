// A service has no console: what the virtual machine and the application
// write to standard output and standard error goes nowhere unless the
// operator names a file for it in "VLJAVAOUTPUT".
//
// The Java class library writes System.out and System.err through the
// process's standard handles (GetStdHandle). The virtual machine's own
// messages go through file descriptors 1 and 2 of the C runtime it is linked
// with, which takes them from the standard handles when it starts. So the
// handles are set before any runtime library is loaded; a C runtime that is
// in the process already has its descriptors pointed at the file as well.
#include "launcher/javaoutput.h"

#include <stdio.h>

#include "launcher/folder_walk.h"
#include "launcher/output_pump.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/logfile.h"
#include "log/log.h"

wchar_t javaOutputPath[PATH_CAPACITY];
char javaOutputPathAnsi[ANSI_CAPACITY];
HANDLE javaOutputFile = INVALID_HANDLE_VALUE;

// The C runtimes a Java runtime's jvm.dll is linked with. Only one already in
// the process needs its descriptors set; nothing is loaded here.
static const wchar_t *const javaRuntimeCrts[] = {L"ucrtbase.dll", L"msvcr120.dll", L"msvcr100.dll"};

typedef intptr_t(__cdecl *GetOsfhandleFunction)(int);
typedef int(__cdecl *OpenOsfhandleFunction)(intptr_t, int);
typedef int(__cdecl *Dup2Function)(int, int);
typedef int(__cdecl *CloseFunction)(int);

#define CRT_O_TEXT 0x4000
// What a C runtime's descriptor holds when the process had no such handle
// when the runtime started (a service has no console).
#define CRT_NO_HANDLE ((intptr_t)-1)
#define CRT_NO_CONSOLE ((intptr_t)-2)

// Points descriptors 1 and 2 of one loaded C runtime at the file, in text
// mode as the runtime opens them itself. Only a descriptor without a handle
// is changed: _dup2 closes the handle a descriptor held, and that handle may
// be the one other code in the process writes to. The runtime owns the handle
// it is given, so it gets a duplicate; _dup2 duplicates again for each
// descriptor, and the first descriptor is closed after.
static void pointLoadedCrtAt(HMODULE crt, HANDLE file)
{
    GetOsfhandleFunction getOsfhandle = (GetOsfhandleFunction)(void *)GetProcAddress(crt, "_get_osfhandle");
    OpenOsfhandleFunction openOsfhandle = (OpenOsfhandleFunction)(void *)GetProcAddress(crt, "_open_osfhandle");
    Dup2Function dup2 = (Dup2Function)(void *)GetProcAddress(crt, "_dup2");
    CloseFunction close = (CloseFunction)(void *)GetProcAddress(crt, "_close");
    if (getOsfhandle == NULL || openOsfhandle == NULL || dup2 == NULL || close == NULL)
        return;
    HANDLE copy = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return;
    int fd = openOsfhandle((intptr_t)copy, CRT_O_TEXT);
    if (fd < 0) {
        CloseHandle(copy);
        return;
    }
    for (int standard = 1; standard <= 2; standard++) {
        intptr_t held = getOsfhandle(standard);
        if (held != CRT_NO_HANDLE && held != CRT_NO_CONSOLE)
            continue;
        // _dup2 duplicates with inheritance on (Wine's msvcrt and the UCRT
        // alike): a child started with inheritance would hold the file.
        if (dup2(fd, standard) == 0)
            SetHandleInformation((HANDLE)getOsfhandle(standard), HANDLE_FLAG_INHERIT, 0);
    }
    close(fd);
}

// Both standard handles, or neither: on failure the previous ones are put back.
static bool setStandardHandles(HANDLE file)
{
    HANDLE previousOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    if (SetStdHandle(STD_OUTPUT_HANDLE, file) && SetStdHandle(STD_ERROR_HANDLE, file))
        return true;
    DWORD error = GetLastError();
    SetStdHandle(STD_OUTPUT_HANDLE, previousOutput);
    SetLastError(error);
    return false;
}

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

void redirectJavaOutputTo(const wchar_t *value)
{
    if (value == NULL || value[0] == L'\0')
        return;
    if (wcsnlen(value, PATH_CAPACITY) >= PATH_CAPACITY) {
        // A cut path could name some other file: refuse the value instead.
        logWrite(RECORD_OUTPUT_VARIABLE_TOO_LONG, PATH_CAPACITY - 1);
        return;
    }
    boundedCopy(javaOutputPath, value);
    ansiCopy(javaOutputPath, javaOutputPathAnsi);

    // Shared for reading, writing and deletion, so the file can be read,
    // rotated or removed while the service runs. Not inheritable: the file
    // stays open for the life of the process, and a child that should write
    // there is given it explicitly (Java's ProcessBuilder marks the handles
    // it passes on inheritable itself); otherwise every child started with
    // inheritance would hold it open too.
    DWORD error = ERROR_SUCCESS;
    HANDLE file = openOutputFile(javaOutputPath, javaOutputPathAnsi, &error);
    if (file == INVALID_HANDLE_VALUE && error == ERROR_SUCCESS)
        return;
    // With rotation the virtual machine writes into the pump's pipe, and the
    // pump into the file; without it, straight into the file as ever.
    HANDLE target = file;
    if (file != INVALID_HANDLE_VALUE && outputRotationSize > 0) {
        target = startOutputPump(&file);
        if (file == INVALID_HANDLE_VALUE)
            return; // the new file after the first rotation: its record is written
        if (target == INVALID_HANDLE_VALUE)
            target = file; // no pipe: straight into the file, not rotated
    }
    if (target != INVALID_HANDLE_VALUE && !setStandardHandles(target)) {
        error = GetLastError();
        stopOutputPump();
        CloseHandle(file);
        target = INVALID_HANDLE_VALUE;
    }
    if (target == INVALID_HANDLE_VALUE) {
        logWrite(RECORD_OUTPUT_UNOPENED, javaOutputPathAnsi, (unsigned long)error);
        return;
    }
    javaOutputFile = file;
    bool crtPointed = false;
    for (const wchar_t *name : javaRuntimeCrts) {
        HMODULE crt = GetModuleHandleW(name);
        if (crt != NULL) {
            pointLoadedCrtAt(crt, target);
            crtPointed = true;
        }
    }
    // A C runtime's _dup2 onto descriptor 1 or 2 sets the standard handle to
    // its own duplicate (Wine's always, Windows' in console programs): put
    // back the one handle that lives as long as the process. Should that
    // fail, the handles still name the file, through the duplicates.
    if (crtPointed)
        (void)setStandardHandles(target);
    logWrite(RECORD_OUTPUT_REDIRECTED, javaOutputPathAnsi);
}
