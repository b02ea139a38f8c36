// The status as text: the service's state, then how its last start went.
#include <stdio.h>

#include "console/status/status.h"
#include "launcher/inputs.h"
#include "launcher/java_contract.h"
#include "launcher/thread_dump.h"
#include "service/service.h"

// A failure line after `lead`, the Java exception that followed it, and the remedy.
static void printWithRemedy(const char *lead, const char *record, const char *exception)
{
    printf("%s%s\n", lead, record);
    if (exception != NULL)
        printf("    %s\n", exception);
    const char *remedy = statusRemedy(record, exception);
    if (remedy != NULL)
        printf("      -> %s\n", remedy);
}

// Where shutdown() stood when the threads were dumped: its thread and top frames.
static void printShutdownStack(const LastStart *start)
{
    if (start->shutdownStack != NULL) {
        printf("  stop: shutdown() had not returned after %d seconds; its thread stood at\n", THREAD_DUMP_AFTER_MS / 1000);
        printf("    %s\n", start->shutdownStack);
        for (int index = 0; index < start->shutdownFrameCount; index++)
            printf("    %s\n", start->shutdownFrames[index]);
    }
    if (start->dumpEnd != NULL)
        printf("  stop: %s\n", start->dumpEnd);
}

static void printStop(const LastStart *start, DWORD state, ProcessLife process)
{
    UncleanStop unclean = uncleanStop(start, state, process);
    if (start->shutdownCalled)
        printf("  stop: shutdown() was called and %s%s\n", start->shutdownThrew ? "threw an exception" : "returned",
               start->detached ? "; its thread detached" : "");
    if (start->shutdownThrew)
        printWithRemedy("    ", start->shutdownThrew, start->stopException);
    else if (start->stopFailure != NULL)
        printWithRemedy("  stop: ", start->stopFailure, start->stopException);
    else if (unclean == UNCLEAN_SHUTDOWN_NOT_RETURNED)
        printf("  stop: shutdown() had not returned after %d seconds; the service stopped without it\n",
               SHUTDOWN_WAIT_MS / 1000);
    else if (unclean == UNCLEAN_PROCESS_ENDED)
        printf("  stop: none in the log, yet the service's process is gone: it ended without a stop\n");
    else if (stoppedWithoutShutdownRecord(start, state))
        printf("  stop: no record of shutdown(): it took longer than %d seconds, or the process ended otherwise\n",
               SHUTDOWN_WAIT_MS / 1000);
    printShutdownStack(start);
}

void printStatusText(const StatusFacts *facts)
{
    DWORD state = facts->status.dwCurrentState;
    if (!facts->answered)
        printf("%ls: the Service Control Manager can't be asked (error %lu)\n", SERVICE_NAME, facts->error);
    else if (state == SERVICE_STOPPED && facts->status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        printf("%ls: stopped, exit code %lu: %s\n", SERVICE_NAME, facts->status.dwServiceSpecificExitCode,
               serviceExitCodeMeaning(facts));
    else
        printf("%ls: %s\n", SERVICE_NAME, serviceStateText(state));

    const LastStart *start = &facts->start;
    if (logRefused(&facts->log)) {
        char line[1024];
        refusedLogLine(&facts->log, facts->ownerName, line, sizeof line);
        printf("%s\n", line);
        return;
    }
    if (facts->logText == NULL) {
        printf("No log at %s: the service has not started since the log was removed\n", LOG_FILE_PATH);
        return;
    }
    if (start->bannerStamp == NULL) {
        printf("No start in %s\n", LOG_FILE_PATH);
        return;
    }
    printf("Last start, %s (%s):\n", facts->startTime, LOG_FILE_PATH);
    for (int index = 0; index < start->startNoteCount; index++)
        printWithRemedy("    ", start->startNotes[index], NULL);
    if (start->jvmLoaded != NULL)
        printf("  JVM loaded: %s\n", start->jvmLoaded);
    if (start->mainInvoked) {
        printf("  main invoked\n");
        if (start->mainFailure != NULL)
            printWithRemedy("    ", start->mainFailure, start->mainException);
    } else if (start->startFailure != NULL) {
        printf("  main not invoked: the start stopped at\n");
        printWithRemedy("    ", start->startFailure, start->startException);
    } else {
        printf("  main not invoked (yet): the start is still under way or ended without a record\n");
    }
    if (start->jvmExit != NULL)
        printf("  the application ended the process (System.exit or Runtime.halt): exit code %d\n", start->jvmExitCode);
    if (start->stopOnFailureCode != 0)
        printf("  the service stopped itself (" STOP_ON_FAILURE_VARIABLE_NAME "): exit code %d, %s\n", start->stopOnFailureCode,
               exitCodeMeaning((DWORD)start->stopOnFailureCode));
    printStop(start, state, facts->process);
}
