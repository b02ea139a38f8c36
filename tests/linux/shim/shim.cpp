// The modelled system behind windows.h and io.h of this directory.
#include "windows.h"
#include "winternl.h"
#include "io.h"
#include "log/logowner.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>

static DWORD lastError;
static UINT codePage = SHIM_SINGLE_BYTE;

void InitializeCriticalSection(CRITICAL_SECTION *section)
{
    section->depth = 0;
}

// One thread only here; a nested or unbalanced use is a fault of the caller.
void EnterCriticalSection(CRITICAL_SECTION *section)
{
    if (section->depth != 0)
        abort();
    section->depth++;
}

// One thread only: the lock is always free when tried.
BOOL TryEnterCriticalSection(CRITICAL_SECTION *section)
{
    EnterCriticalSection(section);
    return TRUE;
}

ULONGLONG GetTickCount64(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (ULONGLONG)now.tv_sec * 1000u + (ULONGLONG)now.tv_nsec / 1000000u;
}

void Sleep(DWORD milliseconds)
{
    struct timespec pause = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

void LeaveCriticalSection(CRITICAL_SECTION *section)
{
    if (section->depth != 1)
        abort();
    section->depth--;
}

void DeleteCriticalSection(CRITICAL_SECTION *section)
{
    section->depth = -1;
}

LONG InterlockedExchange(volatile LONG *target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

void SetLastError(DWORD error)
{
    lastError = error;
}

DWORD GetLastError(void)
{
    return lastError;
}

// ------------------------------------------------------------ code pages

void shimSetCodePage(UINT page)
{
    codePage = page == SHIM_DOUBLE_BYTE ? SHIM_DOUBLE_BYTE : SHIM_SINGLE_BYTE;
}

UINT GetACP(void)
{
    return codePage;
}

BOOL IsDBCSLeadByte(BYTE byte)
{
    return codePage == SHIM_DOUBLE_BYTE && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

// Bytes of one character (one unit, or a surrogate pair) in the model code
// page; returns their count.
static int characterBytes(const wchar_t *src, int units, unsigned char *bytes)
{
    unsigned unit = (unsigned)src[0];
    if (units == 2 || IS_HIGH_SURROGATE(unit) || IS_LOW_SURROGATE(unit)) {
        bytes[0] = '?';
        return 1;
    }
    if (codePage == SHIM_SINGLE_BYTE) {
        bytes[0] = unit < 0x100 ? (unsigned char)unit : '?';
        return 1;
    }
    if (unit < 0x80) {
        bytes[0] = (unsigned char)unit;
        return 1;
    }
    if (unit >= 0xFF61 && unit <= 0xFF9F) {
        bytes[0] = (unsigned char)(0xA1 + (unit - 0xFF61));
        return 1;
    }
    if (unit >= 0x3000 && unit <= 0x9FFF) {
        // 60 lead bytes times 188 trail bytes (0x40-0xFC without 0x7F).
        unsigned index = (unit - 0x3000) % (60 * 188);
        unsigned lead = index / 188, trail = index % 188;
        bytes[0] = (unsigned char)(lead < 31 ? 0x81 + lead : 0xE0 + (lead - 31));
        bytes[1] = (unsigned char)(trail < 63 ? 0x40 + trail : 0x80 + (trail - 63));
        return 2;
    }
    bytes[0] = '?';
    return 1;
}

// As the system's: srcLength -1 takes the terminator too; a destination size
// of 0 asks for the size; a destination too small is filled as far as whole
// characters go and the result is 0.
int WideCharToMultiByte(UINT page, DWORD flags, LPCWSTR src, int srcLength, LPSTR dest, int destSize,
                        LPCSTR defaultChar, LPBOOL usedDefault)
{
    (void)page;
    (void)flags;
    (void)defaultChar;
    if (usedDefault != NULL)
        *usedDefault = FALSE;
    if (src == NULL || srcLength == 0 || srcLength < -1 || destSize < 0 || (destSize > 0 && dest == NULL)) {
        SetLastError(87);
        return 0;
    }
    size_t length = srcLength == -1 ? wcslen(src) + 1 : (size_t)srcLength;
    size_t written = 0;
    for (size_t at = 0; at < length;) {
        int units = (IS_HIGH_SURROGATE(src[at]) && at + 1 < length && IS_LOW_SURROGATE(src[at + 1])) ? 2 : 1;
        unsigned char bytes[2];
        int count = characterBytes(src + at, units, bytes);
        if (destSize > 0) {
            if (written + (size_t)count > (size_t)destSize) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(dest + written, bytes, (size_t)count);
        }
        written += (size_t)count;
        at += (size_t)units;
    }
    return (int)written;
}

// ------------------------------------------------------------ environment

#define SHIM_MAX_VARIABLES 8
static wchar_t variableNames[SHIM_MAX_VARIABLES][64];
static wchar_t *variableValues[SHIM_MAX_VARIABLES];

void shimClearEnvironment(void)
{
    for (int i = 0; i < SHIM_MAX_VARIABLES; i++) {
        free(variableValues[i]);
        variableValues[i] = NULL;
        variableNames[i][0] = L'\0';
    }
}

void shimSetEnvironment(const wchar_t *name, const wchar_t *value, size_t length)
{
    int slot = -1;
    for (int i = 0; i < SHIM_MAX_VARIABLES && slot < 0; i++)
        if (variableValues[i] != NULL && wcscmp(variableNames[i], name) == 0)
            slot = i;
    for (int i = 0; i < SHIM_MAX_VARIABLES && slot < 0; i++)
        if (variableValues[i] == NULL)
            slot = i;
    if (slot < 0 || wcslen(name) >= 64)
        abort();
    free(variableValues[slot]);
    variableValues[slot] = NULL;
    if (value == NULL)
        return;
    // Exactly length + 1 units, so a read past the value's end shows.
    variableValues[slot] = (wchar_t *)malloc((length + 1) * sizeof(wchar_t));
    if (variableValues[slot] == NULL)
        abort();
    memcpy(variableValues[slot], value, length * sizeof(wchar_t));
    variableValues[slot][length] = L'\0';
    wcscpy(variableNames[slot], name);
}

wchar_t *_wgetenv(const wchar_t *name)
{
    for (int i = 0; i < SHIM_MAX_VARIABLES; i++)
        if (variableValues[i] != NULL && wcscmp(variableNames[i], name) == 0)
            return variableValues[i];
    return NULL;
}

// ------------------------------------------------------ directory listings

#define SHIM_PATTERN_CAPACITY 32767
static BOOL searchFound[SHIM_MAX_SEARCHES];
static int searchTotal;          // listings scripted
static int searchCalls;          // FindFirstFileW calls made
static wchar_t searchPatterns[SHIM_MAX_SEARCHES][SHIM_PATTERN_CAPACITY + 1];
static int nameSearch[SHIM_MAX_NAMES];
static wchar_t names[SHIM_MAX_NAMES][MAX_PATH];
static int nameTotal;
static int nextName[SHIM_MAX_SEARCHES];
static BOOL searchOpen[SHIM_MAX_SEARCHES];
static unsigned noise = 0x2545F491u;

void shimResetSearches(void)
{
    searchTotal = 0;
    searchCalls = 0;
    nameTotal = 0;
    for (int i = 0; i < SHIM_MAX_SEARCHES; i++)
        searchOpen[i] = FALSE;
}

int shimAddSearch(BOOL found)
{
    if (searchTotal >= SHIM_MAX_SEARCHES)
        return -1;
    searchFound[searchTotal] = found;
    return searchTotal++;
}

void shimAddName(int search, const wchar_t *name, size_t length)
{
    if (search < 0 || search >= searchTotal || nameTotal >= SHIM_MAX_NAMES)
        return;
    if (length > MAX_PATH - 1)
        length = MAX_PATH - 1;
    memcpy(names[nameTotal], name, length * sizeof(wchar_t));
    names[nameTotal][length] = L'\0';
    nameSearch[nameTotal++] = search;
}

int shimSearchCount(void)
{
    return searchCalls;
}

const wchar_t *shimSearchPattern(int index)
{
    return index >= 0 && index < searchCalls && index < SHIM_MAX_SEARCHES ? searchPatterns[index] : L"";
}

int shimOpenSearches(void)
{
    int open = 0;
    for (int i = 0; i < SHIM_MAX_SEARCHES; i++)
        open += searchOpen[i] ? 1 : 0;
    return open;
}

// Next name of the search from position *at on; false when none is left.
static BOOL nextEntry(int search, LPWIN32_FIND_DATAW entry)
{
    for (; nextName[search] < nameTotal; nextName[search]++) {
        int at = nextName[search];
        if (nameSearch[at] != search)
            continue;
        nextName[search]++;
        // The name ends at its terminator; what follows in the record is noise.
        memset(entry, 0xA5, sizeof *entry);
        for (int i = 0; i < MAX_PATH; i++) {
            noise = noise * 1103515245u + 12345u;
            entry->cFileName[i] = (wchar_t)(L'N' + ((noise >> 16) & 7));
        }
        wcscpy(entry->cFileName, names[at]);
        entry->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        return TRUE;
    }
    return FALSE;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    int search = searchCalls++;
    // The system reads the pattern up to its terminator, wherever that is.
    size_t length = wcslen(pattern);
    if (search >= SHIM_MAX_SEARCHES) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (length > SHIM_PATTERN_CAPACITY)
        length = SHIM_PATTERN_CAPACITY;
    memcpy(searchPatterns[search], pattern, length * sizeof(wchar_t));
    searchPatterns[search][length] = L'\0';
    nextName[search] = 0;
    if (search >= searchTotal || !searchFound[search] || !nextEntry(search, entry)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    searchOpen[search] = TRUE;
    return (HANDLE)(uintptr_t)(0x5000 + search);
}

static int searchOf(HANDLE handle)
{
    uintptr_t value = (uintptr_t)handle;
    if (value < 0x5000 || value >= 0x5000 + SHIM_MAX_SEARCHES || !searchOpen[value - 0x5000])
        abort(); // a handle that is not an open search
    return (int)(value - 0x5000);
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW entry)
{
    if (!nextEntry(searchOf(handle), entry)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    searchOpen[searchOf(handle)] = FALSE;
    return TRUE;
}

// ------------------------------------------------------------ the module

static wchar_t modulePath[32768];

void shimSetModulePath(const wchar_t *path, size_t length)
{
    if (length > 32767)
        length = 32767;
    memcpy(modulePath, path, length * sizeof(wchar_t));
    modulePath[length] = L'\0';
}

HMODULE GetModuleHandleW(LPCWSTR name)
{
    return name == NULL ? (HMODULE)0x400000 : NULL;
}

// A path that does not fit is cut and terminated, as the system does.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size)
{
    (void)module;
    if (size == 0)
        return 0;
    size_t length = wcslen(modulePath);
    if (length >= size) {
        memcpy(path, modulePath, (size - 1) * sizeof(wchar_t));
        path[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(path, modulePath, (length + 1) * sizeof(wchar_t));
    return (DWORD)length;
}

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int size)
{
    if (size <= 0)
        return dest;
    size_t i = 0;
    for (; i + 1 < (size_t)size && src[i] != '\0'; i++)
        dest[i] = src[i];
    dest[i] = '\0';
    return dest;
}

LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR src, int size)
{
    if (size <= 0)
        return dest;
    size_t i = 0;
    for (; i + 1 < (size_t)size && src[i] != L'\0'; i++)
        dest[i] = src[i];
    dest[i] = L'\0';
    return dest;
}

int lstrcmpiA(LPCSTR a, LPCSTR b)
{
    return strcasecmp(a, b);
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void *security, DWORD disposition, DWORD flags,
                   HANDLE templateFile)
{
    (void)access, (void)share, (void)security, (void)disposition, (void)templateFile;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | ((flags & FILE_FLAG_OPEN_REPARSE_POINT) ? O_NOFOLLOW : 0),
                  0644);
    return fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)(intptr_t)fd;
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *information, DWORD size)
{
    struct stat status;
    if (fstat((int)(intptr_t)file, &status) != 0)
        return FALSE;
    memset(information, 0, size);
    if (kind == FileAttributeTagInfo && size >= sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
        ((FILE_ATTRIBUTE_TAG_INFO *)information)->FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return TRUE;
    }
    if (kind == FileStandardInfo && size >= sizeof(FILE_STANDARD_INFO)) {
        ((FILE_STANDARD_INFO *)information)->NumberOfLinks = (DWORD)status.st_nlink;
        return TRUE;
    }
    return FALSE;
}

NTSTATUS NtQueryInformationFile(HANDLE file, IO_STATUS_BLOCK *status, void *information, DWORD size,
                                FILE_INFORMATION_CLASS kind)
{
    struct stat fileStatus;
    if (kind != FileInternalInformation || size < sizeof(FILE_INTERNAL_INFORMATION) ||
        fstat((int)(intptr_t)file, &fileStatus) != 0)
        return (NTSTATUS)0xC0000001;
    ((FILE_INTERNAL_INFORMATION *)information)->IndexNumber.QuadPart = (int64_t)fileStatus.st_ino;
    status->Status = 0;
    status->Information = sizeof(FILE_INTERNAL_INFORMATION);
    return 0;
}

DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags)
{
    (void)flags;
    char link[64];
    char name[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", (int)(intptr_t)file);
    ssize_t length = readlink(link, name, sizeof name - 1);
    if (length < 0)
        return 0;
    if ((DWORD)length >= size)
        return (DWORD)length + 1;
    memcpy(path, name, (size_t)length);
    path[length] = '\0';
    return (DWORD)length;
}

BOOL CloseHandle(HANDLE handle)
{
    return close((int)(intptr_t)handle) == 0;
}

// Files here have no owners: every one is the account's own.
bool hasTrustedOwner(HANDLE file, char *ownerText)
{
    (void)file;
    ownerText[0] = '\0';
    return true;
}

void fileOwnerText(HANDLE file, char *ownerText)
{
    (void)file;
    ownerText[0] = '\0';
}
