// The class path is every jar file in lib\, in the order the file system
// returns them. Every directory entry met is logged, so the log shows what
// the installation holds.
#include "launcher/classpath.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/paths.h"
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
    const size_t prefixLength = sizeof CLASS_PATH_OPTION_PREFIX - 1;
    // Room for the prefix, the line feed and the terminator.
    size_t keep = ansiCutLength(classPath, ANSI_CAPACITY - prefixLength - 2);
    snprintf(classPathOption, sizeof classPathOption, "%s%.*s\n", CLASS_PATH_OPTION_PREFIX, (int)keep, classPath);
}

static void addLibEntry(void)
{
    ansiCopy(directoryEntry.cFileName, entryNameAnsi);
    logWrite("File:  %s\n", entryNameAnsi);
    if (wcslen(directoryEntry.cFileName) <= 4)
        return;
    logWrite("Ext:  '%s'\n", lastFourBytes(entryNameAnsi));
    // Directories whose names end in ".jar" count too: a jar may be unpacked.
    if (isJarName(directoryEntry.cFileName, entryNameAnsi)) {
        boundedAppend(classPathText, basePath);
        boundedAppend(classPathText, L"lib\\");
        boundedAppend(classPathText, directoryEntry.cFileName);
        boundedAppend(classPathText, L";");
    }
}

static void searchLib(HANDLE search)
{
    logWrite("The lib directory was found\n");
    classPathText[0] = L'\0';
    do {
        addLibEntry();
    } while (FindNextFileW(search, &directoryEntry));
    FindClose(search);
    ansiCopy(classPathText, classPathTextAnsi);
    formatClassPathOption(classPathTextAnsi);
}

static void surveyPluginEntry(void)
{
    ansiCopy(directoryEntry.cFileName, entryNameAnsi);
    logWrite("File:  %s\n", entryNameAnsi);

    boundedCopy(subdirectoryPattern, basePath);
    boundedAppend(subdirectoryPattern, L"plugins\\");
    boundedAppend(subdirectoryPattern, directoryEntry.cFileName);
    boundedAppend(subdirectoryPattern, L"\\*");
    ansiCopy(subdirectoryPattern, subdirectoryPatternAnsi);
    logWrite("Now searching %s\n", subdirectoryPatternAnsi);

    HANDLE search = FindFirstFileW(subdirectoryPattern, &subdirectoryEntry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        ansiCopy(subdirectoryEntry.cFileName, entryNameAnsi);
        logWrite("Sub file:  %s\n", entryNameAnsi);
        if (isJarName(subdirectoryEntry.cFileName, entryNameAnsi))
            logWrite("*** Jar file:  %s\n", entryNameAnsi);
    } while (FindNextFileW(search, &subdirectoryEntry));
    FindClose(search);
}

// The plug-in jar files are reported, not put on the class path.
static void surveyPlugins(HANDLE search)
{
    classPathText[0] = L'\0';
    do {
        surveyPluginEntry();
    } while (FindNextFileW(search, &directoryEntry));
    FindClose(search);
    ansiCopy(classPathText, classPathTextAnsi);
    formatClassPathOption(classPathTextAnsi);
}

// "VLCLASSPATH", when set (even empty), replaces whatever the search found.
static void applyClassPathOverride(void)
{
    const wchar_t *value = _wgetenv(CLASS_PATH_VARIABLE);
    if (value == NULL)
        return;
    int size = WideCharToMultiByte(CP_ACP, 0, value, -1, NULL, 0, NULL, NULL);
    char *override = size > 0 ? (char *)malloc((size_t)size) : NULL;
    if (override == NULL) {
        logWrite("Can't convert the VLCLASSPATH environment variable, it is ignored\n");
        return;
    }
    if (WideCharToMultiByte(CP_ACP, 0, value, -1, override, size, NULL, NULL) == 0)
        override[0] = '\0';
    formatClassPathOption(override);
    free(override);
}

void buildClassPath(void)
{
    // Without lib\ and plugins\ the virtual machine still gets a well-formed,
    // empty class path.
    formatClassPathOption("");

    logWrite("Looking for needed jar files in the lib directory\n");
    boundedCopy(searchPattern, basePath);
    boundedAppend(searchPattern, L"lib\\*");
    HANDLE search = FindFirstFileW(searchPattern, &directoryEntry);
    if (search != INVALID_HANDLE_VALUE) {
        searchLib(search);
    } else {
        logWrite("The lib directory was not found, trying plugins\n");
        boundedCopy(searchPattern, basePath);
        boundedAppend(searchPattern, L"plugins\\*");
        search = FindFirstFileW(searchPattern, &directoryEntry);
        if (search != INVALID_HANDLE_VALUE)
            surveyPlugins(search);
        else
            logWrite("Unable to find lib or plugins direcotry so the classpath may be invalid.\n");
    }

    applyClassPathOverride();

    logWrite("JVM options:\n");
    logWrite(NATIVE_DIGEST_OPTION "\n");
    logWrite("%s\n", classPathOption);
}
