// The Java application's console output, kept in a file the operator names.
#ifndef VELMORANE_JAVAOUTPUT_H
#define VELMORANE_JAVAOUTPUT_H

#include <windows.h>

#include "launcher/strings.h"

extern wchar_t javaOutputPath[PATH_CAPACITY];
extern char javaOutputPathAnsi[ANSI_CAPACITY];
// The open file, kept for the life of the process; INVALID_HANDLE_VALUE
// when the output is not redirected. With rotation, the pump's current file.
extern HANDLE javaOutputFile;

// Whether the file's owner may own it: the log's rule (hasTrustedOwner),
// which tests replace, since under Wine every file is the one account's.
extern bool (*javaOutputOwnerCheck)(HANDLE file, char *ownerText);

// The output file's refusals (no link on the way or at the end, no second
// name, the final name, the owner rule), each with its record; a refused file
// the walk made is removed. INVALID_HANDLE_VALUE when refused (error is then
// ERROR_SUCCESS: the record is written) or not opened (error says why).
// openOutputFile opens or makes the file for appending; openRotatedFile
// opens an existing one, with DELETE access, to rename or remove it.
HANDLE openOutputFile(const wchar_t *path, const char *pathAnsi, DWORD *error);
HANDLE openRotatedFile(const wchar_t *path, const char *pathAnsi, DWORD *error);

// When "VLJAVAOUTPUT" is set and not empty (its value given; NULL: not set):
// opens that file for appending and makes it the process's standard output
// and standard error, with one record saying so or why not. Must run before
// any runtime library is loaded.
void redirectJavaOutputTo(const wchar_t *value);

#endif
