// The C runtime's low-level file calls that the log uses, on POSIX ones.
#ifndef VELMORANE_LINUX_SHIM_IO_H
#define VELMORANE_LINUX_SHIM_IO_H

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#define _O_WRONLY O_WRONLY
#define _O_CREAT O_CREAT
#define _O_APPEND O_APPEND
#define _O_TEXT 0
#define _S_IREAD S_IRUSR
#define _S_IWRITE S_IWUSR

int _sopen_s(int *fd, const char *path, int flags, int share, int mode);

static inline FILE *_fdopen(int fd, const char *mode)
{
    return fdopen(fd, mode);
}

static inline int _close(int fd)
{
    return close(fd);
}

#endif
