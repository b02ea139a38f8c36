// Where the dump stands, kept under the log lock, so that whoever writes the
// dump's last record sees it as it is: the dump's records are written only
// while the stop still waits for them.
#include "launcher/thread_dump_state.h"

#include <stdarg.h>

#include "launcher/java_exception.h"
#include "launcher/records.h"

volatile LONG threadDumpState = DUMP_NONE;

bool dumpMayWrite(void)
{
    EnterCriticalSection(&logLock);
    if (threadDumpState == DUMP_STARTED || threadDumpState == DUMP_WRITING)
        return true;
    LeaveCriticalSection(&logLock);
    return false;
}

bool dumpRecord(const char *format, ...)
{
    if (!dumpMayWrite())
        return false;
    va_list args;
    va_start(args, format);
    logWriteV(format, args);
    va_end(args);
    LeaveCriticalSection(&logLock);
    return true;
}

bool endDump(JNIEnv *env)
{
    EnterCriticalSection(&logLock);
    LONG state = threadDumpState;
    bool last = (state == DUMP_STARTED || state == DUMP_WRITING) &&
                InterlockedCompareExchange(&threadDumpState, DUMP_ENDED, state) == state;
    LeaveCriticalSection(&logLock);
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

// The stop waits for the log lock only briefly: a record whose open does not
// return (an oplock another account holds on the file) keeps the lock, and
// must not hold up STOPPED. The dump is then abandoned all the same, and its
// last record dropped, as any record that can't be written in time.
void abandonThreadDump(void)
{
    bool locked = logLockEnterWithin(LOG_STOP_WAIT_MS);
    LONG state = threadDumpState;
    if ((state == DUMP_STARTED || state == DUMP_WRITING) &&
        InterlockedCompareExchange(&threadDumpState, DUMP_ABANDONED, state) == state && locked)
        logWrite("%s", state == DUMP_STARTED ? RECORD_DUMP_NOT_TAKEN : RECORD_DUMP_CUT);
    if (locked)
        LeaveCriticalSection(&logLock);
}
