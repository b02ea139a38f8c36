// Class path: what the class path stage found in lib\, what it left out, and
// whether its buffer held every jar.
#include "console/check.h"

#include <stdlib.h>
#include <string.h>

#include "console/report.h"
#include "launcher/classpath.h"
#include "launcher/paths.h"

static WIN32_FIND_DATAW entry;
static wchar_t pattern[PATH_CAPACITY];
static wchar_t entryPath[PATH_CAPACITY];
static char entryPathAnsi[ANSI_CAPACITY];
static char entryAnsi[ANSI_CAPACITY];

static void reportLibFolder(void)
{
    if (collectedFind("The lib directory was found") >= 0) {
        reportFinding(FINDING_OK, "lib\\ found: %slib\\", basePathAnsi);
        return;
    }
    reportFinding(FINDING_PROBLEM, "no lib\\ in %s", basePathAnsi);
    reportRemedy("create %slib\\ and put the application's jar files in it", basePathAnsi);
    if (collectedFind("Unable to find lib or plugins") < 0)
        reportFinding(FINDING_WARNING, "plugins\\ is there, but its jars are only listed in the log, never put on the class path");
}

// Whether the class path option holds the entry's whole path with its ";".
static bool onClassPath(void)
{
    joinPath(entryPath, basePath, L"lib\\");
    boundedAppend(entryPath, entry.cFileName);
    boundedAppend(entryPath, L";");
    ansiCopy(entryPath, entryPathAnsi);
    return strstr(classPathOption, entryPathAnsi) != NULL;
}

// Every entry of lib\, judged by the class path stage's own jar test.
static int reportJars(void)
{
    joinPath(pattern, basePath, L"lib\\*");
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int used = 0;
    bool lost = false;
    do {
        ansiCopy(entry.cFileName, entryAnsi);
        size_t length = wcslen(entry.cFileName);
        if (isJarName(entry.cFileName, entryAnsi)) {
            if (onClassPath()) {
                used++;
                reportFinding(FINDING_OK, "jar %s", entryAnsi);
            } else if (!lost) {
                lost = true;
                reportFinding(FINDING_PROBLEM, "the class path is longer than the service's buffer of %d bytes: it is cut at %s, the first jar lost",
                              ANSI_CAPACITY - 1, entryAnsi);
                reportRemedy("use fewer or shorter-named jars, or a shorter installation path");
            }
        } else if (length > 4 && _wcsicmp(entry.cFileName + length - 4, L".jar") == 0) {
            reportFinding(FINDING_WARNING, "%s is left out: only names ending in \".jar\", lower case, count", entryAnsi);
            reportRemedy("rename it to end in \".jar\"");
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return used;
}

void checkClassPath(void)
{
    reportSection("Class path");
    reportLibFolder();
    int used = reportJars();
    const wchar_t *override = _wgetenv(CLASS_PATH_VARIABLE);
    if (override == NULL && used == 0) {
        reportFinding(FINDING_PROBLEM, "no jar on the class path: the JVM would not find the main class");
        reportRemedy("put the application's jar files in %slib\\", basePathAnsi);
    } else if (override != NULL) {
        reportFinding(FINDING_WARNING, "VLCLASSPATH is set and replaces the class path from lib\\: %s", reportPath(override));
        reportRemedy("remove VLCLASSPATH unless the application needs exactly that class path");
    }
    reportFinding(FINDING_OK, "class path option: %d bytes; the service's buffer holds %d",
                  (int)strlen(classPathOption) - 1, ANSI_CAPACITY - 1);
}
