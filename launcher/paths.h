// The launcher's first stage: its own executable's path and the installation
// directories derived from it by count.
#ifndef VELMORANE_PATHS_H
#define VELMORANE_PATHS_H

#include "launcher/inputs.h"
#include "launcher/runtime_layout.h"
#include "launcher/strings.h"
#include "log/service_name.h"

// The executable's name (EXECUTABLE_NAME) and its folder's, which the paths
// are cut by.
#define INSTALLATION_FOLDER_NAME "Velmorane"
#define EXECUTABLE_NAME_LENGTH (sizeof EXECUTABLE_NAME - 1)
#define INSTALLATION_FOLDER_NAME_LENGTH (sizeof INSTALLATION_FOLDER_NAME - 1)
// The executable's name, its folder's and the backslash between them.
#define EXECUTABLE_DIR_AND_NAME_LENGTH (INSTALLATION_FOLDER_NAME_LENGTH + 1 + EXECUTABLE_NAME_LENGTH)

#define JVM_LIBRARY_SUFFIX L"" JRE_FOLDER DEFAULT_VM_FOLDER JVM_FILE
#define RUNTIME_LIBRARY_SUFFIX L"" JRE_FOLDER BIN_FOLDER "msvcr120.dll"

// One launch's path buffers, each with an ANSI copy for the log.
struct LaunchPaths {
    wchar_t executablePath[PATH_CAPACITY];
    char executablePathAnsi[ANSI_CAPACITY];
    // The executable's folder.
    wchar_t basePath[PATH_CAPACITY];
    char basePathAnsi[ANSI_CAPACITY];
    // The KTR path: the installation root, the base path's parent, which
    // holds the Java runtime.
    wchar_t ktrPath[PATH_CAPACITY];
    char ktrPathAnsi[ANSI_CAPACITY];
    // The first candidate of each library list, as this stage prepares it.
    wchar_t jvmLibraryPath[PATH_CAPACITY];
    char jvmLibraryPathAnsi[ANSI_CAPACITY];
    wchar_t runtimeLibraryPath[PATH_CAPACITY];
    char runtimeLibraryPathAnsi[ANSI_CAPACITY];
};

// Where the first virtual machine library candidate came from.
enum JvmLibrarySource {
    JVM_LIBRARY_FROM_LAYOUT,         // the installation root's jdk\jre\bin\default\jvm.dll
    JVM_LIBRARY_FROM_VARIABLE,       // VLJVMDLL
    JVM_LIBRARY_VARIABLE_TOO_LONG,   // VLJVMDLL refused: too long; the layout's
};

// What the path stage found. The paths point into its LaunchPaths.
struct PathsResult {
    const wchar_t *executablePath;
    const wchar_t *basePath;
    const wchar_t *ktrPath;
    JvmLibrarySource jvmLibrarySource;
};

// The executable's path less its last `cut` characters, into dest
// (PATH_CAPACITY): the base path (EXECUTABLE_NAME_LENGTH) and the
// installation root (EXECUTABLE_DIR_AND_NAME_LENGTH) by count. A path shorter
// than the cut gives an empty result.
void cutInstallationPath(wchar_t *dest, const wchar_t *executable, size_t cut);

// Writes the banner, reads the executable's path (inputs->executable, or the
// process's own) into paths and derives the rest.
void findInstallationPaths(const LaunchInputs *inputs, LaunchPaths *paths, PathsResult *result);
// Everything after reading the executable's path: fills the other buffers
// from paths->executablePath and logs them.
void deriveInstallationPaths(const LaunchInputs *inputs, LaunchPaths *paths, PathsResult *result);

#endif
