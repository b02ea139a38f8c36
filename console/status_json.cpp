// The status for a monitoring agent: one JSON object, the text form's facts
// by name. What comes from the log is in the ANSI code page and may hold any
// byte; it is turned into UTF-16 and every character that is not printable
// ASCII written as a \u escape, so the output is plain ASCII and valid JSON.
#include <stdio.h>
#include <string.h>

#include "console/console.h"
#include "console/service_view.h"
#include "console/status.h"
#include "launcher/java_contract.h"
#include "log/log.h"

// Longer texts from the log are cut: no record the status names is longer.
#define JSON_TEXT_CAPACITY 4096

static void printJsonText(const char *ansi)
{
    if (ansi == NULL) {
        printf("null");
        return;
    }
    wchar_t wide[JSON_TEXT_CAPACITY];
    int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, JSON_TEXT_CAPACITY);
    if (length == 0) {
        // Longer than the room: as much as fits, whole characters only.
        length = MultiByteToWideChar(CP_ACP, 0, ansi, (int)strnlen(ansi, JSON_TEXT_CAPACITY / 2), wide,
                                     JSON_TEXT_CAPACITY - 1);
        wide[length] = L'\0';
    }
    putchar('"');
    for (const wchar_t *p = wide; *p != L'\0'; p++) {
        if (*p == L'"' || *p == L'\\')
            printf("\\%c", (char)*p);
        else if (*p >= 0x20 && *p < 0x7F)
            putchar((char)*p);
        else
            printf("\\u%04x", (unsigned)*p);
    }
    putchar('"');
}

static void printJsonField(const char *name, const char *ansi, bool last = false)
{
    printf("\"%s\":", name);
    printJsonText(ansi);
    if (!last)
        putchar(',');
}

static void printJsonFailure(const char *name, const char *record, const char *exception)
{
    printf("\"%s\":", name);
    if (record == NULL) {
        printf("null,");
        return;
    }
    putchar('{');
    printJsonField("record", record);
    printJsonField("exception", exception);
    printJsonField("remedy", statusRemedy(record, exception), true);
    printf("},");
}

// How the stop went: its outcome in a word, and its failure record.
static void printJsonStop(const LastStart *start, DWORD state)
{
    const char *outcome = NULL;
    if (start->shutdownThrew != NULL)
        outcome = "shutdown threw";
    else if (start->shutdownCalled)
        outcome = "shutdown returned";
    else if (start->stopFailure != NULL)
        outcome = "failed";
    else if (stoppedWithoutShutdownRecord(start, state))
        outcome = "no record of shutdown";
    printf("\"stop\":{");
    printJsonField("outcome", outcome);
    printf("\"detached\":%s,", start->detached ? "true" : "false");
    printJsonFailure("failure", start->shutdownThrew != NULL ? start->shutdownThrew : start->stopFailure,
                     start->stopException);
    // Where shutdown() stood when the threads were dumped.
    printJsonField("shutdownThread", start->shutdownStack);
    printf("\"shutdownFrames\":[");
    for (int index = 0; index < start->shutdownFrameCount; index++) {
        if (index > 0)
            putchar(',');
        printJsonText(start->shutdownFrames[index]);
    }
    printf("],");
    printJsonField("dumpEnd", start->dumpEnd);
    printf("\"waitSeconds\":%d}", SHUTDOWN_WAIT_MS / 1000);
}

static void printJsonExitCode(const char *name, bool present, DWORD code)
{
    printf("\"%s\":", name);
    if (!present) {
        printf("null,");
        return;
    }
    printf("{\"code\":%lu,", code);
    printJsonField("meaning", exitCodeMeaning(code), true);
    printf("},");
}

// A log file the service refuses: why, and whose it is; null otherwise.
static void printJsonRefusal(const LogFileCheck *log, const char *ownerName)
{
    printf("\"logRefused\":");
    if (!logRefused(log)) {
        printf("null,");
        return;
    }
    putchar('{');
    printJsonField("reason", logRefusalText(log->state));
    printJsonField("owner", ownerName[0] != '\0' ? ownerName : NULL);
    printJsonField("ownerSid", log->owner[0] != '\0' ? log->owner : NULL, true);
    printf("},");
}

void printStatusJson(bool answered, DWORD error, const SERVICE_STATUS *status, const LogFileCheck *log,
                     const char *ownerName, bool logFound, const LastStart *start, int exitCode)
{
    DWORD state = status->dwCurrentState;
    printf("{\"service\":\"VelmoraneService\",");
    printJsonField("state", answered ? serviceStateText(state) : NULL);
    printf("\"scmError\":%lu,", answered ? 0ul : error);
    printf("\"win32ExitCode\":%lu,", status->dwWin32ExitCode);
    printJsonExitCode("serviceExitCode", status->dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR,
                      status->dwServiceSpecificExitCode);
    printJsonField("log", LOG_FILE_PATH);
    printf("\"logFound\":%s,", logFound ? "true" : "false");
    printJsonRefusal(log, ownerName);
    printf("\"lastStart\":");
    if (start->bannerStamp == NULL) {
        printf("null,");
    } else {
        char stamp[18];
        lstrcpynA(stamp, start->bannerStamp, sizeof stamp);
        printf("{");
        printJsonField("time", stamp);
        printf("\"notes\":[");
        for (int index = 0; index < start->startNoteCount; index++) {
            if (index > 0)
                putchar(',');
            printf("{");
            printJsonField("record", start->startNotes[index]);
            printJsonField("remedy", statusRemedy(start->startNotes[index], NULL), true);
            printf("}");
        }
        printf("],");
        printJsonField("jvmLoaded", start->jvmLoaded);
        printf("\"mainInvoked\":%s,", start->mainInvoked ? "true" : "false");
        if (start->mainInvoked)
            printJsonFailure("failure", start->mainFailure, start->mainException);
        else
            printJsonFailure("failure", start->startFailure, start->startException);
        printJsonExitCode("stoppedItself", start->stopOnFailureCode != 0, (DWORD)start->stopOnFailureCode);
        printJsonStop(start, state);
        printf("},");
    }
    printf("\"exitCode\":%d}\n", exitCode);
    fflush(stdout);
}
