// Permissions: whoever may write or create where the service loads code
// from, or may change the files it loads or runs, can make it run code of
// their own as the service's account. Debian's Wine 8 does not keep an
// access list set on a file: every folder reads back as SYSTEM and the Unix
// user with full control, so under Wine this section finds nothing. The
// decision itself is tested on descriptors from SDDL strings.
#include "console/check/check.h"

#include <stdlib.h>

#include "console/access/permissions.h"
#include "console/log_view.h"
#include "console/report.h"

// Each entry of VLCLASSPATH: a folder of classes is itself where code comes
// from; for a jar, its folder.
static void addClassPathFolder(FolderList *list, const wchar_t *path, DWORD attributes)
{
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        addFolder(list, path);
    else
        addNearestParent(list, path);
}

// The jars on the class path, each a file the service loads (an unpacked
// one, all it holds).
static void checkJars(FolderList *list, const Snapshot *snapshot)
{
    const ClassPathResult *result = &snapshot->stages->results.classPath;
    if (result->overridden)
        return;
    size_t kept = result->entryCount < result->entryCapacity ? result->entryCount : result->entryCapacity;
    list->judged = 0;
    list->sound = 0;
    for (size_t index = 0; index < kept; index++) {
        if (result->entries[index].verdict != ENTRY_ON_CLASS_PATH)
            continue;
        joinPath(list->path, snapshot->stages->results.paths.basePath, L"lib\\");
        boundedAppend(list->path, result->entries[index].name);
        // One gone since the class path was made is judged as a jar: it can't be read.
        DWORD attributes = list->source->attributes(list->path);
        judgeLoadedEntry(list, list->path, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
    }
    if (list->judged > 0 && list->sound == list->judged)
        reportFinding(FINDING_OK, "the %d %s of the class path: only administrators, SYSTEM and the installer may write",
                      list->judged, countWords(list->judged, "jar or file", "jars and files"));
}

// Whether the file system tells owners apart: Windows' own folder belongs to
// the installer or the system. Where it belongs to an ordinary account, as
// every file does under Wine, an owner says nothing about who may write.
static bool ownersKept(wchar_t *system)
{
    BYTE owner[SECURITY_MAX_SID_SIZE];
    UINT length = GetSystemDirectoryW(system, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY || !ordinarySystemFolderOwner((PSID)owner, sizeof owner))
        return true;
    reportFinding(FINDING_OK, "owners are not told apart here (%s belongs to an ordinary account too): owners are not judged",
                  reportPath(system));
    return false;
}

void checkPermissions(const Snapshot *snapshot)
{
    reportSection("Folder permissions");
    wchar_t *system = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    if (system == NULL)
        return;
    bool kept = ownersKept(system);
    free(system);
    PSID account = knowServiceAccount(&snapshot->installation->manager);
    judgePermissions(snapshot, windowsPermissionSource(), kept, account);
    if (account != NULL)
        judgeAccountAccess(snapshot, windowsPermissionSource());
}

void judgePermissions(const Snapshot *snapshot, const PermissionSource *source, bool kept, PSID serviceAccount)
{
    FolderList *list = newFolderList(source, kept, serviceAccount);
    if (list == NULL)
        return;
    const PathsResult *paths = &snapshot->stages->results.paths;
    addFolder(list, paths->ktrPath);
    addFolder(list, paths->basePath);
    joinPath(list->path, paths->basePath, L"lib\\");
    addFolder(list, list->path);
    joinPath(list->path, paths->ktrPath, L"" JDK_FOLDER);
    addFolder(list, list->path);
    for (int index = 0; index < RUNTIME_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->runtimePaths[index]);
    for (int index = 0; index < JVM_CANDIDATE_COUNT; index++)
        addNearestParent(list, snapshot->jvmPaths[index]);
    forEachClassPathEntry(list, snapshot->inputs.classPath, list->path, addClassPathFolder);
    // The output file is created and appended to with the service's rights.
    if (snapshot->inputs.javaOutput != NULL)
        addNearestParent(list, snapshot->inputs.javaOutput);
    for (int index = 0; index < list->count; index++)
        judgeObject(list, list->folders[index], JUDGE_PLACE, false);

    // The libraries that loaded, and the jars: the files themselves.
    const ProbeResult *probe = &snapshot->stages->results.probe;
    list->loadedFiles[0] = probe->runtimeLoaded >= 0 ? snapshot->runtimePaths[probe->runtimeLoaded] : NULL;
    list->loadedFiles[1] = probe->jvmLoaded >= 0 ? snapshot->jvmPaths[probe->jvmLoaded] : NULL;
    for (const wchar_t *file : list->loadedFiles)
        if (file != NULL)
            judgeObject(list, file, JUDGE_PLACE, false);
    checkJars(list, snapshot);
    judgeWhatItRuns(list, snapshot);
    free(list);
}
