// The C runtime's low-level file calls that the log uses, on POSIX ones.
#ifndef VELMORANE_LINUX_SHIM_IO_H
#define VELMORANE_LINUX_SHIM_IO_H

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#define _O_APPEND O_APPEND
#define _O_TEXT 0
#define _O_NOINHERIT 0

// The shim's file handles are descriptors already.
static inline int _open_osfhandle(intptr_t handle, int flags)
{
    (void)flags;
    return (int)handle;
}

static inline FILE *_fdopen(int fd, const char *mode)
{
    return fdopen(fd, mode);
}

static inline int _close(int fd)
{
    return close(fd);
}

#endif
