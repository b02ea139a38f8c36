// Just enough of the Windows interface for the launcher's string, path, class
// path and log routines to build natively on Linux, so that they can run under
// AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer.
//
// wchar_t is 32 bits wide here; the checks only ever store UTF-16 code units
// (0 to 0xFFFF) in it, so the routines see the same values as on Windows.
//
// The system's side is a model that the checks control: the ANSI code page
// (single-byte, or double-byte with 932's lead-byte ranges), the directory
// listings that FindFirstFileW and FindNextFileW return, the environment
// that _wgetenv reads, and the executable's path.
#ifndef VELMORANE_LINUX_SHIM_WINDOWS_H
#define VELMORANE_LINUX_SHIM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#define WINAPI
#define MAX_PATH 260
#define CP_ACP 0
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define GENERIC_WRITE 0x40000000u
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define FILE_READ_ATTRIBUTES 0x80u
#define READ_CONTROL 0x00020000
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_NAME_NORMALIZED 0x0

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned long long ULONGLONG;
typedef void *PSID;
typedef void *PSECURITY_DESCRIPTOR;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef void *HANDLE;
typedef void *HMODULE;
typedef const wchar_t *LPCWSTR;
typedef wchar_t *LPWSTR;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef int *LPBOOL;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define TRUE 1
#define FALSE 0

#define IS_HIGH_SURROGATE(w) ((unsigned)(w) >= 0xD800u && (unsigned)(w) <= 0xDBFFu)
#define IS_LOW_SURROGATE(w) ((unsigned)(w) >= 0xDC00u && (unsigned)(w) <= 0xDFFFu)

typedef struct {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    wchar_t cFileName[MAX_PATH];
    wchar_t cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

typedef struct {
    int depth;
} CRITICAL_SECTION;

void InitializeCriticalSection(CRITICAL_SECTION *section);
void EnterCriticalSection(CRITICAL_SECTION *section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION *section);
void LeaveCriticalSection(CRITICAL_SECTION *section);
void DeleteCriticalSection(CRITICAL_SECTION *section);
LONG InterlockedExchange(volatile LONG *target, LONG value);

ULONGLONG GetTickCount64(void);
void Sleep(DWORD milliseconds);

void SetLastError(DWORD error);
DWORD GetLastError(void);

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dest, int destSize,
                        LPCSTR defaultChar, LPBOOL usedDefault);
BOOL IsDBCSLeadByte(BYTE byte);
UINT GetACP(void);

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW entry);
BOOL FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW entry);
BOOL FindClose(HANDLE search);

HMODULE GetModuleHandleW(LPCWSTR name);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int size);
LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR src, int size);
int lstrcmpiA(LPCSTR a, LPCSTR b);

typedef union {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    int64_t QuadPart;
} LARGE_INTEGER;
typedef enum { FileStandardInfo = 1, FileAttributeTagInfo = 9 } FILE_INFO_BY_HANDLE_CLASS;
typedef struct {
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    DWORD NumberOfLinks;
    BOOL DeletePending;
    BOOL Directory;
} FILE_STANDARD_INFO;
typedef struct {
    DWORD FileAttributes;
    DWORD ReparseTag;
} FILE_ATTRIBUTE_TAG_INFO;

// Files are POSIX descriptors; the link flag becomes O_NOFOLLOW, the final
// name is what /proc/self/fd says.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void *security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *information, DWORD size);
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags);
BOOL CloseHandle(HANDLE handle);

wchar_t *_wgetenv(const wchar_t *name);

// ------------------------------------------------------- the checks' controls

// Code pages of the model: 1252-like (one byte per character; U+0000 to
// U+00FF map to themselves, everything else to '?') or 932-like (CJK and
// kana take two bytes, lead bytes 0x81-0x9F and 0xE0-0xFC, half-width kana
// one byte).
#define SHIM_SINGLE_BYTE 1252u
#define SHIM_DOUBLE_BYTE 932u
void shimSetCodePage(UINT codePage);

// Environment: a small table; a null value removes the variable.
void shimSetEnvironment(const wchar_t *name, const wchar_t *value, size_t length);
void shimClearEnvironment(void);

// The listings FindFirstFileW hands out, in call order: the n-th call gets
// the n-th listing (found or not). Names are copied, cut at MAX_PATH - 1.
#define SHIM_MAX_SEARCHES 64
#define SHIM_MAX_NAMES 512
void shimResetSearches(void);
// Adds a listing; returns its index or -1 when the table is full.
int shimAddSearch(BOOL found);
void shimAddName(int search, const wchar_t *name, size_t length);
// Number of FindFirstFileW calls so far, the pattern of each (as received,
// measured within 32767 units), and searches still open.
int shimSearchCount(void);
const wchar_t *shimSearchPattern(int index);
int shimOpenSearches(void);

// What GetModuleFileNameW reports.
void shimSetModulePath(const wchar_t *path, size_t length);

#endif
