// Who, besides the trusted principals, may change what is in a folder.
#ifndef VELMORANE_WRITE_ACCESS_H
#define VELMORANE_WRITE_ACCESS_H

#include <windows.h>

// Rights that let a principal write or create in a folder, or give itself
// the right to: the rest (read, list, traverse) is harmless.
#define WRITE_ACCESS_MASK                                                                                              \
    (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE         \
     | GENERIC_WRITE | GENERIC_ALL)

// Fills `writers` (room for `capacity`) with the principals that an entry of
// the descriptor's access list lets write in the object itself, other than
// administrators, SYSTEM, the installer (TrustedInstaller) and the object's
// owner. Rights an entry denies to the same principal are taken off; group
// memberships are not followed. Without an access list everyone may write
// (the Everyone SID stands for them). The SIDs point into the descriptor or
// to a static Everyone SID. Returns the count (at most capacity).
int findOtherWriters(PSECURITY_DESCRIPTOR descriptor, PSID *writers, int capacity);

#endif
