// What the service's own account may do with a file or folder, from its
// descriptor: read the tree, load jvm.dll, create the log, write the output.
#ifndef VELMORANE_ACCOUNT_ACCESS_H
#define VELMORANE_ACCOUNT_ACCESS_H

#include <windows.h>

// The account and the groups that a service's token holds whatever the
// machine: Everyone, Authenticated Users, Users, SERVICE, LOCAL; besides,
// LocalSystem's Administrators and a virtual account's ALL SERVICES. An
// ordinary account's own group memberships are not followed.
#define ACCOUNT_SID_LIMIT 8

struct AccountSids {
    int count;
    PSID sids[ACCOUNT_SID_LIMIT];
    BYTE storage[ACCOUNT_SID_LIMIT][SECURITY_MAX_SID_SIZE];
};

// Fills `sids` for the account; false when a SID can't be made.
bool serviceAccountSids(PSID account, AccountSids *sids);

// Whether the account is a virtual one (NT SERVICE\...: S-1-5-80-...).
bool isVirtualAccount(PSID account);

// The file rights the descriptor's access list grants the account on the
// object itself: each allowed entry for one of its SIDs adds its rights
// (generic rights mapped to the file rights they stand for), each denied
// entry before it takes them away; inherit-only entries are for what the
// folder holds and count not; conditional entries are not weighed. Without
// an access list, every right.
ACCESS_MASK accountAccess(PSECURITY_DESCRIPTOR descriptor, const AccountSids *sids);

// The rights each use needs: a folder listed and gone through, a jar read,
// a library mapped to run, a file created in a folder, the log opened for
// writing (its GENERIC_WRITE) and the output file for appending.
#define READ_FOLDER_RIGHTS (FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES)
#define READ_FILE_RIGHTS (FILE_READ_DATA | FILE_READ_ATTRIBUTES)
#define LOAD_RIGHTS (FILE_READ_DATA | FILE_EXECUTE)
#define CREATE_RIGHTS FILE_ADD_FILE
#define LOG_WRITE_RIGHTS (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA)
#define APPEND_RIGHTS FILE_APPEND_DATA

#endif
