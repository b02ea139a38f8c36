// The snapshot: the service's own stages run once on the installation beside
// this program, and what they found; the check's sections and the permission
// judgement read it.
#ifndef VELMORANE_SNAPSHOT_H
#define VELMORANE_SNAPSHOT_H

#include <windows.h>

#include "console/console.h"
#include "console/service_view.h"
#include "launcher/launcher.h"

// Folder entries the snapshot keeps; a lib\ with more is reported in part.
#define SNAPSHOT_ENTRY_LIMIT 8192
// What the virtual machine prints while it is created and looked at.
#define JVM_OUTPUT_CAPACITY 16384

// What the service's stages found for the installation beside this program,
// run once as the service would run them (up to the lookups of the
// application, without calling it), and the surroundings of that run.
struct Snapshot {
    const Installation *installation;
    bool serviceExecutablePresent;
    wchar_t serviceExecutableName[MAX_PATH]; // as the folder spells it
    wchar_t otherExecutable[MAX_PATH];       // when it is missing: another program here; empty: none
    wchar_t parentFolder[PATH_CAPACITY];     // this folder's parent, with its backslash
    wchar_t folderName[MAX_PATH];            // this folder's own name
    bool layoutSound;                        // the installation root is this folder's parent
    bool withJvm;                            // the virtual machine was to be created
    DWORD launchThreadError;                 // no thread for the launch: its error; else 0
    ServiceEnvironment environment;
    LaunchInputs inputs;                     // the service's, as it would get them
    // The check's run of the stages: its inputs (its depth, and the output
    // to its own file) and what the stages found.
    LaunchContext *stages;
    wchar_t jvmOutputPath[MAX_PATH];         // that file
    FolderEntry entries[SNAPSHOT_ENTRY_LIMIT];
    wchar_t runtimePaths[RUNTIME_CANDIDATE_COUNT][PATH_CAPACITY];
    wchar_t jvmPaths[JVM_CANDIDATE_COUNT][PATH_CAPACITY];
    char jvmOutput[JVM_OUTPUT_CAPACITY];     // what the virtual machine printed meanwhile
};

// Takes the snapshot: reads the service's environment, runs the stages on a
// thread of their own with their records dropped. NULL when out of memory.
Snapshot *takeSnapshot(const Installation *installation, bool withJvm);

#endif
