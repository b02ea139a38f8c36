// Layout: the service executable beside this program under exactly its name,
// and the folders the service derives from its path by counting characters.
#include "console/check.h"

#include <string.h>

#include "console/console.h"
#include "console/report.h"
#include "launcher/paths.h"

bool layoutSound = false;

static WIN32_FIND_DATAW entry;
static wchar_t pattern[PATH_CAPACITY];
static wchar_t renamedExecutable[PATH_CAPACITY];
static wchar_t parentFolder[PATH_CAPACITY];
static wchar_t folderName[PATH_CAPACITY];

// Another program in this folder, other than this one: the likely renamed
// service executable. Returns false when there is none.
static bool findOtherExecutable(void)
{
    joinPath(pattern, consoleFolder, L"*.exe");
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && lstrcmpiW(entry.cFileName, CONSOLE_EXECUTABLE_NAME) != 0) {
            joinPath(renamedExecutable, consoleFolder, entry.cFileName);
            found = true;
        }
    } while (!found && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

static void reportRenamedExecutable(void)
{
    if (!findOtherExecutable()) {
        reportFinding(FINDING_PROBLEM, "VelmoraneService.exe is not in %s", reportPath(consoleFolder));
        reportRemedy("put VelmoraneService.exe beside VelmoraneConsole.exe");
        return;
    }
    // What the service would make of the other name: its own derivation.
    runPathAndClassPathStages(renamedExecutable);
    reportFinding(FINDING_PROBLEM, "VelmoraneService.exe is not in %s; %s is, which would take base path '%s' and installation root '%s'",
                  reportPath(consoleFolder), reportPath(entry.cFileName), basePathAnsi, ktrPathAnsi);
    reportRemedy("the executable was renamed: rename %s back to VelmoraneService.exe (20 characters), then install it again",
                 reportPath(entry.cFileName));
}

// This folder's parent and this folder's own name, from consoleFolder.
static void splitConsoleFolder(void)
{
    boundedCopy(parentFolder, consoleFolder);
    size_t length = wcslen(parentFolder);
    if (length > 0)
        parentFolder[length - 1] = L'\0';
    wchar_t *slash = wcsrchr(parentFolder, L'\\');
    boundedCopy(folderName, slash != NULL ? slash + 1 : parentFolder);
    if (slash != NULL)
        slash[1] = L'\0';
    else
        parentFolder[0] = L'\0';
}

void checkLayout(void)
{
    reportSection("Layout");
    HANDLE search = FindFirstFileW(serviceExecutable, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        reportFinding(FINDING_OK, "%s is in %s", reportPath(entry.cFileName), reportPath(consoleFolder));
    } else {
        reportRenamedExecutable();
    }

    // The path stage for this installation; the later sections read its buffers.
    runPathAndClassPathStages(serviceExecutable);
    splitConsoleFolder();
    layoutSound = wcscmp(ktrPath, parentFolder) == 0;
    if (wcscmp(basePath, consoleFolder) == 0)
        reportFinding(FINDING_OK, "base path '%s': this folder", basePathAnsi);
    else
        reportFinding(FINDING_PROBLEM, "base path '%s' is not this folder %s", basePathAnsi, reportPath(consoleFolder));

    if (wcscmp(ktrPath, parentFolder) != 0) {
        reportFinding(FINDING_PROBLEM, "installation root (KTR path) '%s' is not this folder's parent %s: the folder is named %s (%d characters)",
                      ktrPathAnsi, reportPath(parentFolder), reportPath(folderName), (int)wcslen(folderName));
        reportRemedy("the folder was renamed: rename %s back to Velmorane (9 characters)", reportPath(folderName));
    } else if (wcscmp(folderName, L"Velmorane") != 0) {
        reportFinding(FINDING_WARNING, "installation root (KTR path) '%s': this folder's parent, though the folder is named %s",
                      ktrPathAnsi, reportPath(folderName));
        reportRemedy("a name of the same length works; rename %s to Velmorane to keep to the documented layout",
                      reportPath(folderName));
    } else {
        reportFinding(FINDING_OK, "installation root (KTR path) '%s': this folder's parent", ktrPathAnsi);
    }
}
