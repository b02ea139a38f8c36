// What the service runs and trusts beyond the folders its stages look in,
// each judged as the folders are: whoever may change one of them can make
// the service run code of their own.
#include "console/access/permissions.h"

#include <string.h>

#include "console/report.h"
#include "console/service_view.h"
#include "launcher/jvm.h"

// A runtime holds a few hundred files; a walk that finds more stops there.
#define WALK_BUDGET 4096
#define WALK_DEPTH 8

static bool endsWith(const wchar_t *name, const wchar_t *tail)
{
    size_t length = wcslen(name), tailLength = wcslen(tail);
    return length >= tailLength && _wcsicmp(name + length - tailLength, tail) == 0;
}

// One entry of list->walk's folder: judged quietly; a folder gone down
// into, a link named and not followed.
static void visitTree(FolderList *list, const wchar_t *name, DWORD attributes)
{
    if (--list->budget < 0)
        return;
    size_t length = wcslen(list->walk);
    boundedAppend(list->walk, name);
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder)
        boundedAppend(list->walk, L"\\");
    if (!judgedAlready(list, list->walk))
        judgeObject(list, list->walk, JUDGE_PLACE, true);
    if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && list->depth > 0) {
        list->depth--;
        list->source->listing(list->walk, visitTree, list);
        list->depth++;
    }
    list->walk[length] = L'\0';
}

// The libraries of list->walk's folder: the virtual machine loads them from there.
static void visitLibrary(FolderList *list, const wchar_t *name, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && endsWith(name, L".dll"))
        visitTree(list, name, attributes);
}

// A folder of the runtime (`tail` below the folder in list->path): judged,
// and what `visit` picks of it (none when NULL).
static void walkRuntimeFolder(FolderList *list, const wchar_t *tail, EntryVisitor visit)
{
    if (!joinPath(list->walk, list->path, tail))
        return;
    DWORD attributes = list->source->attributes(list->walk);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    list->depth = WALK_DEPTH;
    if (!judgedAlready(list, list->walk))
        judgeObject(list, list->walk, JUDGE_PLACE, true);
    if (visit != NULL && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        list->source->listing(list->walk, visit, list);
}

// Cuts a folder (with its closing backslash) to its parent; false at the top.
static bool cutToParent(wchar_t *folder)
{
    size_t length = wcslen(folder);
    if (length < 2)
        return false;
    folder[length - 1] = L'\0';
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (slash == NULL) {
        folder[length - 1] = L'\\';
        return false;
    }
    slash[1] = L'\0';
    return true;
}

// The runtime whose jvm.dll loaded, where the probe found it: every library
// beside jvm.dll, and when that is <home>\bin\<kind>\, the home, the
// libraries in bin\, and all of lib\ (modules, jvm.cfg, a Java 8 runtime's
// jars) and conf\.
static void judgeRuntime(FolderList *list, const Snapshot *snapshot)
{
    int loaded = snapshot->stages->results.probe.jvmLoaded;
    if (loaded < 0)
        return;
    wchar_t *home = list->path;
    boundedCopy(home, snapshot->jvmPaths[loaded]);
    wchar_t *slash = wcsrchr(home, L'\\');
    if (slash == NULL)
        return;
    slash[1] = L'\0';
    list->judged = 0;
    list->sound = 0;
    list->budget = WALK_BUDGET;
    walkRuntimeFolder(list, L"", visitLibrary);
    if (cutToParent(home) && endsWith(home, L"\\bin\\") && cutToParent(home)) {
        walkRuntimeFolder(list, L"", NULL);
        walkRuntimeFolder(list, L"bin\\", visitLibrary);
        walkRuntimeFolder(list, L"lib\\", visitTree);
        walkRuntimeFolder(list, L"conf\\", visitTree);
    } else {
        boundedCopy(home, snapshot->jvmPaths[loaded]);
        wcsrchr(home, L'\\')[1] = L'\0';
    }
    if (list->budget < 0)
        reportFinding(FINDING_WARNING, "the runtime in %s holds more than %d files and folders: the rest is not judged",
                      reportPath(home), WALK_BUDGET);
    else if (list->judged > 0 && list->sound == list->judged)
        reportFinding(FINDING_OK, "the %d %s of the runtime in %s: only administrators, SYSTEM and the installer may write",
                      list->judged, countWords(list->judged, "file or folder", "files and folders"), reportPath(home));
}

// A jar VLCLASSPATH names (its folders are judged with the stages' folders).
static void judgeNamedJar(FolderList *list, const wchar_t *path, DWORD attributes)
{
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        judgeObject(list, path, JUDGE_PLACE, true);
}

// The jars VLCLASSPATH names.
static void judgeNamedJars(FolderList *list, const wchar_t *classPath)
{
    list->judged = 0;
    list->sound = 0;
    forEachClassPathEntry(list, classPath, list->walk, judgeNamedJar);
    if (list->judged > 0 && list->sound == list->judged)
        reportFinding(FINDING_OK, "the %d %s " CLASS_PATH_VARIABLE_NAME " names: only administrators, SYSTEM and the installer may write",
                      list->judged, countWords(list->judged, "jar", "jars"));
}

// A path an option gives the virtual machine to load: the file, or where
// someone could create it.
static void judgeLoadedPath(FolderList *list, const wchar_t *path, size_t length)
{
    if (length == 0 || length >= PATH_CAPACITY)
        return;
    boundedPrefixCopy(list->walk, path, length);
    // A relative one is resolved against the service's current folder, not this one's.
    if (!isFullPath(list->walk))
        return;
    if (list->source->attributes(list->walk) != INVALID_FILE_ATTRIBUTES)
        judgeObject(list, list->walk, JUDGE_PLACE, false);
    else if (addNearestParent(list, list->walk))
        judgeObject(list, list->folders[list->count - 1], JUDGE_PLACE, false);
}

// The options that make the virtual machine load code before the application's.
static const wchar_t *const loadingOptions[] = {L"-javaagent:", L"-agentpath:", L"-Xbootclasspath/a:"};

static void judgeOption(FolderList *list, const wchar_t *option)
{
    for (const wchar_t *prefix : loadingOptions) {
        size_t prefixLength = wcslen(prefix);
        if (wcsncmp(option, prefix, prefixLength) != 0)
            continue;
        const wchar_t *value = option + prefixLength;
        // An agent's own arguments follow an "="; the boot class path is a list.
        const wchar_t *separators = prefix == loadingOptions[2] ? L";" : L"=";
        if (prefix != loadingOptions[2]) {
            judgeLoadedPath(list, value, wcscspn(value, separators));
            return;
        }
        for (const wchar_t *entry = value; entry != NULL;) {
            const wchar_t *end = wcschr(entry, L';');
            judgeLoadedPath(list, entry, end != NULL ? (size_t)(end - entry) : wcslen(entry));
            entry = end != NULL ? end + 1 : NULL;
        }
        return;
    }
}

// A variable's options as the virtual machine splits them: at blanks,
// except within quotes, which it leaves out.
static void judgeVariableOptions(FolderList *list, const wchar_t *options)
{
    const wchar_t *at = options;
    while (at != NULL && *at != L'\0') {
        while (iswspace(*at))
            at++;
        size_t length = 0;
        while (*at != L'\0' && !iswspace(*at)) {
            if (*at == L'"' || *at == L'\'') {
                wchar_t quote = *at++;
                while (*at != L'\0' && *at != quote && length < PATH_CAPACITY - 1)
                    list->option[length++] = *at++;
                if (*at == quote)
                    at++;
            } else if (length < PATH_CAPACITY - 1) {
                list->option[length++] = *at++;
            } else {
                at++;
            }
        }
        list->option[length] = L'\0';
        if (length > 0)
            judgeOption(list, list->option);
    }
}

// The service's own options, as the launcher made them for the snapshot's
// launch, then the variables the virtual machine reads itself.
static void judgeOptions(FolderList *list, const Snapshot *snapshot)
{
    const JavaVMInitArgs *vmInitArgs = &snapshot->stages->vm.vmInitArgs;
    for (jint index = 0; vmInitArgs->options != NULL && index < vmInitArgs->nOptions; index++)
        if (MultiByteToWideChar(CP_ACP, 0, vmInitArgs->options[index].optionString, -1, list->option, PATH_CAPACITY) >
            0)
            judgeOption(list, list->option);
    judgeVariableOptions(list, serviceVariable(&snapshot->environment, VARIABLE_JAVA_TOOL_OPTIONS));
    judgeVariableOptions(list, serviceVariable(&snapshot->environment, VARIABLE_JAVA_OPTIONS));
}

void judgeWhatItRuns(FolderList *list, const Snapshot *snapshot)
{
    const PathsResult *paths = &snapshot->stages->results.paths;
    if (paths->executablePath != NULL && list->source->attributes(paths->executablePath) != INVALID_FILE_ATTRIBUTES)
        judgeObject(list, paths->executablePath, JUDGE_PLACE, false);
    // Whoever may rename the installation root away may put another there.
    if (paths->ktrPath != NULL) {
        boundedCopy(list->path, paths->ktrPath);
        if (cutToParent(list->path))
            judgeObject(list, list->path, JUDGE_ROOT_PARENT, false);
    }
    judgeRuntime(list, snapshot);
    judgeNamedJars(list, snapshot->inputs.classPath);
    judgeOptions(list, snapshot);
    boundedCopy(list->path, L"MACHINE\\" SERVICE_KEY);
    judgeObject(list, list->path, JUDGE_KEY, false);
}
