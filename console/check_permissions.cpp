// Permissions: whoever may write or create where the service loads code
// from, or may change the files it loads or runs, can make it run code of
// their own as the service's account. Debian's Wine 8 does not keep an
// access list set on a file: every folder reads back as SYSTEM and the Unix
// user with full control, so under Wine this section finds nothing. The
// decision itself is tested on descriptors from SDDL strings.
#include "console/check.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>

#include "console/report.h"
#include "console/write_access.h"
#include "log/logowner.h"

// The folders the stages look in (four of their own, each candidate's
// nearest existing folder, and the folders VLCLASSPATH and VLJAVAOUTPUT name).
#define FOLDER_LIMIT 64
#define WRITER_LIMIT 16

// The folders to look at, each once, and room for a path; on the heap.
struct FolderList {
    bool ownersKept;
    int count;
    wchar_t folders[FOLDER_LIMIT][PATH_CAPACITY];
    wchar_t path[PATH_CAPACITY];
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

// The nearest existing folder above a path: where someone could create the
// missing rest of it, or replace what is there.
static void addNearestParent(FolderList *list, const wchar_t *path)
{
    wchar_t *nearest = list->path;
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

// Each entry of VLCLASSPATH: a folder of classes is itself where code comes
// from; for a jar, its folder.
static void addClassPathFolders(FolderList *list, const wchar_t *classPath)
{
    for (const wchar_t *entry = classPath; entry != NULL && *entry != L'\0';) {
        const wchar_t *end = wcschr(entry, L';');
        size_t length = end != NULL ? (size_t)(end - entry) : wcslen(entry);
        if (length > 0 && length < PATH_CAPACITY) {
            boundedPrefixCopy(list->path, entry, length);
            DWORD attributes = GetFileAttributesW(list->path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                addFolder(list, list->path);
            else
                addNearestParent(list, list->path);
        }
        entry = end != NULL ? end + 1 : NULL;
    }
}

// The path as icacls takes it: without a folder's closing backslash, which
// would escape the closing quote; a drive's root, which has no blanks, unquoted.
static const char *icaclsPath(FolderList *list, const wchar_t *path)
{
    wchar_t *quoted = list->quoted;
    size_t length = wcslen(path);
    if (length <= 3) {
        boundedCopy(quoted, path);
    } else {
        boundedCopy(quoted, L"\"");
        boundedAppend(quoted, path);
        if (path[length - 1] == L'\\')
            quoted[length] = L'"';
        else
            boundedAppend(quoted, L"\"");
    }
    return reportPath(quoted);
}

static void reportWriter(FolderList *list, const wchar_t *path, PSID sid, bool isOwner)
{
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    wchar_t *sidText = NULL;
    if (!ConvertSidToStringSidW(sid, &sidText))
        return;
    bool named = LookupAccountSidW(NULL, sid, name, &nameSize, domain, &domainSize, &use) != 0;
    const char *who = named ? reportPath(name) : "";
    const char *where = named ? reportPath(domain) : "";
    if (isOwner) {
        reportFinding(FINDING_PROBLEM, "%s%s%s (%s) owns %s and so may change who writes there", where,
                      named && domain[0] != L'\0' ? "\\" : "", who, reportPath(sidText), reportPath(path));
        reportRemedy("icacls %s /setowner *S-1-5-32-544", icaclsPath(list, path));
    } else {
        reportFinding(FINDING_PROBLEM, "%s%s%s (%s) may write or create in %s", where,
                      named && domain[0] != L'\0' ? "\\" : "", who, reportPath(sidText), reportPath(path));
        reportRemedy("icacls %s /inheritance:d /remove:g *%s", icaclsPath(list, path), reportPath(sidText));
    }
    LocalFree(sidText);
}

// Reports who else may write at the path; `quiet` leaves out the line for a
// path that is well. Returns false when someone else may write.
static bool checkPath(FolderList *list, const wchar_t *path, bool quiet)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        NULL, NULL, NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS) {
        reportFinding(FINDING_WARNING, "the permissions of %s can't be read (error %lu)", reportPath(path), error);
        return false;
    }
    PSID writers[WRITER_LIMIT];
    int unjudged = 0;
    int count = findOtherWriters(descriptor, list->ownersKept, writers, WRITER_LIMIT, &unjudged);
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    if (count == 0 && unjudged == 0 && !quiet)
        reportFinding(FINDING_OK, "%s: only administrators, SYSTEM and the installer may write", reportPath(path));
    for (int index = 0; index < count; index++)
        reportWriter(list, path, writers[index], owner != NULL && EqualSid(writers[index], owner));
    if (unjudged > 0) {
        reportFinding(FINDING_WARNING, "%s: %d access entries grant by conditions or object types this check does not weigh",
                      reportPath(path), unjudged);
        reportRemedy("review them: icacls %s", icaclsPath(list, path));
    }
    LocalFree(descriptor);
    return count == 0 && unjudged == 0;
}

// The jars on the class path, each a file the service loads.
static void checkJars(FolderList *list, const Snapshot *snapshot)
{
    const ClassPathResult *result = &snapshot->launch.classPath;
    if (result->overridden)
        return;
    size_t kept = result->entryCount < result->entryCapacity ? result->entryCount : result->entryCapacity;
    int jars = 0, sound = 0;
    for (size_t index = 0; index < kept; index++) {
        if (result->entries[index].verdict != ENTRY_ON_CLASS_PATH)
            continue;
        joinPath(list->path, snapshot->launch.paths.basePath, L"lib\\");
        boundedAppend(list->path, result->entries[index].name);
        jars++;
        sound += checkPath(list, list->path, true);
    }
    if (jars > 0 && sound == jars)
        reportFinding(FINDING_OK, "the %d jars on the class path: only administrators, SYSTEM and the installer may write",
                      jars);
}

// Whether the file system tells owners apart: Windows' own folder belongs to
// the installer or the system. Where it belongs to an ordinary account, as
// every file does under Wine, an owner says nothing about who may write.
static bool ownersKept(FolderList *list)
{
    UINT length = GetSystemDirectoryW(list->path, PATH_CAPACITY);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (length == 0 || length >= PATH_CAPACITY ||
        GetNamedSecurityInfoW(list->path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL,
                              &descriptor) != ERROR_SUCCESS)
        return true;
    bool kept = !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == NULL ||
                isTrustedPrincipal(owner);
    if (!kept)
        reportFinding(FINDING_OK, "owners are not told apart here (%s belongs to an ordinary account too): owners are not judged",
                      reportPath(list->path));
    LocalFree(descriptor);
    return kept;
}

void checkPermissions(const Snapshot *snapshot)
{
    reportSection("Folder permissions");
    FolderList *list = (FolderList *)malloc(sizeof *list);
    if (list == NULL)
        return;
    list->ownersKept = ownersKept(list);
    list->count = 0;
    const PathsResult *paths = &snapshot->launch.paths;
    addFolder(list, paths->ktrPath);
    addFolder(list, paths->basePath);
    joinPath(list->path, paths->basePath, L"lib\\");
    addFolder(list, list->path);
    joinPath(list->path, paths->ktrPath, L"jdk\\");
    addFolder(list, list->path);
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->runtimePaths[index]);
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->jvmPaths[index]);
    addClassPathFolders(list, snapshot->inputs.classPath);
    // The output file is created and appended to with the service's rights.
    const wchar_t *output = serviceVariable(&snapshot->environment, VARIABLE_JAVA_OUTPUT);
    if (output != NULL)
        addNearestParent(list, output);
    for (int index = 0; index < list->count; index++)
        checkPath(list, list->folders[index], false);

    // The libraries that loaded, and the jars: the files themselves.
    const ProbeResult *probe = &snapshot->launch.probe;
    if (probe->runtimeLoaded >= 0)
        checkPath(list, snapshot->runtimePaths[probe->runtimeLoaded], false);
    if (probe->jvmLoaded >= 0)
        checkPath(list, snapshot->jvmPaths[probe->jvmLoaded], false);
    checkJars(list, snapshot);
    free(list);
}
