// The launcher's second stage: the class path option the virtual machine is
// created with.
#ifndef VELMORANE_CLASSPATH_H
#define VELMORANE_CLASSPATH_H

#include <windows.h>

#include "launcher/inputs.h"
#include "launcher/strings.h"

#define CLASS_PATH_OPTION_PREFIX "-Djava.class.path="
#define NATIVE_DIGEST_OPTION "-Djdk.nativeDigest=false"

// The class path stage's buffers in one launch.
struct ClassPathBuffers {
    wchar_t searchPattern[PATH_CAPACITY];
    WIN32_FIND_DATAW directoryEntry;
    WIN32_FIND_DATAW subdirectoryEntry;
    char entryNameAnsi[ANSI_CAPACITY];
    wchar_t subdirectoryPattern[PATH_CAPACITY];
    char subdirectoryPatternAnsi[ANSI_CAPACITY];
    wchar_t classPathText[PATH_CAPACITY];
    char classPathTextAnsi[ANSI_CAPACITY];
    // "-Djava.class.path=<class path>\n", as logged.
    char classPathOption[ANSI_CAPACITY];
};

// True when an entry is a jar file: more than 4 characters in its name and
// ".jar", exactly and case-sensitively, as the last four bytes of its ANSI copy.
bool isJarName(const wchar_t *name, const char *nameAnsi);

// The class path's room in the class path option: the option less its prefix, its
// line feed and the terminator.
#define CLASS_PATH_ROOM (ANSI_CAPACITY - (sizeof CLASS_PATH_OPTION_PREFIX - 1) - 2)

// Which folder the stage read.
enum ClassPathFolder {
    CLASS_PATH_FROM_LIB,      // lib\ was listed
    CLASS_PATH_PLUGINS_ONLY,  // no lib\: plugins\ was surveyed, nothing put on the class path
    CLASS_PATH_NO_FOLDER,     // neither
};

// What became of one entry of the folder.
enum EntryVerdict {
    ENTRY_NOT_A_JAR,          // its name does not end in ".jar" (4 characters or fewer: not even looked at)
    ENTRY_ON_CLASS_PATH,      // a jar, on the class path
    ENTRY_CUT_OFF,            // a jar the class path's capacity left out
    ENTRY_PLUGIN,             // an entry of plugins\, surveyed only
};

struct FolderEntry {
    wchar_t name[MAX_PATH];
    EntryVerdict verdict;
};

// What the class path stage found. The caller gives room for the entries it
// wants kept (none: entries NULL); every entry is counted all the same.
struct ClassPathResult {
    FolderEntry *entries;
    size_t entryCapacity;
    size_t entryCount;              // entries met, kept or not
    ClassPathFolder folder;
    size_t jarCount;                // jars on the class path
    wchar_t firstCutJar[MAX_PATH];  // the first jar the capacity left out; empty: none
    bool overridden;                // VLCLASSPATH replaced the class path
    bool overrideUnconverted;       // VLCLASSPATH could not be converted and was ignored
    size_t optionLength;            // bytes of classPathOption without its line feed
};

// Fills buffers->classPathOption from lib\ below basePath (or surveys
// plugins\), applies "VLCLASSPATH" (inputs->classPath) and logs the two
// virtual machine options.
void buildClassPath(const LaunchInputs *inputs, const wchar_t *basePath, ClassPathBuffers *buffers,
                    ClassPathResult *result);

// Formats the class path option (ANSI_CAPACITY bytes) from a class path in
// the ANSI code page. A class path longer than the option can hold is cut
// after the last whole character that fits; the option always ends with its
// line feed.
void formatClassPathOption(char *option, const char *classPath);

#endif
