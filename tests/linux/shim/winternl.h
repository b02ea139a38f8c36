// The one native query the log makes: a file's index on its volume, which
// the stand-in takes from the descriptor's inode.
#ifndef VELMORANE_LINUX_SHIM_WINTERNL_H
#define VELMORANE_LINUX_SHIM_WINTERNL_H

#include "windows.h"

typedef LONG NTSTATUS;
typedef struct {
    NTSTATUS Status;
    uintptr_t Information;
} IO_STATUS_BLOCK;
typedef struct {
    LARGE_INTEGER IndexNumber;
} FILE_INTERNAL_INFORMATION;
typedef enum { FileInternalInformation = 6 } FILE_INFORMATION_CLASS;

NTSTATUS NtQueryInformationFile(HANDLE file, IO_STATUS_BLOCK *status, void *information, DWORD size,
                                FILE_INFORMATION_CLASS kind);

#endif
