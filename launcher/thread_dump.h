// Where a shutdown() that does not return stands: the Java threads' stacks,
// written into the log by a thread of their own while the stop waits.
#ifndef VELMORANE_THREAD_DUMP_H
#define VELMORANE_THREAD_DUMP_H

#include <windows.h>

#include "launcher/java_contract.h"
#include "launcher/java_exception.h"
#include "launcher/thread_dump_state.h"
#include "log/log.h"

// How long after the stop the threads are dumped when shutdown() still runs.
#define THREAD_DUMP_AFTER_MS 15000
// At most this many threads, and this many frames of each, are written.
#define THREAD_DUMP_THREAD_LIMIT 64
#define THREAD_DUMP_FRAME_LIMIT 32
// Bytes of one name, state or frame in a record, terminator included.
#define THREAD_DUMP_TEXT_CAPACITY EXCEPTION_TEXT_CAPACITY

// The longest record, a thread's with its name and state, fits a log record.
static_assert(2 * THREAD_DUMP_TEXT_CAPACITY + 64 < LOG_RECORD_CAPACITY, "a dump record must fit a log record");

struct LaunchContext;

// Writes the threads' stacks on a thread attached to the virtual machine: the
// first record, then each thread (the one in shutdown() first), its frames,
// what was left out, each frame of the thread in shutdown() told to the
// launch's observer. Stops at the first Java exception, with the record of a
// dump not taken or cut and the exception's. True when the dump is whole.
bool dumpJavaThreads(JNIEnv *env, LaunchContext *launch);

// Thread routine: attaches to the launch's virtual machine, dumps, detaches;
// the parameter is the LaunchContext.
DWORD WINAPI threadDumpThread(LPVOID parameter);

#endif
