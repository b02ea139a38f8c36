// The status for a monitoring agent: one JSON object, each fact a field of
// its own (numbers, true/false, ISO 8601 times, tokens of a fixed set), with
// the texts for people beside them under names ending in "Text". Fields
// never change their form within a schema number.
#include <stdio.h>

#include "console/status/json_text.h"
#include "console/status/stamp_time.h"
#include "console/status/status.h"
#include "launcher/java_contract.h"
#include "service/service.h"

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

// Where shutdown() stood when the threads were dumped: its thread by name,
// state and frames; the records themselves beside it.
static void printJsonShutdownThread(const LastStart *start)
{
    printf("\"shutdownThread\":");
    if (start->shutdownThreadName == NULL) {
        printf("null,");
    } else {
        printf("{\"name\":");
        printJsonText(start->shutdownThreadName, start->shutdownThreadNameLength);
        printf(",\"state\":\"%s\",\"frames\":[", threadStateToken(start->shutdownThreadState));
        for (int index = 0; index < start->shutdownFrameCount; index++) {
            if (index > 0)
                putchar(',');
            printJsonText(start->shutdownFrameCalls[index]);
        }
        printf("]},");
    }
    printJsonField("shutdownThreadText", start->shutdownStack);
    printf("\"shutdownFrames\":[");
    for (int index = 0; index < start->shutdownFrameCount; index++) {
        if (index > 0)
            putchar(',');
        printJsonText(start->shutdownFrames[index]);
    }
    printf("],");
}

// How the stop went: its outcome as a token and as text, and its failure record.
static void printJsonStop(const LastStart *start, DWORD state, ProcessLife process)
{
    StopOutcome outcome = stopOutcome(start, state);
    printf("\"stop\":{");
    printJsonField("outcome", stopOutcomeToken(outcome));
    printJsonField("outcomeText", stopOutcomeText(outcome));
    printJsonField("unclean", uncleanStopToken(uncleanStop(start, state, process)));
    printf("\"detached\":%s,", start->detached ? "true" : "false");
    printJsonFailure("failure", start->shutdownThrew != NULL ? start->shutdownThrew : start->stopFailure,
                     start->stopException);
    printJsonShutdownThread(start);
    printJsonField("dumpEnd", start->dumpEnd == NULL ? NULL : start->dumpCut ? "cut" : "not_taken");
    printJsonField("dumpEndText", start->dumpEnd);
    printf("\"waitSeconds\":%d}", SHUTDOWN_WAIT_MS / 1000);
}

static void printJsonExitCode(const char *name, bool present, DWORD code, const char *meaning)
{
    printf("\"%s\":", name);
    if (!present) {
        printf("null,");
        return;
    }
    printf("{\"code\":%lu,", code);
    printJsonField("meaning", meaning, true);
    printf("},");
}

// The Java output file and its size; null without VLJAVAOUTPUT.
static void printJsonJavaOutput(const StatusFacts *facts)
{
    printf("\"javaOutput\":");
    if (facts->javaOutput[0] == '\0') {
        printf("null,");
        return;
    }
    putchar('{');
    printJsonField("path", facts->javaOutput);
    if (facts->javaOutputError != 0)
        printf("\"size\":null,");
    else
        printf("\"size\":%llu,", facts->javaOutputSize);
    printf("\"error\":%lu},", facts->javaOutputError);
}

// A log file the service refuses: why, and whose it is; null otherwise.
static void printJsonRefusal(const LogFileCheck *log, const char *ownerName)
{
    printf("\"logRefused\":");
    if (!logRefused(log)) {
        printf("null,");
        return;
    }
    char reason[128];
    logRefusalText(log->state, reason, sizeof reason);
    putchar('{');
    printJsonField("reason", logRefusalToken(log->state));
    printJsonField("reasonText", reason);
    printJsonField("owner", ownerName[0] != '\0' ? ownerName : NULL);
    printJsonField("ownerSid", log->owner[0] != '\0' ? log->owner : NULL, true);
    printf("},");
}

// The last start: when, its notes, how far it came.
static void printJsonLastStart(const StatusFacts *facts, DWORD state)
{
    const LastStart *start = &facts->start;
    char time[ISO_TIME_CAPACITY];
    printf("{");
    printJsonField("time", stampToIsoTime(facts->startTime, NULL, time, sizeof time) ? time : NULL);
    printJsonField("timeText", facts->startTime);
    printJsonField("outcome", startOutcomeToken(startOutcome(start)));
    printJsonField("outcomeText", startOutcomeText(startOutcome(start)));
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
    printJsonExitCode("stoppedItself", start->stopOnFailureCode != 0, (DWORD)start->stopOnFailureCode,
                      exitCodeMeaning((DWORD)start->stopOnFailureCode));
    if (start->jvmExit != NULL)
        printf("\"jvmExitCode\":%d,", start->jvmExitCode);
    else
        printf("\"jvmExitCode\":null,");
    printJsonField("jvmExitText", start->jvmExit);
    printJsonStop(start, state, facts->process);
    printf("},");
}

void printStatusJson(const StatusFacts *facts)
{
    const SERVICE_STATUS_PROCESS *status = &facts->status;
    bool answered = facts->answered;
    DWORD state = status->dwCurrentState;
    printf("{\"schema\":%d,\"service\":\"%ls\",", STATUS_JSON_SCHEMA, SERVICE_NAME);
    printJsonField("state", answered ? serviceStateToken(state) : NULL);
    printJsonField("stateText", answered ? serviceStateText(state) : NULL);
    printf("\"scmError\":%lu,", answered ? 0ul : facts->error);
    if (facts->process == PROCESS_UNKNOWN)
        printf("\"processAlive\":null,");
    else
        printf("\"processAlive\":%s,", facts->process == PROCESS_ALIVE ? "true" : "false");
    printf("\"win32ExitCode\":%lu,", status->dwWin32ExitCode);
    printJsonExitCode("serviceExitCode", status->dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR,
                      status->dwServiceSpecificExitCode, serviceExitCodeMeaning(facts));
    printJsonField("log", LOG_FILE_PATH);
    printf("\"logFound\":%s,", facts->logText != NULL ? "true" : "false");
    printJsonRefusal(&facts->log, facts->ownerName);
    printf("\"lastStart\":");
    if (facts->start.bannerStamp == NULL)
        printf("null,");
    else
        printJsonLastStart(facts, state);
    printJsonJavaOutput(facts);
    printf("\"exitCode\":%d}\n", facts->exitCode);
    fflush(stdout);
}
