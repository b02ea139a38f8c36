// Whose the log file is: the service appends only to a log that belongs to
// the system or to the account it runs as, never to one that someone else
// made beforehand to read or forge its records.
#ifndef VELMORANE_LOGOWNER_H
#define VELMORANE_LOGOWNER_H

#include <windows.h>

// Room for an owner's SID as text ("S-1-5-21-..."), terminator included.
#define OWNER_TEXT_CAPACITY 192

// Whether a principal is one the service's files may belong to: SYSTEM,
// Administrators or the installer (TrustedInstaller).
bool isTrustedPrincipal(PSID sid);

// The decision over the file's descriptor: its owner is trusted, or is
// `self`, the account the process runs as. A descriptor without an owner (a
// file system that keeps none) has nobody else's file either.
bool isTrustedLogOwner(PSECURITY_DESCRIPTOR descriptor, PSID self);

// How an opened file's owner is asked: a descriptor holding at least its
// owner, freed with LocalFree, or a Windows error. GetSecurityInfo by
// default; the tests give made-up owners, since under Wine every file has
// the one owner.
typedef DWORD (*FileOwnerQuery)(HANDLE file, PSECURITY_DESCRIPTOR *descriptor);
// Process-wide as the log's owner rule is: every record's open judges by it.
extern FileOwnerQuery fileOwnerQuery;
DWORD queryFileOwner(HANDLE file, PSECURITY_DESCRIPTOR *descriptor);

// The account whose files the log may be besides the trusted principals:
// NULL for the account this process runs as (the service's own). The
// console, which judges the log for the service, names the service's
// account from its registration. Process-wide as the owner rule is.
extern PSID logOwnerAccount;

// The decision for an opened file (opened with READ_CONTROL). False, with
// the owner's SID as text in ownerText (OWNER_TEXT_CAPACITY; empty when it
// can't be read), when the file is someone else's or its owner can't be told.
bool hasTrustedOwner(HANDLE file, char *ownerText);
// The owner's SID of an opened file as text ("" when it can't be read).
void fileOwnerText(HANDLE file, char *ownerText);

#endif
