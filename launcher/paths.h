// The launcher's first stage: its own executable's path and the installation
// directories derived from it by count.
#ifndef VELMORANE_PATHS_H
#define VELMORANE_PATHS_H

#include "launcher/strings.h"

// Characters of "VelmoraneService.exe".
#define EXECUTABLE_NAME_LENGTH 20
// Those and the 10 of "Velmorane\".
#define EXECUTABLE_DIR_AND_NAME_LENGTH 30

#define JVM_LIBRARY_SUFFIX L"jdk\\jre\\bin\\default\\jvm.dll"
#define RUNTIME_LIBRARY_SUFFIX L"jdk\\jre\\bin\\msvcr120.dll"
#define JVM_LIBRARY_VARIABLE L"VLJVMDLL"

// Path buffers of the launcher thread, each with an ANSI copy for the log.
extern wchar_t executablePath[PATH_CAPACITY];
extern char executablePathAnsi[ANSI_CAPACITY];
extern wchar_t basePath[PATH_CAPACITY];
extern char basePathAnsi[ANSI_CAPACITY];
extern wchar_t ktrPath[PATH_CAPACITY];
extern char ktrPathAnsi[ANSI_CAPACITY];
extern wchar_t jvmLibraryPath[PATH_CAPACITY];
extern char jvmLibraryPathAnsi[ANSI_CAPACITY];
extern wchar_t runtimeLibraryPath[PATH_CAPACITY];
extern char runtimeLibraryPathAnsi[ANSI_CAPACITY];

// The service executable the stages work from when set; otherwise the
// process's own executable. The service never sets it; the operator's console
// names the service beside itself.
extern const wchar_t *installationExecutable;

// Writes the banner, reads the executable's path and derives the rest.
void findInstallationPaths(void);
// Everything after reading the executable's path: fills the other buffers
// from executablePath and logs them.
void deriveInstallationPaths(void);

#endif
