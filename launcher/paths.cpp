// The installation is found by counting characters off the executable's own
// path: the executable's name and its directory's name have fixed lengths, so
// nothing is looked up and nothing at this stage can fail.
#include "launcher/paths.h"

#include <windows.h>
#include "launcher/records.h"
#include "log/log.h"

void findInstallationPaths(const LaunchInputs *inputs, LaunchPaths *paths, PathsResult *result)
{
    logWrite(RECORD_BANNER);
    // A path that does not fit is cut and terminated by the system; the
    // derivation below goes on with whatever it got.
    paths->executablePath[0] = L'\0';
    if (inputs->executable != NULL)
        boundedCopy(paths->executablePath, inputs->executable);
    else
        GetModuleFileNameW(GetModuleHandleW(NULL), paths->executablePath, PATH_CAPACITY);
    deriveInstallationPaths(inputs, paths, result);
}

// The difference is taken as an unsigned size on purpose: a path shorter than
// the cut gives a count beyond the bounded copy's limit, hence an empty result.
void cutInstallationPath(wchar_t *dest, const wchar_t *executable, size_t cut)
{
    boundedPrefixCopy(dest, executable, wcsnlen(executable, PATH_CAPACITY - 1) - cut);
}

// The first virtual machine library candidate comes from "VLJVMDLL" when that
// is set, even to an empty value.
static JvmLibrarySource applyJvmLibraryOverride(const wchar_t *value, wchar_t *jvmLibraryPath)
{
    if (value == NULL)
        return JVM_LIBRARY_FROM_LAYOUT;
    size_t length = wcsnlen(value, PATH_CAPACITY);
    if (length >= PATH_CAPACITY) {
        // A cut path could name some other file: refuse the value instead.
        logWrite(RECORD_JVM_VARIABLE_TOO_LONG, PATH_CAPACITY - 1);
        return JVM_LIBRARY_VARIABLE_TOO_LONG;
    }
    logWrite(RECORD_JVM_VARIABLE);
    // The probe loads from full paths only, so that nothing it loads comes
    // from the current folder or PATH.
    if (!isFullPath(value))
        logWrite(RECORD_JVM_VARIABLE_RELATIVE);
    boundedCopy(jvmLibraryPath, value);
    return JVM_LIBRARY_FROM_VARIABLE;
}

void deriveInstallationPaths(const LaunchInputs *inputs, LaunchPaths *paths, PathsResult *result)
{
    wchar_t *executablePath = paths->executablePath, *basePath = paths->basePath, *ktrPath = paths->ktrPath;
    size_t length = wcsnlen(executablePath, PATH_CAPACITY - 1);
    executablePath[length] = L'\0';

    ansiCopy(executablePath, paths->executablePathAnsi);
    logWrite(RECORD_EXECUTABLE);
    logWrite(RECORD_PATH_LINE, paths->executablePathAnsi);
    logWrite(RECORD_NAME_SIZE, (int)length);

    cutInstallationPath(basePath, executablePath, EXECUTABLE_NAME_LENGTH);
    ansiCopy(basePath, paths->basePathAnsi);
    logWrite(RECORD_BASE_PATH, paths->basePathAnsi);

    cutInstallationPath(ktrPath, executablePath, EXECUTABLE_DIR_AND_NAME_LENGTH);
    ansiCopy(ktrPath, paths->ktrPathAnsi);
    logWrite(RECORD_KTR_PATH, paths->ktrPathAnsi);

    logWrite(RECORD_QUOTED_PATH_SUPPORT);

    // The KTR path has at most PATH_CAPACITY - 1 - 30 characters, so both
    // candidates always fit.
    joinPath(paths->jvmLibraryPath, ktrPath, JVM_LIBRARY_SUFFIX);
    joinPath(paths->runtimeLibraryPath, ktrPath, RUNTIME_LIBRARY_SUFFIX);
    result->jvmLibrarySource = applyJvmLibraryOverride(inputs->jvmLibrary, paths->jvmLibraryPath);
    result->executablePath = executablePath;
    result->basePath = basePath;
    result->ktrPath = ktrPath;

    ansiCopy(paths->jvmLibraryPath, paths->jvmLibraryPathAnsi);
    ansiCopy(paths->runtimeLibraryPath, paths->runtimeLibraryPathAnsi);
}
