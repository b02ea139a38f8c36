// Layout: the service executable beside this program under exactly its name,
// and the folders the service derives from its path by counting characters.
#include "console/check/check.h"

#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "console/report.h"

// What the service would make of another name: the path stage's own cut.
static void reportRenamedExecutable(const Snapshot *snapshot)
{
    const wchar_t *consoleFolder = snapshot->installation->folder;
    if (snapshot->otherExecutable[0] == L'\0') {
        reportFinding(FINDING_PROBLEM, EXECUTABLE_NAME " is not in %s", reportPath(consoleFolder));
        reportRemedy("put " EXECUTABLE_NAME " beside " CONSOLE_NAME ".exe");
        return;
    }
    wchar_t *paths = (wchar_t *)malloc(3 * PATH_CAPACITY * sizeof(wchar_t));
    if (paths == NULL)
        return;
    wchar_t *renamed = paths, *base = paths + PATH_CAPACITY, *root = paths + 2 * PATH_CAPACITY;
    joinPath(renamed, consoleFolder, snapshot->otherExecutable);
    cutInstallationPath(base, renamed, EXECUTABLE_NAME_LENGTH);
    cutInstallationPath(root, renamed, EXECUTABLE_DIR_AND_NAME_LENGTH);
    reportFinding(FINDING_PROBLEM, EXECUTABLE_NAME " is not in %s; %s is, which would take base path '%s' and installation root '%s'",
                  reportPath(consoleFolder), reportPath(snapshot->otherExecutable), reportPath(base), reportPath(root));
    reportRemedy("the executable was renamed: rename %s back to " EXECUTABLE_NAME " (%d characters), then install it again",
                 reportPath(snapshot->otherExecutable), (int)EXECUTABLE_NAME_LENGTH);
    free(paths);
}

void checkLayout(const Snapshot *snapshot)
{
    const wchar_t *consoleFolder = snapshot->installation->folder;
    reportSection("Layout");
    if (snapshot->serviceExecutablePresent)
        reportFinding(FINDING_OK, "%s is in %s", reportPath(snapshot->serviceExecutableName), reportPath(consoleFolder));
    else
        reportRenamedExecutable(snapshot);

    const PathsResult *paths = &snapshot->stages->results.paths;
    if (wcscmp(paths->basePath, consoleFolder) == 0)
        reportFinding(FINDING_OK, "base path '%s': this folder", reportPath(paths->basePath));
    else
        reportFinding(FINDING_PROBLEM, "base path '%s' is not this folder %s", reportPath(paths->basePath),
                      reportPath(consoleFolder));

    const char *root = reportPath(paths->ktrPath);
    const char *folderName = reportPath(snapshot->folderName);
    if (!snapshot->layoutSound) {
        reportFinding(FINDING_PROBLEM, "installation root (KTR path) '%s' is not this folder's parent %s: the folder is named %s (%d %s)",
                      root, reportPath(snapshot->parentFolder), folderName, (int)wcslen(snapshot->folderName),
                      countWords((long long)wcslen(snapshot->folderName), "character", "characters"));
        reportRemedy("the folder was renamed: rename %s back to " INSTALLATION_FOLDER_NAME " (%d characters)", folderName,
                     (int)INSTALLATION_FOLDER_NAME_LENGTH);
    } else if (wcscmp(snapshot->folderName, L"" INSTALLATION_FOLDER_NAME) != 0) {
        reportFinding(FINDING_WARNING, "installation root (KTR path) '%s': this folder's parent, though the folder is named %s",
                      root, folderName);
        reportRemedy("a name of the same length works; rename %s to " INSTALLATION_FOLDER_NAME " to keep to the documented layout",
                     folderName);
    } else {
        reportFinding(FINDING_OK, "installation root (KTR path) '%s': this folder's parent", root);
    }
}
