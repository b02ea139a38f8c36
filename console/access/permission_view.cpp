// How the permission section sees files and the key: Windows' own calls,
// unless a test has put a made-up tree in their place.
#include "console/access/permissions.h"

#include <stdlib.h>

static DWORD readDescriptor(const wchar_t *path, SE_OBJECT_TYPE type, PSECURITY_DESCRIPTOR *descriptor)
{
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

const PermissionSource *windowsPermissionSource(void)
{
    static const PermissionSource windows = {attributesOf, readDescriptor, listFolder};
    return &windows;
}
