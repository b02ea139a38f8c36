// The Java application's console output, kept in a file the operator names.
#ifndef VELMORANE_JAVAOUTPUT_H
#define VELMORANE_JAVAOUTPUT_H

#include <windows.h>

#include "launcher/strings.h"

extern wchar_t javaOutputPath[PATH_CAPACITY];
extern char javaOutputPathAnsi[ANSI_CAPACITY];
// The open file, kept for the life of the process; INVALID_HANDLE_VALUE
// when the output is not redirected.
extern HANDLE javaOutputFile;

// Whether the file's owner may own it: the log's rule (hasTrustedOwner),
// which tests replace, since under Wine every file is the one account's.
extern bool (*javaOutputOwnerCheck)(HANDLE file, char *ownerText);

// When "VLJAVAOUTPUT" is set and not empty (its value given; NULL: not set):
// opens that file for appending and makes it the process's standard output
// and standard error, with one record saying so or why not. Must run before
// any runtime library is loaded.
void redirectJavaOutputTo(const wchar_t *value);

#endif
