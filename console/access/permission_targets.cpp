// What the service runs and trusts beyond the folders its stages look in,
// each judged as the folders are: whoever may change one of them can make
// the service run code of their own.
#include "console/access/permissions.h"

#include <string.h>

#include "console/report.h"
#include "console/service_view.h"
#include "launcher/classpath.h"
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

static bool judgeTree(FolderList *list)
{
    list->budget = WALK_BUDGET;
    list->depth = WALK_DEPTH;
    DWORD attributes = list->source->attributes(list->walk);
    // The folder itself may be among the section's folders, judged already.
    if (!judgedAlready(list, list->walk))
        judgeObject(list, list->walk, JUDGE_PLACE, true);
    size_t length = wcslen(list->walk);
    if (length > 0 && list->walk[length - 1] != L'\\')
        boundedAppend(list->walk, L"\\");
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        list->source->listing(list->walk, visitTree, list);
    return list->budget >= 0;
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

void judgeLoadedEntry(FolderList *list, const wchar_t *path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        judgeObject(list, path, JUDGE_PLACE, true);
        return;
    }
    if (path != list->walk)
        boundedCopy(list->walk, path);
    if (!judgeTree(list))
        reportFinding(FINDING_WARNING, "%s holds more than %d files and folders: the rest is not judged",
                      reportPath(list->walk), WALK_BUDGET);
}

// The jars VLCLASSPATH names, and what its folders hold.
static void judgeNamedJars(FolderList *list, const wchar_t *classPath)
{
    list->judged = 0;
    list->sound = 0;
    forEachClassPathEntry(list, classPath, list->walk, judgeLoadedEntry);
    if (list->judged > 0 && list->sound == list->judged)
        reportFinding(FINDING_OK, "the %d %s " CLASS_PATH_VARIABLE_NAME " names or holds: only administrators, SYSTEM and the installer may write",
                      list->judged, countWords(list->judged, "file or folder", "files and folders"));
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

// Each ";"-separated entry of a list of paths.
static void judgeLoadedList(FolderList *list, const wchar_t *value)
{
    for (const wchar_t *entry = value; entry != NULL;) {
        const wchar_t *end = wcschr(entry, L';');
        judgeLoadedPath(list, entry, end != NULL ? (size_t)(end - entry) : wcslen(entry));
        entry = end != NULL ? end + 1 : NULL;
    }
}

static void judgeVariableOptions(FolderList *list, const wchar_t *options, const wchar_t *prefix);

// An options file: judged as a file that is loaded, then what it adds (read
// with a bound, one level deep), each with `prefix` before it.
static void judgeOptionsFile(FolderList *list, const wchar_t *path, const wchar_t *prefix)
{
    size_t length = wcslen(path);
    judgeLoadedPath(list, path, length);
    if (list->inOptionsFile || length == 0 || length >= PATH_CAPACITY || !isFullPath(path))
        return;
    boundedCopy(list->optionsFile, path);
    DWORD read = 0;
    DWORD error = list->source->contents(list->optionsFile, list->fileBytes, OPTIONS_FILE_CAPACITY, &read);
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
        reportFinding(FINDING_WARNING, "the options file %s can't be read (error %lu): the options it adds are not judged",
                      reportPath(list->optionsFile), error);
        return;
    }
    if (error == ERROR_MORE_DATA)
        reportFinding(FINDING_WARNING, "the options file %s holds more than %d bytes: the options past them are not judged",
                      reportPath(list->optionsFile), OPTIONS_FILE_CAPACITY);
    int characters = read > 0 ? MultiByteToWideChar(CP_ACP, 0, list->fileBytes, (int)read, list->fileText,
                                                    OPTIONS_FILE_CAPACITY) : 0;
    list->fileText[characters] = L'\0';
    list->inOptionsFile = true;
    judgeVariableOptions(list, list->fileText, prefix);
    list->inOptionsFile = false;
}

// Commands the virtual machine runs as the service (";" between them):
// each program they name first is judged as the files it loads are.
static void judgeCommands(FolderList *list, const wchar_t *option, const wchar_t *value)
{
    reportFinding(FINDING_WARNING, "%s runs its commands as the service: whoever may change what they run gets the service's rights",
                  reportPath(option));
    for (const wchar_t *command = value; command != NULL;) {
        while (*command == L' ')
            command++;
        const wchar_t *program = command;
        size_t length = wcscspn(program, L" ;");
        if (*program == L'"') {
            program++;
            length = wcscspn(program, L"\";");
        }
        judgeLoadedPath(list, program, length);
        const wchar_t *end = wcschr(command, L';');
        command = end != NULL ? end + 1 : NULL;
    }
}

// Whether a value holds something that looks like a full path: a drive
// letter, a colon and a backslash or slash, or a UNC path.
static bool namesPath(const wchar_t *option)
{
    for (const wchar_t *at = option; *at != L'\0'; at++) {
        bool boundary = at == option || wcschr(L"=:;,\"'", at[-1]) != NULL;
        if (boundary && iswalpha(at[0]) && at[1] == L':' && (at[2] == L'\\' || at[2] == L'/'))
            return true;
        if (boundary && at[0] == L'\\' && at[1] == L'\\')
            return true;
    }
    return false;
}

// How an option's value names what the virtual machine loads or runs.
enum OptionValue { VALUE_ONE_PATH, VALUE_PATH_LIST, VALUE_MODULE_PATCH, VALUE_OPTIONS_FILE, VALUE_FLAGS_FILE, VALUE_COMMANDS };
struct LoadingOption {
    const wchar_t *prefix;
    OptionValue value;
};
static const LoadingOption loadingOptions[] = {
    {L"-javaagent:", VALUE_ONE_PATH},          {L"-agentpath:", VALUE_ONE_PATH},
    {L"-Xbootclasspath/a:", VALUE_PATH_LIST},  {L"-Xbootclasspath/p:", VALUE_PATH_LIST},
    {L"-Djava.ext.dirs=", VALUE_PATH_LIST},    {L"-Djava.library.path=", VALUE_PATH_LIST},
    {L"" CLASS_PATH_OPTION_PREFIX, VALUE_PATH_LIST}, {L"--upgrade-module-path=", VALUE_PATH_LIST},
    {L"--patch-module=", VALUE_MODULE_PATCH},  {L"-XX:VMOptionsFile=", VALUE_OPTIONS_FILE},
    {L"-XX:Flags=", VALUE_FLAGS_FILE},         {L"-XX:OnError=", VALUE_COMMANDS},
    {L"-XX:OnOutOfMemoryError=", VALUE_COMMANDS},
};

static void judgeOption(FolderList *list, const wchar_t *option)
{
    for (const LoadingOption &loading : loadingOptions) {
        size_t prefixLength = wcslen(loading.prefix);
        if (wcsncmp(option, loading.prefix, prefixLength) != 0)
            continue;
        const wchar_t *value = option + prefixLength;
        switch (loading.value) {
        case VALUE_ONE_PATH: // an agent's own arguments follow an "="
            judgeLoadedPath(list, value, wcscspn(value, L"="));
            return;
        case VALUE_MODULE_PATCH: // <module>=<paths>
            if (wcschr(value, L'=') != NULL)
                judgeLoadedList(list, wcschr(value, L'=') + 1);
            return;
        case VALUE_PATH_LIST:
            judgeLoadedList(list, value);
            return;
        case VALUE_OPTIONS_FILE:
            judgeOptionsFile(list, value, L"");
            return;
        case VALUE_FLAGS_FILE: // its lines are -XX: flags without the "-XX:"
            judgeOptionsFile(list, value, L"-XX:");
            return;
        case VALUE_COMMANDS:
            judgeCommands(list, option, value);
            return;
        }
    }
    if (namesPath(option))
        reportFinding(FINDING_WARNING, "%s names a path this check does not judge", reportPath(option));
}

// Options as the virtual machine splits a variable or an options file: at
// blanks, except within quotes, which it leaves out; each after `prefix`.
// Where there is a prefix (a flags file), "#" begins a comment line.
static void judgeVariableOptions(FolderList *list, const wchar_t *options, const wchar_t *prefix)
{
    const wchar_t *at = options;
    size_t prefixLength = wcslen(prefix);
    while (at != NULL && *at != L'\0') {
        while (iswspace(*at))
            at++;
        if (prefixLength > 0 && *at == L'#') {
            at += wcscspn(at, L"\n");
            continue;
        }
        boundedCopy(list->option, prefix);
        size_t length = prefixLength;
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
        if (length > prefixLength)
            judgeOption(list, list->option);
    }
}

// The service's own options, as the launcher made them for the snapshot's
// launch (but the class path, judged with the class path), then the
// variables the virtual machine reads itself.
static void judgeOptions(FolderList *list, const Snapshot *snapshot)
{
    const LaunchVm *vm = &snapshot->stages->vm;
    const JavaVMInitArgs *vmInitArgs = &vm->vmInitArgs;
    for (jint index = 0; vmInitArgs->options != NULL && index < vmInitArgs->nOptions; index++)
        if (vmInitArgs->options[index].optionString != vm->vmClassPathOption &&
            MultiByteToWideChar(CP_ACP, 0, vmInitArgs->options[index].optionString, -1, list->option, PATH_CAPACITY) > 0)
            judgeOption(list, list->option);
    judgeVariableOptions(list, serviceVariable(&snapshot->environment, VARIABLE_JAVA_TOOL_OPTIONS), L"");
    judgeVariableOptions(list, serviceVariable(&snapshot->environment, VARIABLE_JAVA_OPTIONS), L"");
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
    // Its variables reach the service's process, JAVA_TOOL_OPTIONS among them.
    boundedCopy(list->path, L"MACHINE\\" MACHINE_ENVIRONMENT_KEY);
    judgeObject(list, list->path, JUDGE_ENVIRONMENT_KEY, false);
    boundedCopy(list->path, SERVICE_NAME);
    judgeObject(list, list->path, JUDGE_SERVICE, false);
}
