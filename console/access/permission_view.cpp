// How the permission section sees files and the key: Windows' own calls,
// unless a test has put a made-up tree in their place.
#include "console/access/permissions.h"

#include <stdlib.h>

// A service's owner and access list, as the service manager keeps them.
static DWORD readServiceDescriptor(const wchar_t *name, PSECURITY_DESCRIPTOR *descriptor)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return GetLastError();
    SC_HANDLE service = OpenServiceW(manager, name, READ_CONTROL);
    DWORD error = ERROR_SUCCESS, size = 0;
    if (service == NULL) {
        error = GetLastError();
    } else {
        SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        if (!QueryServiceObjectSecurity(service, wanted, NULL, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            error = GetLastError();
        else if ((*descriptor = LocalAlloc(LMEM_FIXED, size)) == NULL)
            error = ERROR_NOT_ENOUGH_MEMORY;
        else if (!QueryServiceObjectSecurity(service, wanted, *descriptor, size, &size)) {
            error = GetLastError();
            LocalFree(*descriptor);
            *descriptor = NULL;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

static DWORD readDescriptor(const wchar_t *path, SE_OBJECT_TYPE type, PSECURITY_DESCRIPTOR *descriptor)
{
    if (type == SE_SERVICE)
        return readServiceDescriptor(path, descriptor);
    return GetNamedSecurityInfoW(path, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL, NULL, NULL,
                                 NULL, descriptor);
}

static void listFolder(const wchar_t *folder, EntryVisitor visit, FolderList *list)
{
    wchar_t *pattern = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    if (pattern == NULL || !joinPath(pattern, folder, L"*")) {
        free(pattern);
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    free(pattern);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0)
            visit(list, entry.cFileName, entry.dwFileAttributes);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

static DWORD attributesOf(const wchar_t *path)
{
    return GetFileAttributesW(path);
}

static DWORD readStart(const wchar_t *path, char *buffer, DWORD capacity, DWORD *length)
{
    *length = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = ERROR_SUCCESS;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || !ReadFile(file, buffer, capacity, length, NULL))
        error = GetLastError();
    else if (size.QuadPart > (LONGLONG)capacity)
        error = ERROR_MORE_DATA;
    CloseHandle(file);
    return error;
}

const PermissionSource *windowsPermissionSource(void)
{
    static const PermissionSource windows = {attributesOf, readDescriptor, listFolder, readStart};
    return &windows;
}
