// Sharing modes of the C runtime's _sopen_s; POSIX opens share everything.
#ifndef VELMORANE_LINUX_SHIM_SHARE_H
#define VELMORANE_LINUX_SHIM_SHARE_H

#define _SH_DENYRW 0x10

#endif
