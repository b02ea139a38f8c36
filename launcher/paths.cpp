// The installation is found by counting characters off the executable's own
// path: the executable's name and its directory's name have fixed lengths, so
// nothing is looked up and nothing at this stage can fail.
#include "launcher/paths.h"

#include <windows.h>
#include <stdlib.h>

#include "log/log.h"

wchar_t executablePath[PATH_CAPACITY];
char executablePathAnsi[ANSI_CAPACITY];
wchar_t basePath[PATH_CAPACITY];
char basePathAnsi[ANSI_CAPACITY];
wchar_t ktrPath[PATH_CAPACITY];
char ktrPathAnsi[ANSI_CAPACITY];
wchar_t jvmLibraryPath[PATH_CAPACITY];
char jvmLibraryPathAnsi[ANSI_CAPACITY];
wchar_t runtimeLibraryPath[PATH_CAPACITY];
char runtimeLibraryPathAnsi[ANSI_CAPACITY];
const wchar_t *installationExecutable = NULL;

void findInstallationPaths(void)
{
    logWrite("***** Velmorane Windows service starting *****\n");
    // A path that does not fit is cut and terminated by the system; the
    // derivation below goes on with whatever it got.
    executablePath[0] = L'\0';
    if (installationExecutable != NULL)
        boundedCopy(executablePath, installationExecutable);
    else
        GetModuleFileNameW(GetModuleHandleW(NULL), executablePath, PATH_CAPACITY);
    deriveInstallationPaths();
}

// The difference is taken as an unsigned size on purpose: a path shorter than
// the cut gives a count beyond the bounded copy's limit, hence an empty result.
static void cutPath(wchar_t *dest, size_t length, size_t cut)
{
    boundedPrefixCopy(dest, executablePath, length - cut);
}

// The first virtual machine library candidate comes from "VLJVMDLL" when that
// is set, even to an empty value.
static void applyJvmLibraryOverride(void)
{
    const wchar_t *value = _wgetenv(JVM_LIBRARY_VARIABLE);
    if (value == NULL)
        return;
    size_t length = wcslen(value);
    if (length >= PATH_CAPACITY) {
        // A cut path could name some other file: refuse the value instead.
        logWrite("VLJVMDLL environment variable is longer than %d characters and is ignored\n",
                 PATH_CAPACITY - 1);
        return;
    }
    logWrite("Will load jvm based on VLJVMDLL environment variable\n");
    boundedCopy(jvmLibraryPath, value);
}

void deriveInstallationPaths(void)
{
    size_t length = wcsnlen(executablePath, PATH_CAPACITY - 1);
    executablePath[length] = L'\0';

    ansiCopy(executablePath, executablePathAnsi);
    logWrite("Executable file name:\n");
    logWrite("%s\n", executablePathAnsi);
    logWrite("Name size:  %d\n", (int)length);

    cutPath(basePath, length, EXECUTABLE_NAME_LENGTH);
    ansiCopy(basePath, basePathAnsi);
    logWrite("Base path '%s'\n", basePathAnsi);

    cutPath(ktrPath, length, EXECUTABLE_DIR_AND_NAME_LENGTH);
    ansiCopy(ktrPath, ktrPathAnsi);
    logWrite("KTR path '%s'\n", ktrPathAnsi);

    logWrite("Includes support for quoted service path (TP-85987)\n");

    // The KTR path has at most PATH_CAPACITY - 1 - 30 characters, so both
    // candidates always fit.
    joinPath(jvmLibraryPath, ktrPath, JVM_LIBRARY_SUFFIX);
    joinPath(runtimeLibraryPath, ktrPath, RUNTIME_LIBRARY_SUFFIX);
    applyJvmLibraryOverride();

    ansiCopy(jvmLibraryPath, jvmLibraryPathAnsi);
    ansiCopy(runtimeLibraryPath, runtimeLibraryPathAnsi);
}
