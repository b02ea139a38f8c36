// The last start as the log tells it: the records after the last banner.
#ifndef VELMORANE_LAST_START_H
#define VELMORANE_LAST_START_H

#include <windows.h>
#include <stddef.h>

#define NOTE_LIMIT 8
// The top frames of the thread in shutdown() kept from a thread dump.
#define SHUTDOWN_FRAME_LIMIT 8

// Pointers into the log text that readLastStart was given; NULL when absent.
struct LastStart {
    const char *bannerStamp;        // the banner record's time stamp (LOG_STAMP_LENGTH characters), NULL: no start logged
    const char *jvmLoaded;          // the path of RECORD_LOADED_JVM
    bool jvmCreated;
    bool mainInvoked;
    const char *startFailure;       // the record the start stopped at
    const char *startException;     // the RECORD_JAVA_EXCEPTION after it
    const char *mainFailure;        // RECORD_MAIN_THREW
    const char *mainException;
    const char *startNotes[NOTE_LIMIT]; // earlier records with a remedy (no lib\ ...)
    int startNoteCount;
    int stopOnFailureCode;          // the exit code of RECORD_STOP_ON_FAILURE; 0: none
    const char *jvmExit;            // RECORD_JVM_EXIT: System.exit or Runtime.halt ended the process
    int jvmExitCode;                // its exit code
    bool stopLogged;                // any record of the stop thread
    bool shutdownCalled;
    const char *shutdownThrew;      // RECORD_SHUTDOWN_THREW
    bool detached;
    const char *stopFailure;        // the stop thread's failure record
    bool attachFailed;              // stopFailure is RECORD_ATTACH_FAILED
    const char *stopException;      // the Java exception after it or after shutdown()'s
    bool dumpBegun;                 // RECORD_DUMP_BEGIN: shutdown() had not returned after THREAD_DUMP_AFTER_MS
    const char *shutdownStack;      // RECORD_DUMP_SHUTDOWN_THREAD: shutdown() had not returned
    const char *shutdownThreadName; // its name, shutdownThreadNameLength bytes (it may hold quotes)
    int shutdownThreadNameLength;
    const char *shutdownThreadState; // its state as Java names it (TIMED_WAITING ...)
    const char *shutdownFrames[SHUTDOWN_FRAME_LIMIT]; // its top RECORD_DUMP_FRAMEs
    const char *shutdownFrameCalls[SHUTDOWN_FRAME_LIMIT]; // the same frames without the record's "    at "
    int shutdownFrameCount;
    const char *dumpEnd;            // RECORD_DUMP_NOT_TAKEN or RECORD_DUMP_CUT
    bool dumpCut;                   // dumpEnd is RECORD_DUMP_CUT
};

// Reads the log text (it is changed: its records are cut into strings).
// Records without a time stamp (continuation lines) are skipped.
void readLastStart(char *logText, LastStart *start);

// The status's exit code for the last start and the service's state: all
// well only while the service runs an application whose main was invoked and
// did not throw; problems for a start that failed, main's exception included.
int lastStartExitCode(const LastStart *start, DWORD state);

#endif
