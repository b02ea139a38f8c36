// The thread dump's records and its state, between the dump's thread and the
// stop that waits for it (thread_dump.cpp, shutdown.cpp).
#ifndef VELMORANE_THREAD_DUMP_STATE_H
#define VELMORANE_THREAD_DUMP_STATE_H

#include "launcher/thread_dump.h"

// Enters the log lock while the dump may still write; the caller writes one
// record and leaves the lock. False, with the lock left, once the stop has
// gone on without the dump.
bool dumpMayWrite(void);

// One record of the dump, written only while the stop still waits for it.
// False once the stop has gone on without the dump.
bool dumpRecord(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Ends a dump that went wrong: the record of a dump not taken or cut, then the
// Java exception that stopped it, unless the stop has already given it its
// last record. Always false.
bool endDump(JNIEnv *env);

#endif
