// The launcher's records and the stop thread's come in one stream; the few
// texts both write (RECORD_NO_CLASS) are told apart by order: the launcher's
// comes before main was invoked and is the first of its kind. A failed Java
// call's record is followed by a RECORD_JAVA_EXCEPTION.
#include "console/status/last_start.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "console/console.h"
#include "launcher/records.h"
#include "launcher/remedies.h"
#include "log/log.h"

static bool isRecord(const char *text, const char *format)
{
    return recordRest(text, format) != NULL;
}

// A stamp: "MM/DD/YY HH:MM:SS ".
static bool hasStamp(const char *line)
{
    static const char shape[LOG_STAMP_LENGTH + 1] = "99/99/99 99:99:99 ";
    for (int at = 0; at < LOG_STAMP_LENGTH; at++) {
        if (shape[at] == '9' ? (line[at] < '0' || line[at] > '9') : line[at] != shape[at])
            return false;
    }
    return true;
}

// Whether the text is a record of one of the formats.
template <size_t count> static bool isAnyRecord(const char *text, const char *const (&formats)[count])
{
    for (const char *format : formats)
        if (isRecord(text, format))
            return true;
    return false;
}

static const char *const stopRecords[] = {RECORD_NO_JVM_AT_STOP, RECORD_ATTACH_FAILED, RECORD_NO_SHUTDOWN,
                                          RECORD_SHUTDOWN_THREW, RECORD_SHUTDOWN_CALLED, RECORD_DETACHED};
// The launcher's failure records that end a start before main, besides the
// class lookup, which the stop thread writes too.
static const char *const startFailures[] = {RECORD_OUTPUT_UNOPENED, RECORD_NO_OPTIONS, RECORD_NO_CREATE_EXPORT,
                                            RECORD_CREATE_FAILED, RECORD_NO_MAIN};
// The records that are worth a remedy without ending the start.
static const char *const startNotes[] = {RECORD_LIB_NOT_FOUND, RECORD_NO_LIB_OR_PLUGINS, RECORD_CLASS_PATH_UNCONVERTED,
                                         RECORD_JVM_VARIABLE_TOO_LONG, RECORD_JVM_VARIABLE_RELATIVE};

static void addNote(LastStart *start, const char *text)
{
    if (start->startNoteCount < NOTE_LIMIT)
        start->startNotes[start->startNoteCount++] = text;
}

// Where the next Java exception record belongs: after the failure just read.
static const char **exceptionSlot;

static void readStopRecord(LastStart *start, const char *text)
{
    start->stopLogged = true;
    if (isRecord(text, RECORD_SHUTDOWN_CALLED)) {
        start->shutdownCalled = true;
    } else if (isRecord(text, RECORD_SHUTDOWN_THREW)) {
        start->shutdownThrew = text;
        exceptionSlot = &start->stopException;
    } else if (isRecord(text, RECORD_DETACHED)) {
        start->detached = true;
    } else if (start->stopFailure == NULL) {
        start->stopFailure = text;
        start->attachFailed = isRecord(text, RECORD_ATTACH_FAILED);
        exceptionSlot = &start->stopException;
    }
}

// The thread dump's records: the thread in shutdown() and its frames, up to
// the next thread's record, and how the dump ended when it was not whole.
static bool shutdownFramesFollow;

// The thread's name and state from its record: the state is one word at the
// end, the name (quotes and blanks and all) what stands between.
static void readShutdownThread(LastStart *start, const char *text)
{
    start->shutdownStack = text;
    start->shutdownFrameCount = 0;
    shutdownFramesFollow = true;
    start->shutdownThreadName = NULL;
    start->shutdownThreadNameLength = 0;
    start->shutdownThreadState = NULL;
    const char *name = recordRest(text, RECORD_DUMP_SHUTDOWN_THREAD);
    const char *state = strrchr(name, ' ');
    if (state != NULL && state > name && state[-1] == '"') {
        start->shutdownThreadName = name;
        start->shutdownThreadNameLength = (int)(state - 1 - name);
        start->shutdownThreadState = state + 1;
    }
}

static bool readDumpRecord(LastStart *start, const char *text)
{
    const char *frame = recordRest(text, RECORD_DUMP_FRAME);
    if (isRecord(text, RECORD_DUMP_SHUTDOWN_THREAD)) {
        readShutdownThread(start, text);
    } else if (frame != NULL) {
        if (shutdownFramesFollow && start->shutdownFrameCount < SHUTDOWN_FRAME_LIMIT) {
            start->shutdownFrameCalls[start->shutdownFrameCount] = frame;
            start->shutdownFrames[start->shutdownFrameCount++] = text;
        }
    } else if (isRecord(text, RECORD_DUMP_NOT_TAKEN) || isRecord(text, RECORD_DUMP_CUT)) {
        start->dumpEnd = text;
        start->dumpCut = isRecord(text, RECORD_DUMP_CUT);
    } else if (isRecord(text, RECORD_DUMP_BEGIN) || isRecord(text, RECORD_DUMP_THREAD) ||
               isRecord(text, RECORD_DUMP_FRAMES_LEFT_OUT) || isRecord(text, RECORD_DUMP_THREADS_LEFT_OUT)) {
        start->dumpBegun = start->dumpBegun || isRecord(text, RECORD_DUMP_BEGIN);
        shutdownFramesFollow = false;
    } else {
        return false;
    }
    return true;
}

static void setStartFailure(LastStart *start, const char *text)
{
    start->startFailure = text;
    start->startException = NULL;
    exceptionSlot = &start->startException;
}

static void readRecord(LastStart *start, const char *text, bool *classFailureSeen)
{
    const char **slot = exceptionSlot;
    exceptionSlot = NULL;
    const char *loaded = recordRest(text, RECORD_LOADED_JVM);
    const char *stopCode = recordRest(text, RECORD_STOP_ON_FAILURE);
    const char *jvmExitCode = recordRest(text, RECORD_JVM_EXIT);
    if (isRecord(text, RECORD_JAVA_EXCEPTION)) {
        if (slot != NULL && *slot == NULL)
            *slot = text;
        return;
    }
    if (readDumpRecord(start, text))
        return;
    if (jvmExitCode != NULL) {
        start->jvmExit = text;
        start->jvmExitCode = atoi(jvmExitCode);
    } else if (stopCode != NULL) {
        start->stopOnFailureCode = atoi(stopCode);
    } else if (loaded != NULL) {
        start->jvmLoaded = loaded;
        start->startFailure = NULL;
    } else if (isRecord(text, RECORD_FAILED_JVM)) {
        // The start's failure only while no later candidate loads.
        if (start->jvmLoaded == NULL)
            setStartFailure(start, text);
    } else if (isRecord(text, RECORD_JVM_CREATED)) {
        start->jvmCreated = true;
    } else if (isRecord(text, RECORD_INVOKING_MAIN)) {
        start->mainInvoked = true;
    } else if (isRecord(text, RECORD_MAIN_THREW)) {
        start->mainFailure = text;
        exceptionSlot = &start->mainException;
    } else if (isAnyRecord(text, stopRecords)) {
        readStopRecord(start, text);
    } else if (isRecord(text, RECORD_NO_CLASS)) {
        if (!start->mainInvoked && !*classFailureSeen)
            setStartFailure(start, text);
        else
            readStopRecord(start, text);
        *classFailureSeen = true;
    } else if (isAnyRecord(text, startFailures)) {
        setStartFailure(start, text);
    } else if (isAnyRecord(text, startNotes)) {
        addNote(start, text);
    }
}

void readLastStart(char *logText, LastStart *start)
{
    memset(start, 0, sizeof *start);
    // The last banner record: a stamp, then the banner text.
    char bannerText[sizeof RECORD_BANNER];
    lstrcpynA(bannerText, RECORD_BANNER, (int)strcspn(RECORD_BANNER, "\n") + 1);
    char *banner = NULL;
    for (char *found = strstr(logText, bannerText); found != NULL; found = strstr(found + 1, bannerText))
        if (found - logText >= LOG_STAMP_LENGTH && hasStamp(found - LOG_STAMP_LENGTH)
            && (found - logText == LOG_STAMP_LENGTH || found[-LOG_STAMP_LENGTH - 1] == '\n'))
            banner = found - LOG_STAMP_LENGTH;
    if (banner == NULL)
        return;
    start->bannerStamp = banner;

    bool classFailureSeen = false;
    exceptionSlot = NULL;
    shutdownFramesFollow = false;
    char *line = banner;
    while (*line != '\0') {
        char *end = strchr(line, '\n');
        char *next = end != NULL ? end + 1 : line + strlen(line);
        if (end != NULL) {
            *end = '\0';
            if (end > line && end[-1] == '\r')
                end[-1] = '\0';
        }
        if (hasStamp(line))
            readRecord(start, line + LOG_STAMP_LENGTH, &classFailureSeen);
        line = next;
    }
}

int lastStartExitCode(const LastStart *start, DWORD state)
{
    if (start->startFailure != NULL && !start->mainInvoked)
        return EXIT_PROBLEMS;
    if (start->mainFailure != NULL)
        return EXIT_PROBLEMS;
    if (start->mainInvoked)
        return state == SERVICE_RUNNING ? EXIT_ALL_WELL : EXIT_WARNINGS;
    // No record of a failure and none of main: still starting, or ended otherwise.
    return state == SERVICE_RUNNING ? EXIT_PROBLEMS : EXIT_WARNINGS;
}
