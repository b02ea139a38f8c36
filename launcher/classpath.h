// The launcher's second stage: the class path option the virtual machine is
// created with.
#ifndef VELMORANE_CLASSPATH_H
#define VELMORANE_CLASSPATH_H

#include <windows.h>

#include "launcher/strings.h"

#define CLASS_PATH_VARIABLE L"VLCLASSPATH"
#define CLASS_PATH_OPTION_PREFIX "-Djava.class.path="
#define NATIVE_DIGEST_OPTION "-Djdk.nativeDigest=false"

extern wchar_t searchPattern[PATH_CAPACITY];
extern WIN32_FIND_DATAW directoryEntry;
extern WIN32_FIND_DATAW subdirectoryEntry;
extern char entryNameAnsi[ANSI_CAPACITY];
extern wchar_t subdirectoryPattern[PATH_CAPACITY];
extern char subdirectoryPatternAnsi[ANSI_CAPACITY];
extern wchar_t classPathText[PATH_CAPACITY];
extern char classPathTextAnsi[ANSI_CAPACITY];
// "-Djava.class.path=<class path>\n", as logged.
extern char classPathOption[ANSI_CAPACITY];

// True when an entry is a jar file: more than 4 characters in its name and
// ".jar", exactly and case-sensitively, as the last four bytes of its ANSI copy.
bool isJarName(const wchar_t *name, const char *nameAnsi);

// Fills classPathOption from lib\ (or surveys plugins\), applies
// "VLCLASSPATH" and logs the two virtual machine options.
void buildClassPath(void);

// Formats classPathOption from a class path in the ANSI code page. A class
// path longer than the option can hold is cut after the last whole character
// that fits; the option always ends with its line feed.
void formatClassPathOption(const char *classPath);

#endif
