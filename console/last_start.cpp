// The launcher's records and the stop thread's come in one stream; the few
// texts both write ("Can't find class ...") are told apart by order: the
// launcher's comes before main was invoked and is the first of its kind. A
// failed Java call's record is followed by "Java exception: <text>".
#include "console/last_start.h"

#include <string.h>

#include "console/remedies.h"

#define BANNER "***** Velmorane Windows service starting *****"
#define STAMP_LENGTH 18

static bool startsWith(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// A stamp: "MM/DD/YY HH:MM:SS ".
static bool hasStamp(const char *line)
{
    static const char shape[] = "99/99/99 99:99:99 ";
    for (int at = 0; at < STAMP_LENGTH; at++) {
        if (shape[at] == '9' ? (line[at] < '0' || line[at] > '9') : line[at] != shape[at])
            return false;
    }
    return true;
}

static bool isStopRecord(const char *text)
{
    static const char *const stopRecords[] = {"No Java VM was created", "AttachCurrentThread failed",
                                              "No shutdown() method found", "Call to shutdown() resulted in exception",
                                              "Shutdown method called on class", "Detached thread"};
    for (const char *prefix : stopRecords)
        if (startsWith(text, prefix))
            return true;
    return false;
}

static void addNote(LastStart *start, const char *text)
{
    if (start->startNoteCount < NOTE_LIMIT)
        start->startNotes[start->startNoteCount++] = text;
}

// Where the next "Java exception: " record belongs: after the failure just read.
static const char **exceptionSlot;

static void readStopRecord(LastStart *start, const char *text)
{
    start->stopLogged = true;
    if (startsWith(text, "Shutdown method called on class")) {
        start->shutdownCalled = true;
    } else if (startsWith(text, "Call to shutdown() resulted in exception")) {
        start->shutdownThrew = true;
        exceptionSlot = &start->stopException;
    } else if (startsWith(text, "Detached thread")) {
        start->detached = true;
    } else if (start->stopFailure == NULL) {
        start->stopFailure = text;
        exceptionSlot = &start->stopException;
    }
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
    if (startsWith(text, "Java exception: ")) {
        if (slot != NULL && *slot == NULL)
            *slot = text;
        return;
    }
    if (startsWith(text, "Success loading jvm.dll at ")) {
        start->jvmLoaded = text + strlen("Success loading jvm.dll at ");
        start->startFailure = NULL;
    } else if (startsWith(text, "Failed to load jvm.dll at ")) {
        // The start's failure only while no later candidate loads.
        if (start->jvmLoaded == NULL)
            setStartFailure(start, text);
    } else if (startsWith(text, "Successfully created JVM")) {
        start->jvmCreated = true;
    } else if (startsWith(text, "Invoking main()")) {
        start->mainInvoked = true;
    } else if (startsWith(text, "Call to main() resulted in exception")) {
        start->mainFailure = text;
        exceptionSlot = &start->mainException;
    } else if (isStopRecord(text)) {
        readStopRecord(start, text);
    } else if (startsWith(text, "Can't find class ")) {
        if (!start->mainInvoked && !*classFailureSeen)
            setStartFailure(start, text);
        else
            readStopRecord(start, text);
        *classFailureSeen = true;
    } else if (startsWith(text, "Can't ") && !startsWith(text, "Can't convert")) {
        setStartFailure(start, text);
    } else if (failureRemedy(text) != NULL) {
        addNote(start, text);
    }
}

void readLastStart(char *logText, LastStart *start)
{
    memset(start, 0, sizeof *start);
    // The last banner record: a stamp, then the banner text.
    char *banner = NULL;
    for (char *found = strstr(logText, BANNER); found != NULL; found = strstr(found + 1, BANNER))
        if (found - logText >= STAMP_LENGTH && hasStamp(found - STAMP_LENGTH)
            && (found - logText == STAMP_LENGTH || found[-STAMP_LENGTH - 1] == '\n'))
            banner = found - STAMP_LENGTH;
    if (banner == NULL)
        return;
    start->bannerStamp = banner;

    bool classFailureSeen = false;
    exceptionSlot = NULL;
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
            readRecord(start, line + STAMP_LENGTH, &classFailureSeen);
        line = next;
    }
}
