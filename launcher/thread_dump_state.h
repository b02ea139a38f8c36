// The thread dump's records and its state, between the dump's thread and the
// stop that waits for it (thread_dump.cpp, shutdown.cpp).
#ifndef VELMORANE_THREAD_DUMP_STATE_H
#define VELMORANE_THREAD_DUMP_STATE_H

#include <windows.h>

#include <jni.h>

// Where the dump stands (LaunchContext's threadDumpState). The stop sets it
// before it starts the dump's thread (shutdown.cpp); from then on every change
// is a compare-and-exchange (thread_dump_state.cpp), since the stop may abandon
// the dump at any moment.
enum ThreadDumpState {
    DUMP_NONE,      // no dump at this stop
    DUMP_STARTED,   // its thread runs, nothing written yet
    DUMP_WRITING,   // its first record written
    DUMP_ENDED,     // its thread has written everything it will
    DUMP_ABANDONED, // the stop went on without it: nothing more is written
};

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

// Called when the stop waits no longer: a dump still under way (`state`)
// gets its last record (not taken, or cut off), and whatever its thread does
// after that is not written.
void abandonThreadDump(volatile LONG *state);

#endif
