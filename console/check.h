// The sections of "check", in the order of the report. Each reads what the
// service's stages left in their buffers (and the collected records) after
// check.cpp ran them for the installation beside this program.
#ifndef VELMORANE_CHECK_H
#define VELMORANE_CHECK_H

#include <windows.h>

#include "launcher/strings.h"

// Whether the installation root the service derives is this folder's parent:
// only then is a stray jvm.dll's place worth a remedy.
extern bool layoutSound;

void checkLayout(void);
void checkClassPath(void);
// Returns the virtual machine library the service would load, or NULL.
HMODULE checkRuntime(void);
void checkApplication(HMODULE jvmModule, bool withJvm);
void checkRegistration(void);
void checkPermissions(void);
void checkEnvironment(void);
void checkLog(void);

// A path with a drive and its backslash, or a UNC path.
bool isAbsolutePath(const wchar_t *path);

// Runs the path and class path stages for `executable` with the records
// collected (banner included).
void runPathAndClassPathStages(const wchar_t *executable);

// Filled by checkRuntime for the permission check: every candidate's path.
#define CANDIDATE_LIMIT 16
extern int candidatePathCount;
extern wchar_t candidatePaths[CANDIDATE_LIMIT][PATH_CAPACITY];

#endif
