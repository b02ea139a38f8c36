// The log's one lock: every record is written while holding it, so one
// record is one indivisible step; and its retirement at the process's end.
#include "log/log.h"
#include "log/logfile.h"

CRITICAL_SECTION logLock;
volatile LONG logRetired = 0;

void logLockCreate(void)
{
    InitializeCriticalSection(&logLock);
    logRetired = 0;
}

// A critical section has no timed wait: the lock is tried until the
// deadline. It is almost always free at the first try.
bool logLockEnterWithin(DWORD milliseconds)
{
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!TryEnterCriticalSection(&logLock)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

// Called by the service main routine as its last step. A shutdown thread that
// outlived the stop wait, or a launcher thread still starting up, may still
// log until the process ends; deleting a critical section that another thread
// may enter (or hold) is undefined behaviour. So the lock itself stays alive
// until the process ends, and records that come after this point are dropped:
// nothing can then be half-written while the process is torn down. A record
// whose open does not return keeps the lock; the log is retired all the same
// and that record alone may still come.
void logRetire(void)
{
    bool entered = logLockEnterWithin(LOG_RECORD_WAIT_MS);
    InterlockedExchange(&logRetired, 1);
    if (entered)
        LeaveCriticalSection(&logLock);
}
