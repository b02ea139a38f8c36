// The service's account in the permission section: named from its
// registration, the judgement of who else may write made against it, and
// whether it may itself read the tree, load jvm.dll, create the log and
// write the Java output. Under Wine every file grants SYSTEM and the Unix
// user everything and no virtual account exists, so only LocalSystem is
// seen there; the judgement is tested on made-up descriptors.
#include "console/access/permissions.h"

#include <sddl.h>
#include <stdlib.h>

#include "console/access/account_access.h"
#include "console/access/write_access.h"
#include "console/log_view.h"
#include "console/report.h"
#include "log/log.h"
#include "log/logowner.h"

static wchar_t accountName[256];
static char accountSidText[OWNER_TEXT_CAPACITY];
static BYTE account[SECURITY_MAX_SID_SIZE];
static AccountSids accountSids;

PSID knowServiceAccount(const ServiceManager *manager)
{
    serviceAccountName(manager, accountName, sizeof accountName / sizeof accountName[0]);
    wchar_t *sidText = NULL;
    if (!registeredAccountSid(accountName, (PSID)account, sizeof account) || !serviceAccountSids(account, &accountSids) ||
        !ConvertSidToStringSidW((PSID)account, &sidText)) {
        reportFinding(FINDING_WARNING, "the service's account %s can't be found here (error %lu): what it may read and write is not judged",
                      reportPath(accountName), GetLastError());
        reportRemedy("sc config %ls obj= LocalSystem, or create the account", SERVICE_NAME);
        return NULL;
    }
    lstrcpynA(accountSidText, reportPath(sidText), sizeof accountSidText);
    LocalFree(sidText);
    reportFinding(FINDING_OK, "the service's account: %s (%s)", reportPath(accountName), accountSidText);
    return (PSID)account;
}

enum AccountUse { USE_READ, USE_LOAD, USE_CREATE, USE_WRITE };
static const char *const useVerbs[] = {"read", "load", "create", "write"};
// What icacls grants for each: on a folder to read, for what it holds too.
static const char *const useGrants[] = {"RX", "RX", "WD", "M"};

// Whether the account has `needed` on `object` (`named` is what the line
// names: the object itself, or a file to be created in it). A problem with
// the icacls grant that mends it when not; an ok line unless `quiet`.
static bool judgeUse(FolderList *list, const wchar_t *object, ACCESS_MASK needed, AccountUse use, const wchar_t *named,
                     bool quiet)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = list->source->descriptor(object, SE_FILE_OBJECT, &descriptor);
    const char *who = reportPath(accountName);
    if (error != ERROR_SUCCESS) {
        reportFinding(FINDING_WARNING, "whether %s may %s %s can't be read (error %lu)", who, useVerbs[use],
                      reportPath(named), error);
        return false;
    }
    bool may = (accountAccess(descriptor, &accountSids) & needed) == needed;
    LocalFree(descriptor);
    if (may && !quiet)
        reportFinding(FINDING_OK, "%s may %s %s", who, useVerbs[use], reportPath(named));
    if (!may) {
        bool folder = (list->source->attributes(object) & FILE_ATTRIBUTE_DIRECTORY) != 0;
        reportFinding(FINDING_PROBLEM, "%s may not %s %s", who, useVerbs[use], reportPath(named));
        reportRemedy("icacls %s /grant *%s:%s%s", icaclsPath(list, object), accountSidText,
                     folder && use == USE_READ ? "(OI)(CI)" : "", useGrants[use]);
    }
    return may;
}

// A file the service writes: the file when it is there, else its folder,
// where it is created; the service makes no folders.
static void judgeWritten(FolderList *list, const wchar_t *file, ACCESS_MASK needed)
{
    if (list->source->attributes(file) != INVALID_FILE_ATTRIBUTES) {
        judgeUse(list, file, needed, USE_WRITE, file, false);
        return;
    }
    wchar_t *folder = list->path;
    boundedCopy(folder, file);
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (slash == NULL)
        return;
    slash[1] = L'\0';
    if (list->source->attributes(folder) != INVALID_FILE_ATTRIBUTES) {
        judgeUse(list, folder, CREATE_RIGHTS, USE_CREATE, file, false);
        return;
    }
    reportFinding(FINDING_PROBLEM, "%s may not create %s: its folder does not exist", reportPath(accountName),
                  reportPath(file));
    reportRemedy("mkdir %s", icaclsPath(list, folder));
}

// The jars on the class path: each judged, named when one can't be read.
static void judgeJars(FolderList *list, const Snapshot *snapshot)
{
    const ClassPathResult *result = &snapshot->stages->results.classPath;
    size_t kept = result->entryCount < result->entryCapacity ? result->entryCount : result->entryCapacity;
    int jars = 0, readable = 0;
    for (size_t index = 0; index < kept && !result->overridden; index++) {
        if (result->entries[index].verdict != ENTRY_ON_CLASS_PATH)
            continue;
        joinPath(list->walk, snapshot->stages->results.paths.basePath, L"lib\\");
        boundedAppend(list->walk, result->entries[index].name);
        jars++;
        readable += judgeUse(list, list->walk, READ_FILE_RIGHTS, USE_READ, list->walk, true);
    }
    if (jars > 0 && readable == jars)
        reportFinding(FINDING_OK, "%s may read the %d %s on the class path", reportPath(accountName), jars,
                      countWords(jars, "jar", "jars"));
}

void judgeAccountAccess(const Snapshot *snapshot, const PermissionSource *source)
{
    FolderList *list = newFolderList(source, true, NULL);
    if (list == NULL)
        return;
    const wchar_t *base = snapshot->stages->results.paths.basePath;
    if (list->source->attributes(base) != INVALID_FILE_ATTRIBUTES)
        judgeUse(list, base, READ_FOLDER_RIGHTS, USE_READ, base, false);
    joinPath(list->path, base, L"lib\\");
    if (list->source->attributes(list->path) != INVALID_FILE_ATTRIBUTES)
        judgeUse(list, list->path, READ_FOLDER_RIGHTS, USE_READ, list->path, false);
    judgeJars(list, snapshot);
    const ProbeResult *probe = &snapshot->stages->results.probe;
    if (probe->runtimeLoaded >= 0)
        judgeUse(list, snapshot->runtimePaths[probe->runtimeLoaded], LOAD_RIGHTS, USE_LOAD,
                 snapshot->runtimePaths[probe->runtimeLoaded], false);
    if (probe->jvmLoaded >= 0)
        judgeUse(list, snapshot->jvmPaths[probe->jvmLoaded], LOAD_RIGHTS, USE_LOAD, snapshot->jvmPaths[probe->jvmLoaded],
                 false);
    wchar_t log[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, LOG_FILE_PATH, -1, log, MAX_PATH) > 0)
        judgeWritten(list, log, LOG_WRITE_RIGHTS);
    if (snapshot->inputs.javaOutput != NULL)
        judgeWritten(list, snapshot->inputs.javaOutput, APPEND_RIGHTS);
    free(list);
}
