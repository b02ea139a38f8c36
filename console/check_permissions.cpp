// Folder permissions: whoever may write or create where the service loads
// code from can make it run code of their own as the service's account.
// Debian's Wine 8 does not keep an access list set on a file: every folder
// reads back as SYSTEM and the Unix user with full control, so under Wine
// this section finds nothing. The decision itself is tested on descriptors
// from SDDL strings.
#include "console/check.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>

#include "console/report.h"
#include "console/write_access.h"

#define FOLDER_LIMIT (RUNTIME_CANDIDATE_COUNT + JVM_CANDIDATE_COUNT + 4)
#define WRITER_LIMIT 16

// The folders to look at, each once; on the heap.
struct FolderList {
    int count;
    wchar_t folders[FOLDER_LIMIT][PATH_CAPACITY];
    wchar_t nearest[PATH_CAPACITY];
    wchar_t quoted[PATH_CAPACITY];
};

static void addFolder(FolderList *list, const wchar_t *folder)
{
    if (folder[0] == L'\0' || list->count == FOLDER_LIMIT || GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return;
    for (int index = 0; index < list->count; index++)
        if (lstrcmpiW(list->folders[index], folder) == 0)
            return;
    boundedCopy(list->folders[list->count++], folder);
}

// The nearest existing folder above a library candidate: where someone
// could create the missing rest of its path.
static void addNearestParent(FolderList *list, const wchar_t *path)
{
    wchar_t *nearest = list->nearest;
    boundedCopy(nearest, path);
    for (;;) {
        wchar_t *slash = wcsrchr(nearest, L'\\');
        if (slash == NULL)
            return;
        slash[1] = L'\0';
        if (GetFileAttributesW(nearest) != INVALID_FILE_ATTRIBUTES) {
            addFolder(list, nearest);
            return;
        }
        slash[0] = L'\0';
    }
}

// The folder as icacls takes it: without its closing backslash, which would
// escape the closing quote; a drive's root, which has no blanks, unquoted.
static const char *icaclsFolder(FolderList *list, const wchar_t *folder)
{
    wchar_t *quoted = list->quoted;
    size_t length = wcslen(folder);
    if (length <= 3) {
        boundedCopy(quoted, folder);
    } else {
        boundedCopy(quoted, L"\"");
        boundedAppend(quoted, folder);
        if (folder[length - 1] == L'\\')
            quoted[length] = L'"';
        else
            boundedAppend(quoted, L"\"");
    }
    return reportPath(quoted);
}

static void reportWriter(FolderList *list, const wchar_t *folder, PSID sid)
{
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    wchar_t *sidText = NULL;
    if (!ConvertSidToStringSidW(sid, &sidText))
        return;
    bool named = LookupAccountSidW(NULL, sid, name, &nameSize, domain, &domainSize, &use) != 0;
    reportFinding(FINDING_PROBLEM, "%s%s%s (%s) may write or create in %s", named ? reportPath(domain) : "",
                  named && domain[0] != L'\0' ? "\\" : "", named ? reportPath(name) : "", reportPath(sidText),
                  reportPath(folder));
    reportRemedy("icacls %s /inheritance:d /remove:g *%s", icaclsFolder(list, folder), reportPath(sidText));
    LocalFree(sidText);
}

static void checkFolder(FolderList *list, const wchar_t *folder)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        NULL, NULL, NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS) {
        reportFinding(FINDING_WARNING, "the permissions of %s can't be read (error %lu)", reportPath(folder), error);
        return;
    }
    PSID writers[WRITER_LIMIT];
    int count = findOtherWriters(descriptor, writers, WRITER_LIMIT);
    if (count == 0)
        reportFinding(FINDING_OK, "%s: only administrators, SYSTEM and the owner may write", reportPath(folder));
    for (int index = 0; index < count; index++)
        reportWriter(list, folder, writers[index]);
    LocalFree(descriptor);
}

void checkPermissions(const Snapshot *snapshot)
{
    reportSection("Folder permissions");
    FolderList *list = (FolderList *)malloc(sizeof *list);
    if (list == NULL)
        return;
    list->count = 0;
    const PathsResult *paths = &snapshot->launch.paths;
    addFolder(list, paths->ktrPath);
    addFolder(list, paths->basePath);
    joinPath(list->nearest, paths->basePath, L"lib\\");
    addFolder(list, list->nearest);
    joinPath(list->nearest, paths->ktrPath, L"jdk\\");
    addFolder(list, list->nearest);
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->runtimePaths[index]);
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->jvmPaths[index]);
    for (int index = 0; index < list->count; index++)
        checkFolder(list, list->folders[index]);
    free(list);
}
