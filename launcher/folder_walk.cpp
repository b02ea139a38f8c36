// A path's folders could lead anywhere: a junction on the way would have the
// service make or write a file wherever whoever planted it chose. So each
// folder is opened relative to the one before, as itself, and checked; the
// file is opened relative to the last. Under Wine, which knows no reparse
// points and follows a Unix symbolic link whatever it is asked, only the
// file's final name tells (javaoutput.cpp asks it).
#include "launcher/folder_walk.h"

#include <wchar.h>
#include <winternl.h>

#include "launcher/strings.h"

static const ULONG walkShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Where the path's root ends: after "X:\" or "\\server\share\", either with
// "\\?\" before it; 0 for any other form.
static size_t rootLength(const wchar_t *path)
{
    bool prefixed = wcsncmp(path, L"\\\\?\\", 4) == 0;
    bool unc = prefixed ? wcsncmp(path + 4, L"UNC\\", 4) == 0 : wcsncmp(path, L"\\\\", 2) == 0;
    size_t at = prefixed ? (unc ? 8 : 4) : (unc ? 2 : 0);
    if (!unc)
        return path[at] != L'\0' && path[at + 1] == L':' && path[at + 2] == L'\\' ? at + 3 : 0;
    const wchar_t *server = wcschr(path + at, L'\\');
    const wchar_t *share = server != NULL && server > path + at ? wcschr(server + 1, L'\\') : NULL;
    return share != NULL && share > server + 1 ? (size_t)(share - path) + 1 : 0;
}

// One name relative to an open folder, opened as itself (a reparse point is
// not followed). The Windows error, or ERROR_SUCCESS.
static DWORD openRelative(HANDLE folder, const wchar_t *name, size_t length, ACCESS_MASK access, ULONG disposition,
                          ULONG options, HANDLE *handle)
{
    UNICODE_STRING string;
    string.Buffer = (PWSTR)name;
    string.Length = string.MaximumLength = (USHORT)(length * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &string, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK status;
    NTSTATUS result =
        NtCreateFile(handle, access | SYNCHRONIZE, &attributes, &status, NULL, FILE_ATTRIBUTE_NORMAL, walkShare,
                     disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, NULL, 0);
    if (result >= 0)
        return ERROR_SUCCESS;
    *handle = INVALID_HANDLE_VALUE;
    return RtlNtStatusToDosError(result);
}

static bool isReparsePoint(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    // Unreadable counts as one: the folder is not known to be plain.
    return !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The existing file, else a new one where nothing is (FILE_CREATE fails on a
// link, dangling or not). Two rounds cover a file that comes or goes between
// the two opens. Errors read as CreateFileW gives them.
static WalkOutcome openFile(HANDLE folder, const wchar_t *name, ACCESS_MASK access, bool make, HANDLE *file,
                            DWORD *error)
{
    const ULONG options = FILE_NON_DIRECTORY_FILE;
    size_t length = wcslen(name);
    for (int round = 0; round < 2; round++) {
        *error = openRelative(folder, name, length, access, FILE_OPEN, options, file);
        if (*error != ERROR_FILE_NOT_FOUND || !make)
            break;
        *error = openRelative(folder, name, length, access | DELETE, FILE_CREATE, options, file);
        if (*error == ERROR_SUCCESS)
            return WALK_CREATED;
        if (*error != ERROR_ALREADY_EXISTS)
            break;
        *error = ERROR_FILE_EXISTS;
    }
    return *error == ERROR_SUCCESS ? WALK_OPENED : WALK_NOT_OPENED;
}

static WalkOutcome walkTo(const wchar_t *path, ACCESS_MASK access, bool make, HANDLE *file, DWORD *error)
{
    *file = INVALID_HANDLE_VALUE;
    // On the launcher thread's stack, which has room before the virtual machine.
    wchar_t full[PATH_CAPACITY];
    DWORD length = GetFullPathNameW(path, PATH_CAPACITY, full, NULL);
    size_t root = length > 0 && length < PATH_CAPACITY ? rootLength(full) : 0;
    if (root == 0) {
        *error = length == 0 ? GetLastError() : ERROR_BAD_PATHNAME;
        return WALK_NOT_OPENED;
    }
    wchar_t first = full[root];
    full[root] = L'\0';
    HANDLE folder = CreateFileW(full, FILE_TRAVERSE | SYNCHRONIZE, walkShare, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    full[root] = first;
    if (folder == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return WALK_NOT_OPENED;
    }
    const wchar_t *name = full + root;
    for (const wchar_t *end = wcschr(name, L'\\'); end != NULL; end = wcschr(name, L'\\')) {
        HANDLE next;
        *error = openRelative(folder, name, (size_t)(end - name), FILE_TRAVERSE | FILE_READ_ATTRIBUTES, FILE_OPEN,
                              FILE_DIRECTORY_FILE, &next);
        CloseHandle(folder);
        if (*error != ERROR_SUCCESS) {
            // A folder that is missing or a file, as CreateFileW names it.
            if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_DIRECTORY)
                *error = ERROR_PATH_NOT_FOUND;
            return WALK_NOT_OPENED;
        }
        folder = next;
        if (isReparsePoint(folder)) {
            CloseHandle(folder);
            return WALK_LINK_ON_PATH;
        }
        name = end + 1;
    }
    WalkOutcome outcome = openFile(folder, name, access, make, file, error);
    CloseHandle(folder);
    return outcome;
}

WalkOutcome openWithoutLinks(const wchar_t *path, ACCESS_MASK access, HANDLE *file, DWORD *error)
{
    return walkTo(path, access, true, file, error);
}

WalkOutcome openExistingWithoutLinks(const wchar_t *path, ACCESS_MASK access, HANDLE *file, DWORD *error)
{
    return walkTo(path, access, false, file, error);
}
