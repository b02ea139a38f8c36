// Class path: what the class path stage found in lib\, what it left out, and
// whether its buffer held every jar.
#include "console/check/check.h"

#include "console/report.h"

static void reportLibFolder(const Snapshot *snapshot)
{
    const char *base = reportPath(snapshot->stages->results.paths.basePath);
    ClassPathFolder folder = snapshot->stages->results.classPath.folder;
    if (folder == CLASS_PATH_FROM_LIB) {
        reportFinding(FINDING_OK, "lib\\ found: %slib\\", base);
        return;
    }
    reportFinding(FINDING_PROBLEM, "no lib\\ in %s", base);
    reportRemedy("create %slib\\ and put the application's jar files in it", base);
    if (folder == CLASS_PATH_PLUGINS_ONLY)
        reportFinding(FINDING_WARNING, "plugins\\ is there, but its jars are only listed in the log, never put on the class path");
}

// A name that ends in ".jar" in another case: the stage leaves it out.
static bool endsInJarOtherwise(const wchar_t *name)
{
    size_t length = wcslen(name);
    return length > 4 && _wcsicmp(name + length - 4, L".jar") == 0;
}

static void reportCut(const ClassPathResult *result)
{
    reportFinding(FINDING_PROBLEM, "the class path is longer than the service's buffer of %d bytes: it is cut at %s, the first jar lost",
                  ANSI_CAPACITY - 1, reportPath(result->firstCutJar));
    reportRemedy("use fewer or shorter-named jars, or a shorter installation path");
}

static void reportEntries(const Snapshot *snapshot)
{
    const ClassPathResult *result = &snapshot->stages->results.classPath;
    if (result->folder != CLASS_PATH_FROM_LIB)
        return;
    // A cut class path matters only while it is the one the JVM gets.
    bool cutToReport = result->firstCutJar[0] != L'\0' && !result->overridden;
    size_t kept = result->entryCount < result->entryCapacity ? result->entryCount : result->entryCapacity;
    for (size_t index = 0; index < kept; index++) {
        const FolderEntry *entry = &result->entries[index];
        if (entry->verdict == ENTRY_CUT_OFF && cutToReport) {
            reportCut(result);
            cutToReport = false;
        } else if (entry->verdict == ENTRY_ON_CLASS_PATH) {
            reportFinding(FINDING_OK, "jar %s", reportPath(entry->name));
        } else if (entry->verdict == ENTRY_NOT_A_JAR && endsInJarOtherwise(entry->name)) {
            reportFinding(FINDING_WARNING, "%s is left out: only names ending in \".jar\", lower case, count",
                          reportPath(entry->name));
            reportRemedy("rename it to end in \".jar\"");
        }
    }
    if (kept < result->entryCount)
        reportFinding(FINDING_OK, "%zu more %s in lib\\, not listed here", result->entryCount - kept,
                      countWords((long long)(result->entryCount - kept), "entry", "entries"));
    if (cutToReport)
        reportCut(result);
}

void checkClassPath(const Snapshot *snapshot)
{
    reportSection("Class path");
    reportLibFolder(snapshot);
    reportEntries(snapshot);
    const ClassPathResult *result = &snapshot->stages->results.classPath;
    if (snapshot->inputs.classPath != NULL) {
        reportFinding(FINDING_WARNING, CLASS_PATH_VARIABLE_NAME " is set and replaces the class path from lib\\: %s",
                      reportPath(snapshot->inputs.classPath));
        reportRemedy("remove " CLASS_PATH_VARIABLE_NAME " unless the application needs exactly that class path");
    } else if (result->jarCount == 0) {
        reportFinding(FINDING_PROBLEM, "no jar on the class path: the JVM would not find the main class");
        reportRemedy("put the application's jar files in %slib\\", reportPath(snapshot->stages->results.paths.basePath));
    }
    reportFinding(FINDING_OK, "class path option: %d bytes; the service's buffer holds %d", (int)result->optionLength,
                  ANSI_CAPACITY - 1);
}
