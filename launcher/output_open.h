// Opening the Java output file, or one of its rotated older files, with the
// log's refusals: no link on the way or at the end, no second name, the final
// name, the owner rule.
#ifndef VELMORANE_OUTPUT_OPEN_H
#define VELMORANE_OUTPUT_OPEN_H

#include <windows.h>

// Whether the file's owner may own it: the log's rule (hasTrustedOwner),
// which tests replace, since under Wine every file is the one account's.
// Process-wide as that rule is: the same for every output file the process
// opens, the rotation's included.
extern bool (*javaOutputOwnerCheck)(HANDLE file, char *ownerText);

// Each refusal with its record; a refused file the walk made is removed.
// INVALID_HANDLE_VALUE when refused (error is then ERROR_SUCCESS: the record
// is written) or not opened (error says why). openOutputFile opens or makes
// the file for appending; openRotatedFile opens an existing one, with DELETE
// access, to rename or remove it.
HANDLE openOutputFile(const wchar_t *path, const char *pathAnsi, DWORD *error);
HANDLE openRotatedFile(const wchar_t *path, const char *pathAnsi, DWORD *error);

#endif
