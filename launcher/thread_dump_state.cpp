// Where the dump stands. The state is its own: once the dump's thread runs,
// every change is a compare-and-exchange, so the stop can abandon the dump at
// any moment without waiting for anyone. The log lock is used only as the log uses it,
// to order records: a dump record is checked and written while holding it,
// and the stop writes the dump's last record while holding it, so that
// record is always the last.
#include "launcher/thread_dump_state.h"

#include <stdarg.h>

#include "launcher/java_exception.h"
#include "launcher/records.h"
#include "log/log.h"
#include "log/logfile.h"

static bool dumpWaitedFor(LONG state)
{
    return state == DUMP_STARTED || state == DUMP_WRITING;
}

// From a state the stop still waits for to `next`; false when the stop went
// on without the dump first.
static bool moveDump(volatile LONG *dump, LONG next, LONG *was)
{
    LONG state = *dump;
    *was = state;
    return dumpWaitedFor(state) && InterlockedCompareExchange(dump, next, state) == state;
}

bool dumpRecord(volatile LONG *state, const char *format, ...)
{
    // Given up with the record, as any record that can't be written in time.
    if (!logLockEnterWithin(LOG_RECORD_WAIT_MS))
        return false;
    LONG was;
    bool mayWrite = moveDump(state, DUMP_WRITING, &was);
    if (mayWrite) {
        va_list args;
        va_start(args, format);
        logWriteV(format, args);
        va_end(args);
    }
    LeaveCriticalSection(&logLock);
    return mayWrite;
}

bool finishDump(volatile LONG *state)
{
    return InterlockedCompareExchange(state, DUMP_ENDED, DUMP_WRITING) == DUMP_WRITING;
}

bool endDump(volatile LONG *dump, JNIEnv *env)
{
    LONG state;
    if (!moveDump(dump, DUMP_ENDED, &state)) {
        // Abandoned: nothing more is written, but the thread detaches clean.
        jthrowable pending = env != NULL ? env->ExceptionOccurred() : NULL;
        if (pending != NULL) {
            env->ExceptionClear();
            env->DeleteLocalRef(pending);
        }
        return false;
    }
    // Not under the log lock: toString() of the exception is Java code.
    const char *headline = state == DUMP_STARTED ? RECORD_DUMP_NOT_TAKEN : RECORD_DUMP_CUT;
    if (env == NULL || !logPendingException(env, headline, NULL))
        logWrite("%s", headline);
    return false;
}

// The stop waits for the log lock only briefly: a record whose open does not
// return (an oplock another account holds on the file) keeps the lock, and
// must not hold up STOPPED. The dump is then abandoned all the same, and its
// last record dropped, as any record that can't be written in time.
void abandonThreadDump(volatile LONG *dump)
{
    bool locked = logLockEnterWithin(LOG_STOP_WAIT_MS);
    LONG state;
    if (moveDump(dump, DUMP_ABANDONED, &state) && locked)
        logWrite("%s", state == DUMP_STARTED ? RECORD_DUMP_NOT_TAKEN : RECORD_DUMP_CUT);
    if (locked)
        LeaveCriticalSection(&logLock);
}
