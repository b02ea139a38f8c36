// The thread dump's records and its state, between the dump's thread and the
// stop that waits for it (thread_dump.cpp, shutdown.cpp).
#ifndef VELMORANE_THREAD_DUMP_STATE_H
#define VELMORANE_THREAD_DUMP_STATE_H

#include "launcher/thread_dump.h"

// One record of the dump, written only while the stop still waits for it;
// the first one moves the dump to DUMP_WRITING. False once the stop has gone
// on without the dump.
bool dumpRecord(volatile LONG *state, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));

// After the last record of a whole dump: true when the stop still waited for
// it (the dump is DUMP_ENDED now), false when it had gone on without it.
bool finishDump(volatile LONG *state);

// Ends a dump that went wrong: the record of a dump not taken or cut, then the
// Java exception that stopped it, unless the stop has already given it its
// last record. Always false.
bool endDump(volatile LONG *state, JNIEnv *env);

#endif
