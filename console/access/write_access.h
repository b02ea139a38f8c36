// Who, besides the trusted principals, may change what is in a folder or a file.
#ifndef VELMORANE_WRITE_ACCESS_H
#define VELMORANE_WRITE_ACCESS_H

#include <windows.h>

// Rights that let a principal write or create in a folder, or give itself
// the right to: the rest (read, list, traverse) is harmless.
#define WRITE_ACCESS_MASK                                                                                              \
    (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE         \
     | GENERIC_WRITE | GENERIC_ALL)
// Rights on the folder above the installation root that let a principal take
// the root away (rename or delete it, or give itself the right to) and put
// another in its place. Creating beside it (generic write) is harmless.
#define RENAME_ACCESS_MASK (FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_ALL)
// Rights on the service's registry key that change what the service runs.
#define KEY_CHANGE_ACCESS_MASK                                                                                         \
    (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_WRITE        \
     | GENERIC_ALL)
// Rights on the service that change the program it runs (or give the right to).
#define SERVICE_CHANGE_ACCESS_MASK (SERVICE_CHANGE_CONFIG | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL)
// The principals the decision tells apart in one access list.
#define PRINCIPAL_LIMIT 64

// The entries the decision does not weigh.
struct UnjudgedEntries {
    int conditional; // grant by conditions at run time or by object types
    int crowded;     // name principals beyond the PRINCIPAL_LIMIT it tells apart
};

// Fills `writers` (room for `capacity`) with the principals other than the
// trusted ones that may write in the object or in what is created inside it:
// an owner that is not trusted (an owner may always change the access list;
// only when `judgeOwner`, for a system that keeps owners; otherwise the
// entries for the owner, everybody's account there, are passed over too),
// and every principal an entry of the access list gives write rights, also
// through an entry meant only for what the folder holds (inherit-only).
// Rights an entry denies to the same principal before are taken off; group
// memberships are not followed; CREATOR OWNER and OWNER RIGHTS stand for
// whoever was let create or owns, and are not counted; CREATOR GROUP grants
// the creator's primary group, everybody's group on most machines, and is. Without an access list everyone may write (the
// Everyone SID stands for them). *unjudged counts the entries whose effect
// depends on conditions at run time (callback and conditional entries) or on
// object types, which this decision does not weigh. The SIDs point into the
// descriptor or to a static Everyone SID. Returns the count (at most capacity).
// *unjudged counts the entries of both kinds of UnjudgedEntries.
// `serviceAccount` is the account the service runs as, when the check has
// found it: its own writes are no one else's. NULL: LocalSystem, which is
// trusted anyway.
int findOtherWriters(PSECURITY_DESCRIPTOR descriptor, bool judgeOwner, PSID serviceAccount, PSID *writers, int capacity,
                     int *unjudged);
// The same decision for the rights in `rights`, the unweighed entries by
// kind; inherit-only entries count only `withInherited` (for what the
// folder holds, not for the folder alone).
int findPrincipalsWith(PSECURITY_DESCRIPTOR descriptor, bool judgeOwner, PSID serviceAccount, ACCESS_MASK rights,
                       bool withInherited, PSID *writers, int capacity, UnjudgedEntries *unjudged);

#endif
