// The class path is every jar file in lib\, in the order the file system
// returns them. Every directory entry met is logged, so the log shows what
// the installation holds.
#include "launcher/classpath.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/paths.h"
#include "launcher/records.h"
#include "log/log.h"

wchar_t searchPattern[PATH_CAPACITY];
WIN32_FIND_DATAW directoryEntry;
WIN32_FIND_DATAW subdirectoryEntry;
char entryNameAnsi[ANSI_CAPACITY];
wchar_t subdirectoryPattern[PATH_CAPACITY];
char subdirectoryPatternAnsi[ANSI_CAPACITY];
wchar_t classPathText[PATH_CAPACITY];
char classPathTextAnsi[ANSI_CAPACITY];
char classPathOption[ANSI_CAPACITY];

static const char *lastFourBytes(const char *text)
{
    size_t length = strlen(text);
    return text + (length > 4 ? length - 4 : 0);
}

bool isJarName(const wchar_t *name, const char *nameAnsi)
{
    return wcslen(name) > 4 && strlen(nameAnsi) >= 4 && memcmp(lastFourBytes(nameAnsi), ".jar", 4) == 0;
}

void formatClassPathOption(const char *classPath)
{
    // Room for the prefix, the line feed and the terminator.
    size_t keep = ansiCutLength(classPath, CLASS_PATH_ROOM);
    snprintf(classPathOption, sizeof classPathOption, "%s%.*s\n", CLASS_PATH_OPTION_PREFIX, (int)keep, classPath);
}

// Keeps the entry in the caller's room, if there is any left, and counts it.
static void noteEntry(ClassPathResult *result, EntryVerdict verdict)
{
    if (result->entries != NULL && result->entryCount < result->entryCapacity) {
        FolderEntry *entry = &result->entries[result->entryCount];
        lstrcpynW(entry->name, directoryEntry.cFileName, MAX_PATH);
        entry->verdict = verdict;
    }
    result->entryCount++;
}

// Appends the jar's path and its ";" to the class path. It is on the class
// path when it went into the text whole and its ANSI form ends within the
// option's room: the ANSI text is cut only there, after whole characters, so
// a jar ending within it is kept whole. *ansiLength counts the ANSI bytes so far.
static EntryVerdict appendJar(size_t *ansiLength)
{
    size_t before = wcsnlen(classPathText, PATH_CAPACITY);
    size_t pieceLength = wcslen(basePath) + 4 + wcslen(directoryEntry.cFileName) + 1;
    boundedAppend(classPathText, basePath);
    boundedAppend(classPathText, L"lib\\");
    boundedAppend(classPathText, directoryEntry.cFileName);
    boundedAppend(classPathText, L";");
    size_t after = wcsnlen(classPathText, PATH_CAPACITY);
    if (after > before)
        *ansiLength += (size_t)WideCharToMultiByte(CP_ACP, 0, classPathText + before, (int)(after - before), NULL, 0,
                                                   NULL, NULL);
    return after - before == pieceLength && *ansiLength <= CLASS_PATH_ROOM ? ENTRY_ON_CLASS_PATH : ENTRY_CUT_OFF;
}

static void addLibEntry(ClassPathResult *result, size_t *ansiLength)
{
    ansiCopy(directoryEntry.cFileName, entryNameAnsi);
    logWrite(RECORD_FILE, entryNameAnsi);
    if (wcslen(directoryEntry.cFileName) <= 4) {
        noteEntry(result, ENTRY_NOT_A_JAR);
        return;
    }
    logWrite(RECORD_EXTENSION, lastFourBytes(entryNameAnsi));
    // Directories whose names end in ".jar" count too: a jar may be unpacked.
    if (!isJarName(directoryEntry.cFileName, entryNameAnsi)) {
        noteEntry(result, ENTRY_NOT_A_JAR);
        return;
    }
    EntryVerdict verdict = appendJar(ansiLength);
    if (verdict == ENTRY_ON_CLASS_PATH)
        result->jarCount++;
    else if (result->firstCutJar[0] == L'\0')
        lstrcpynW(result->firstCutJar, directoryEntry.cFileName, MAX_PATH);
    noteEntry(result, verdict);
}

static void searchLib(HANDLE search, ClassPathResult *result)
{
    logWrite(RECORD_LIB_FOUND);
    result->folder = CLASS_PATH_FROM_LIB;
    classPathText[0] = L'\0';
    size_t ansiLength = 0;
    do {
        addLibEntry(result, &ansiLength);
    } while (FindNextFileW(search, &directoryEntry));
    FindClose(search);
    ansiCopy(classPathText, classPathTextAnsi);
    formatClassPathOption(classPathTextAnsi);
}

static void surveyPluginEntry(ClassPathResult *result)
{
    ansiCopy(directoryEntry.cFileName, entryNameAnsi);
    logWrite(RECORD_FILE, entryNameAnsi);
    noteEntry(result, ENTRY_PLUGIN);

    boundedCopy(subdirectoryPattern, basePath);
    boundedAppend(subdirectoryPattern, L"plugins\\");
    boundedAppend(subdirectoryPattern, directoryEntry.cFileName);
    boundedAppend(subdirectoryPattern, L"\\*");
    ansiCopy(subdirectoryPattern, subdirectoryPatternAnsi);
    logWrite(RECORD_NOW_SEARCHING, subdirectoryPatternAnsi);

    HANDLE search = FindFirstFileW(subdirectoryPattern, &subdirectoryEntry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        ansiCopy(subdirectoryEntry.cFileName, entryNameAnsi);
        logWrite(RECORD_SUB_FILE, entryNameAnsi);
        if (isJarName(subdirectoryEntry.cFileName, entryNameAnsi))
            logWrite(RECORD_PLUGIN_JAR, entryNameAnsi);
    } while (FindNextFileW(search, &subdirectoryEntry));
    FindClose(search);
}

// The plug-in jar files are reported, not put on the class path.
static void surveyPlugins(HANDLE search, ClassPathResult *result)
{
    result->folder = CLASS_PATH_PLUGINS_ONLY;
    classPathText[0] = L'\0';
    do {
        surveyPluginEntry(result);
    } while (FindNextFileW(search, &directoryEntry));
    FindClose(search);
    ansiCopy(classPathText, classPathTextAnsi);
    formatClassPathOption(classPathTextAnsi);
}

// "VLCLASSPATH", when set (even empty), replaces whatever the search found.
static void applyClassPathOverride(const wchar_t *value, ClassPathResult *result)
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
    formatClassPathOption(override);
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

void buildClassPath(const LaunchInputs *inputs, ClassPathResult *result)
{
    clearResult(result);
    // Without lib\ and plugins\ the virtual machine still gets a well-formed,
    // empty class path.
    formatClassPathOption("");

    logWrite(RECORD_LOOKING_FOR_JARS);
    boundedCopy(searchPattern, basePath);
    boundedAppend(searchPattern, L"lib\\*");
    HANDLE search = FindFirstFileW(searchPattern, &directoryEntry);
    if (search != INVALID_HANDLE_VALUE) {
        searchLib(search, result);
    } else {
        logWrite(RECORD_LIB_NOT_FOUND);
        boundedCopy(searchPattern, basePath);
        boundedAppend(searchPattern, L"plugins\\*");
        search = FindFirstFileW(searchPattern, &directoryEntry);
        if (search != INVALID_HANDLE_VALUE)
            surveyPlugins(search, result);
        else
            logWrite(RECORD_NO_LIB_OR_PLUGINS);
    }

    applyClassPathOverride(inputs->classPath, result);
    result->optionLength = strlen(classPathOption) - 1;

    logWrite(RECORD_JVM_OPTIONS);
    logWrite(RECORD_OPTION, NATIVE_DIGEST_OPTION);
    logWrite(RECORD_OPTION, classPathOption);
}
