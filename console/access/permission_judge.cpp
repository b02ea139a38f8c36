// The permission section's judgement of one folder, file or key, and the
// list of folders it judges, for the section (check_permissions.cpp) and
// what the service runs (permission_targets.cpp) alike.
#include "console/access/permissions.h"

#include <sddl.h>
#include <stdlib.h>

#include "console/access/write_access.h"
#include "console/report.h"
#include "log/logowner.h"

#define WRITER_LIMIT 16

FolderList *newFolderList(const PermissionSource *source, bool ownersKept, PSID serviceAccount)
{
    FolderList *list = (FolderList *)malloc(sizeof *list);
    if (list == NULL)
        return NULL;
    list->source = source;
    list->serviceAccount = serviceAccount;
    list->ownersKept = ownersKept;
    list->count = 0;
    list->judged = 0;
    list->sound = 0;
    list->loadedFiles[0] = NULL;
    list->loadedFiles[1] = NULL;
    list->inOptionsFile = false;
    return list;
}

bool addFolder(FolderList *list, const wchar_t *folder)
{
    if (folder[0] == L'\0' || list->count == FOLDER_LIMIT || list->source->attributes(folder) == INVALID_FILE_ATTRIBUTES)
        return false;
    if (judgedAlready(list, folder))
        return false;
    boundedCopy(list->folders[list->count++], folder);
    return true;
}

bool judgedAlready(const FolderList *list, const wchar_t *path)
{
    for (int index = 0; index < list->count; index++)
        if (lstrcmpiW(list->folders[index], path) == 0)
            return true;
    for (const wchar_t *file : list->loadedFiles)
        if (file != NULL && lstrcmpiW(file, path) == 0)
            return true;
    return false;
}

// The nearest existing folder above a path: where someone could create the
// missing rest of it, or replace what is there.
bool addNearestParent(FolderList *list, const wchar_t *path)
{
    wchar_t *nearest = list->path;
    boundedCopy(nearest, path);
    for (;;) {
        wchar_t *slash = wcsrchr(nearest, L'\\');
        if (slash == NULL)
            return false;
        slash[1] = L'\0';
        if (list->source->attributes(nearest) != INVALID_FILE_ATTRIBUTES)
            return addFolder(list, nearest);
        slash[0] = L'\0';
    }
}

void forEachClassPathEntry(FolderList *list, const wchar_t *classPath, wchar_t *path, EntryVisitor visit)
{
    for (const wchar_t *entry = classPath; entry != NULL && *entry != L'\0';) {
        const wchar_t *end = wcschr(entry, L';');
        size_t length = end != NULL ? (size_t)(end - entry) : wcslen(entry);
        if (length > 0 && length < PATH_CAPACITY) {
            boundedPrefixCopy(path, entry, length);
            visit(list, path, list->source->attributes(path));
        }
        entry = end != NULL ? end + 1 : NULL;
    }
}

// The path as icacls takes it: without a folder's closing backslash, which
// would escape the closing quote; a drive's root, which has no blanks, unquoted.
const char *icaclsPath(FolderList *list, const wchar_t *path)
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

// The key as regedit names it, from its name for GetNamedSecurityInfoW.
#define KEY_OBJECT_PREFIX L"MACHINE\\"
#define KEY_DISPLAY_PREFIX "HKLM\\"

static bool isKey(JudgedObject what)
{
    return what == JUDGE_KEY || what == JUDGE_ENVIRONMENT_KEY;
}

static void reportWriter(FolderList *list, const wchar_t *path, JudgedObject what, PSID sid, bool isOwner)
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
    const char *separator = named && domain[0] != L'\0' ? "\\" : "";
    const char *sidName = reportPath(sidText);
    if (isKey(what)) {
        const char *key = reportPath(path + wcslen(KEY_OBJECT_PREFIX));
        const char *role = what == JUDGE_KEY ? "the service's key" : "the machine-wide environment's key";
        if (isOwner) {
            reportFinding(FINDING_PROBLEM, "%s%s%s (%s) owns %s " KEY_DISPLAY_PREFIX "%s and so may change who writes there",
                          where, separator, who, sidName, role, key);
            reportRemedy("make Administrators its owner: regedit, " KEY_DISPLAY_PREFIX "%s, Permissions, Advanced", key);
        } else {
            reportFinding(FINDING_PROBLEM, "%s%s%s (%s) may change %s " KEY_DISPLAY_PREFIX "%s", where, separator, who,
                          sidName, role, key);
            reportRemedy("remove its entry: regedit, " KEY_DISPLAY_PREFIX "%s, Permissions", key);
        }
    } else if (what == JUDGE_SERVICE) {
        reportFinding(FINDING_PROBLEM, "%s%s%s (%s) %s the service %s and so may make it run any program as its account",
                      where, separator, who, sidName, isOwner ? "owns" : "may change the configuration of", reportPath(path));
        reportRemedy("take its rights away: sc sdshow %s, then sc sdset %s without its entries", reportPath(path),
                     reportPath(path));
    } else if (isOwner) {
        reportFinding(FINDING_PROBLEM, "%s%s%s (%s) owns %s and so may change who writes there", where, separator, who,
                      sidName, reportPath(path));
        reportRemedy("icacls %s /setowner *S-1-5-32-544", icaclsPath(list, path));
    } else {
        if (what == JUDGE_ROOT_PARENT)
            reportFinding(FINDING_PROBLEM, "%s%s%s (%s) may rename or delete what %s holds, the installation root too",
                          where, separator, who, sidName, reportPath(path));
        else
            reportFinding(FINDING_PROBLEM, "%s%s%s (%s) may write or create in %s", where, separator, who, sidName,
                          reportPath(path));
        reportRemedy("icacls %s /inheritance:d /remove:g *%s", icaclsPath(list, path), sidName);
    }
    LocalFree(sidText);
}

// The service opens through a link as through the folder or file itself: what
// lies behind it is not judged here.
static bool isLink(FolderList *list, const wchar_t *path)
{
    DWORD attributes = list->source->attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    reportFinding(FINDING_WARNING, "%s is a link (a junction or a symbolic link): the service follows it, this check does not",
                  reportPath(path));
    reportRemedy("put the folder or file itself in its place, or judge where it leads: fsutil reparsepoint query %s",
                 icaclsPath(list, path));
    return true;
}

static const ACCESS_MASK judgedRights[] = {WRITE_ACCESS_MASK, RENAME_ACCESS_MASK, KEY_CHANGE_ACCESS_MASK,
                                           KEY_CHANGE_ACCESS_MASK, SERVICE_CHANGE_ACCESS_MASK};

bool judgeObject(FolderList *list, const wchar_t *path, JudgedObject what, bool quiet)
{
    bool file = what == JUDGE_PLACE || what == JUDGE_ROOT_PARENT;
    if (file && isLink(list, path))
        return false;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = list->source->descriptor(path, isKey(what) ? SE_REGISTRY_KEY : file ? SE_FILE_OBJECT : SE_SERVICE,
                                           &descriptor);
    // Not installed: the registration's section says so.
    if ((isKey(what) && error == ERROR_FILE_NOT_FOUND) || (what == JUDGE_SERVICE && error == ERROR_SERVICE_DOES_NOT_EXIST))
        return true;
    const char *name = isKey(what) ? reportPath(path + wcslen(KEY_OBJECT_PREFIX)) : reportPath(path);
    const char *prefix = isKey(what) ? KEY_DISPLAY_PREFIX : file ? "" : "the service ";
    if (error != ERROR_SUCCESS) {
        reportFinding(FINDING_WARNING, "the permissions of %s%s can't be read (error %lu)", prefix, name, error);
        return false;
    }
    PSID writers[WRITER_LIMIT];
    UnjudgedEntries unjudged;
    // What the folder above the root holds is judged on its own: the root.
    int count = findPrincipalsWith(descriptor, list->ownersKept, list->serviceAccount, judgedRights[what],
                                   what != JUDGE_ROOT_PARENT, writers, WRITER_LIMIT, &unjudged);
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    bool sound = count == 0 && unjudged.conditional == 0 && unjudged.crowded == 0;
    if (sound && !quiet)
        reportFinding(FINDING_OK, "%s%s: only administrators, SYSTEM and the installer may %s", prefix, name,
                      what == JUDGE_ROOT_PARENT ? "rename what it holds"
                      : isKey(what)             ? "change it"
                      : file                    ? "write"
                                                : "change its configuration");
    for (int index = 0; index < count; index++)
        reportWriter(list, path, what, writers[index], owner != NULL && EqualSid(writers[index], owner));
    if (unjudged.conditional > 0)
        reportFinding(FINDING_WARNING, "%s%s: %d %s by conditions or object types this check does not weigh",
                      prefix, name, unjudged.conditional,
                      countWords(unjudged.conditional, "access entry grants", "access entries grant"));
    if (unjudged.crowded > 0)
        reportFinding(FINDING_WARNING, "%s%s: %d %s more principals than the %d this check tells apart",
                      prefix, name, unjudged.crowded, countWords(unjudged.crowded, "access entry names", "access entries name"),
                      PRINCIPAL_LIMIT);
    if (unjudged.conditional > 0 || unjudged.crowded > 0) {
        if (isKey(what))
            reportRemedy("review them: regedit, %s%s, Permissions", prefix, name);
        else if (what == JUDGE_SERVICE)
            reportRemedy("review them: sc sdshow %s", name);
        else
            reportRemedy("review them: icacls %s", icaclsPath(list, path));
    }
    LocalFree(descriptor);
    if (quiet) {
        list->judged++;
        list->sound += sound;
    }
    return sound;
}
