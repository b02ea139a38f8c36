// The class path is every jar file in lib\, in the order the file system
// returns them. Every directory entry met is logged, so the log shows what
// the installation holds.
#include "launcher/classpath.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/records.h"
#include "log/log.h"

// What the stage's routines share in one run: the buffers and where lib\ is.
struct ClassPathRun {
    ClassPathBuffers *buffers;
    const wchar_t *basePath;
    ClassPathResult *result;
};

static const char *lastFourBytes(const char *text)
{
    size_t length = strlen(text);
    return text + (length > 4 ? length - 4 : 0);
}

bool isJarName(const wchar_t *name, const char *nameAnsi)
{
    return wcslen(name) > 4 && strlen(nameAnsi) >= 4 && memcmp(lastFourBytes(nameAnsi), ".jar", 4) == 0;
}

void formatClassPathOption(char *option, const char *classPath)
{
    // Room for the prefix, the line feed and the terminator.
    size_t keep = ansiCutLength(classPath, CLASS_PATH_ROOM);
    snprintf(option, ANSI_CAPACITY, "%s%.*s\n", CLASS_PATH_OPTION_PREFIX, (int)keep, classPath);
}

// Keeps the entry in the caller's room, if there is any left, and counts it.
static void noteEntry(ClassPathRun *run, EntryVerdict verdict)
{
    ClassPathResult *result = run->result;
    if (result->entries != NULL && result->entryCount < result->entryCapacity) {
        FolderEntry *entry = &result->entries[result->entryCount];
        lstrcpynW(entry->name, run->buffers->directoryEntry.cFileName, MAX_PATH);
        entry->verdict = verdict;
    }
    result->entryCount++;
}

// Appends the jar's path and its ";" to the class path. It is on the class
// path when it went into the text whole and its ANSI form ends within the
// option's room: the ANSI text is cut only there, after whole characters, so
// a jar ending within it is kept whole. *ansiLength counts the ANSI bytes so far.
static EntryVerdict appendJar(ClassPathRun *run, size_t *ansiLength)
{
    wchar_t *classPathText = run->buffers->classPathText;
    const wchar_t *basePath = run->basePath, *name = run->buffers->directoryEntry.cFileName;
    size_t before = wcsnlen(classPathText, PATH_CAPACITY);
    size_t pieceLength = wcslen(basePath) + 4 + wcslen(name) + 1;
    boundedAppend(classPathText, basePath);
    boundedAppend(classPathText, L"lib\\");
    boundedAppend(classPathText, name);
    boundedAppend(classPathText, L";");
    size_t after = wcsnlen(classPathText, PATH_CAPACITY);
    if (after > before)
        *ansiLength += (size_t)WideCharToMultiByte(CP_ACP, 0, classPathText + before, (int)(after - before), NULL, 0,
                                                   NULL, NULL);
    return after - before == pieceLength && *ansiLength <= CLASS_PATH_ROOM ? ENTRY_ON_CLASS_PATH : ENTRY_CUT_OFF;
}

static void addLibEntry(ClassPathRun *run, size_t *ansiLength)
{
    ClassPathBuffers *buffers = run->buffers;
    ClassPathResult *result = run->result;
    const wchar_t *name = buffers->directoryEntry.cFileName;
    ansiCopy(name, buffers->entryNameAnsi);
    logWrite(RECORD_FILE, buffers->entryNameAnsi);
    if (wcslen(name) <= 4) {
        noteEntry(run, ENTRY_NOT_A_JAR);
        return;
    }
    logWrite(RECORD_EXTENSION, lastFourBytes(buffers->entryNameAnsi));
    // Directories whose names end in ".jar" count too: a jar may be unpacked.
    if (!isJarName(name, buffers->entryNameAnsi)) {
        noteEntry(run, ENTRY_NOT_A_JAR);
        return;
    }
    EntryVerdict verdict = appendJar(run, ansiLength);
    if (verdict == ENTRY_ON_CLASS_PATH)
        result->jarCount++;
    else if (result->firstCutJar[0] == L'\0')
        lstrcpynW(result->firstCutJar, name, MAX_PATH);
    noteEntry(run, verdict);
}

static void searchLib(HANDLE search, ClassPathRun *run)
{
    ClassPathBuffers *buffers = run->buffers;
    logWrite(RECORD_LIB_FOUND);
    run->result->folder = CLASS_PATH_FROM_LIB;
    buffers->classPathText[0] = L'\0';
    size_t ansiLength = 0;
    do {
        addLibEntry(run, &ansiLength);
    } while (FindNextFileW(search, &buffers->directoryEntry));
    FindClose(search);
    ansiCopy(buffers->classPathText, buffers->classPathTextAnsi);
    formatClassPathOption(buffers->classPathOption, buffers->classPathTextAnsi);
}

static void surveyPluginEntry(ClassPathRun *run)
{
    ClassPathBuffers *buffers = run->buffers;
    ansiCopy(buffers->directoryEntry.cFileName, buffers->entryNameAnsi);
    logWrite(RECORD_FILE, buffers->entryNameAnsi);
    noteEntry(run, ENTRY_PLUGIN);

    wchar_t *pattern = buffers->subdirectoryPattern;
    boundedCopy(pattern, run->basePath);
    boundedAppend(pattern, L"plugins\\");
    boundedAppend(pattern, buffers->directoryEntry.cFileName);
    boundedAppend(pattern, L"\\*");
    ansiCopy(pattern, buffers->subdirectoryPatternAnsi);
    logWrite(RECORD_NOW_SEARCHING, buffers->subdirectoryPatternAnsi);

    WIN32_FIND_DATAW *entry = &buffers->subdirectoryEntry;
    HANDLE search = FindFirstFileW(pattern, entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        ansiCopy(entry->cFileName, buffers->entryNameAnsi);
        logWrite(RECORD_SUB_FILE, buffers->entryNameAnsi);
        if (isJarName(entry->cFileName, buffers->entryNameAnsi))
            logWrite(RECORD_PLUGIN_JAR, buffers->entryNameAnsi);
    } while (FindNextFileW(search, entry));
    FindClose(search);
}

// The plug-in jar files are reported, not put on the class path.
static void surveyPlugins(HANDLE search, ClassPathRun *run)
{
    ClassPathBuffers *buffers = run->buffers;
    run->result->folder = CLASS_PATH_PLUGINS_ONLY;
    buffers->classPathText[0] = L'\0';
    do {
        surveyPluginEntry(run);
    } while (FindNextFileW(search, &buffers->directoryEntry));
    FindClose(search);
    ansiCopy(buffers->classPathText, buffers->classPathTextAnsi);
    formatClassPathOption(buffers->classPathOption, buffers->classPathTextAnsi);
}

// "VLCLASSPATH", when set (even empty), replaces whatever the search found.
static void applyClassPathOverride(const wchar_t *value, char *classPathOption, ClassPathResult *result)
{
    if (value == NULL)
        return;
    int size = WideCharToMultiByte(CP_ACP, 0, value, -1, NULL, 0, NULL, NULL);
    char *override = size > 0 ? (char *)malloc((size_t)size) : NULL;
    if (override == NULL) {
        logWrite(RECORD_CLASS_PATH_UNCONVERTED);
        result->overrideUnconverted = true;
        return;
    }
    if (WideCharToMultiByte(CP_ACP, 0, value, -1, override, size, NULL, NULL) == 0)
        override[0] = '\0';
    formatClassPathOption(classPathOption, override);
    free(override);
    result->overridden = true;
}

static void clearResult(ClassPathResult *result)
{
    result->entryCount = 0;
    result->folder = CLASS_PATH_NO_FOLDER;
    result->jarCount = 0;
    result->firstCutJar[0] = L'\0';
    result->overridden = false;
    result->overrideUnconverted = false;
    result->optionLength = 0;
}

void buildClassPath(const LaunchInputs *inputs, const wchar_t *basePath, ClassPathBuffers *buffers,
                    ClassPathResult *result)
{
    ClassPathRun run = {buffers, basePath, result};
    char *option = buffers->classPathOption;
    clearResult(result);
    // Without lib\ and plugins\ the virtual machine still gets a well-formed,
    // empty class path.
    formatClassPathOption(option, "");

    logWrite(RECORD_LOOKING_FOR_JARS);
    boundedCopy(buffers->searchPattern, basePath);
    boundedAppend(buffers->searchPattern, L"lib\\*");
    HANDLE search = FindFirstFileW(buffers->searchPattern, &buffers->directoryEntry);
    if (search != INVALID_HANDLE_VALUE) {
        searchLib(search, &run);
    } else {
        logWrite(RECORD_LIB_NOT_FOUND);
        boundedCopy(buffers->searchPattern, basePath);
        boundedAppend(buffers->searchPattern, L"plugins\\*");
        search = FindFirstFileW(buffers->searchPattern, &buffers->directoryEntry);
        if (search != INVALID_HANDLE_VALUE)
            surveyPlugins(search, &run);
        else
            logWrite(RECORD_NO_LIB_OR_PLUGINS);
    }

    applyClassPathOverride(inputs->classPath, option, result);
    result->optionLength = strlen(option) - 1;

    logWrite(RECORD_JVM_OPTIONS);
    logWrite(RECORD_OPTION, NATIVE_DIGEST_OPTION);
    logWrite(RECORD_OPTION, option);
}
