// Folder permissions: whoever may write or create where the service loads
// code from can make it run code of their own as the service's account.
// Debian's Wine 8 does not keep an access list set on a file: every folder
// reads back as SYSTEM and the Unix user with full control, so under Wine
// this section finds nothing. The decision itself is tested on descriptors
// from SDDL strings.
#include "console/check.h"

#include <aclapi.h>
#include <sddl.h>

#include "console/report.h"
#include "console/write_access.h"
#include "launcher/paths.h"

#define FOLDER_LIMIT (CANDIDATE_LIMIT + 4)
#define WRITER_LIMIT 16

static wchar_t folders[FOLDER_LIMIT][PATH_CAPACITY];
static int folderCount;
static wchar_t nearest[PATH_CAPACITY];

static void addFolder(const wchar_t *folder)
{
    if (folder[0] == L'\0' || folderCount == FOLDER_LIMIT || GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return;
    for (int index = 0; index < folderCount; index++)
        if (lstrcmpiW(folders[index], folder) == 0)
            return;
    boundedCopy(folders[folderCount++], folder);
}

// The nearest existing folder above a library candidate: where someone
// could create the missing rest of its path.
static void addNearestParent(const wchar_t *path)
{
    boundedCopy(nearest, path);
    for (;;) {
        wchar_t *slash = wcsrchr(nearest, L'\\');
        if (slash == NULL)
            return;
        slash[1] = L'\0';
        if (GetFileAttributesW(nearest) != INVALID_FILE_ATTRIBUTES) {
            addFolder(nearest);
            return;
        }
        slash[0] = L'\0';
    }
}

// The folder as icacls takes it: without its closing backslash, which would
// escape the closing quote; a drive's root, which has no blanks, unquoted.
static const char *icaclsFolder(const wchar_t *folder)
{
    static wchar_t quoted[PATH_CAPACITY];
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

static void reportWriter(const wchar_t *folder, PSID sid)
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
    reportRemedy("icacls %s /inheritance:d /remove:g *%s", icaclsFolder(folder), reportPath(sidText));
    LocalFree(sidText);
}

static void checkFolder(const wchar_t *folder)
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
        reportWriter(folder, writers[index]);
    LocalFree(descriptor);
}

void checkPermissions(void)
{
    reportSection("Folder permissions");
    folderCount = 0;
    addFolder(ktrPath);
    addFolder(basePath);
    joinPath(nearest, basePath, L"lib\\");
    addFolder(nearest);
    joinPath(nearest, ktrPath, L"jdk\\");
    addFolder(nearest);
    for (int index = 0; index < candidatePathCount; index++)
        addNearestParent(candidatePaths[index]);
    for (int index = 0; index < folderCount; index++)
        checkFolder(folders[index]);
}
