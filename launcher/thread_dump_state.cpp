// Where the dump stands, under a lock of its own that is held across the
// check and the record, so that whoever writes the dump's last record sees it
// as it is: the dump's records are written only while the stop still waits
// for them. The log lock is taken inside it, never the other way round.
#include "launcher/thread_dump_state.h"

#include <stdarg.h>

#include "launcher/java_exception.h"
#include "launcher/records.h"

volatile LONG threadDumpState = DUMP_NONE;
static SRWLOCK dumpStateLock = SRWLOCK_INIT;

static bool dumpWaitedFor(LONG state)
{
    return state == DUMP_STARTED || state == DUMP_WRITING;
}

bool dumpRecord(const char *format, ...)
{
    AcquireSRWLockExclusive(&dumpStateLock);
    bool mayWrite = dumpWaitedFor(threadDumpState);
    if (mayWrite) {
        va_list args;
        va_start(args, format);
        logWriteV(format, args);
        va_end(args);
        threadDumpState = DUMP_WRITING;
    }
    ReleaseSRWLockExclusive(&dumpStateLock);
    return mayWrite;
}

bool finishDump(void)
{
    AcquireSRWLockExclusive(&dumpStateLock);
    bool whole = threadDumpState == DUMP_WRITING;
    if (whole)
        threadDumpState = DUMP_ENDED;
    ReleaseSRWLockExclusive(&dumpStateLock);
    return whole;
}

bool endDump(JNIEnv *env)
{
    AcquireSRWLockExclusive(&dumpStateLock);
    LONG state = threadDumpState;
    bool last = dumpWaitedFor(state);
    if (last)
        threadDumpState = DUMP_ENDED;
    ReleaseSRWLockExclusive(&dumpStateLock);
    if (!last) {
        // Abandoned: nothing more is written, but the thread detaches clean.
        jthrowable pending = env != NULL ? env->ExceptionOccurred() : NULL;
        if (pending != NULL) {
            env->ExceptionClear();
            env->DeleteLocalRef(pending);
        }
        return false;
    }
    // Not under the lock: toString() of the exception is Java code.
    const char *headline = state == DUMP_STARTED ? RECORD_DUMP_NOT_TAKEN : RECORD_DUMP_CUT;
    if (env == NULL || !logPendingException(env, headline, NULL))
        logWrite("%s", headline);
    return false;
}

void abandonThreadDump(void)
{
    AcquireSRWLockExclusive(&dumpStateLock);
    LONG state = threadDumpState;
    if (dumpWaitedFor(state)) {
        threadDumpState = DUMP_ABANDONED;
        logWrite("%s", state == DUMP_STARTED ? RECORD_DUMP_NOT_TAKEN : RECORD_DUMP_CUT);
    }
    ReleaseSRWLockExclusive(&dumpStateLock);
}
