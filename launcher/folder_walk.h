// A file reached from the root of its volume one folder at a time, each
// folder opened as itself: a junction or symbolic link on the way is refused,
// never followed.
#ifndef VELMORANE_FOLDER_WALK_H
#define VELMORANE_FOLDER_WALK_H

#include <windows.h>

enum WalkOutcome {
    WALK_OPENED,       // an existing file, opened
    WALK_CREATED,      // nothing was there: the file was made (with DELETE access)
    WALK_NOT_OPENED,   // error says why
    WALK_LINK_ON_PATH, // a folder on the way is a reparse point
};

// Opens the file at `path` (made full against the current folder) with
// `access`, shared for reading, writing and deletion, not inheritable; makes
// it only where nothing is, link or otherwise. The file itself is opened as
// itself too, never what it points to.
WalkOutcome openWithoutLinks(const wchar_t *path, ACCESS_MASK access, HANDLE *file, DWORD *error);
// The same walk to a file that exists; nothing is made (ERROR_FILE_NOT_FOUND).
WalkOutcome openExistingWithoutLinks(const wchar_t *path, ACCESS_MASK access, HANDLE *file, DWORD *error);

#endif
