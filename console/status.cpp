// "status": the service's state, then how its last start went, from the log.
#include <stdio.h>
#include <stdlib.h>

#include "console/console.h"
#include "console/last_start.h"
#include "console/remedies.h"
#include "console/service_view.h"
#include "launcher/java_contract.h"
#include "launcher/thread_dump.h"
#include "log/log.h"

// The log's last part is enough: a start writes a few hundred records.
#define LOG_TAIL_CAPACITY (8 * 1024 * 1024)

static char *readLogTail(void)
{
    HANDLE file = CreateFileA(LOG_FILE_PATH, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    char *text = (char *)malloc(LOG_TAIL_CAPACITY + 1);
    if (text != NULL)
        text[0] = '\0';
    LARGE_INTEGER size;
    DWORD read = 0;
    if (text != NULL && GetFileSizeEx(file, &size)) {
        LARGE_INTEGER at;
        at.QuadPart = size.QuadPart > LOG_TAIL_CAPACITY ? size.QuadPart - LOG_TAIL_CAPACITY : 0;
        if (!SetFilePointerEx(file, at, NULL, FILE_BEGIN) || !ReadFile(file, text, LOG_TAIL_CAPACITY, &read, NULL))
            read = 0;
        text[read] = '\0';
    }
    CloseHandle(file);
    return text;
}

// A failure line, the Java exception that followed it, and the remedy.
static void printWithRemedy(const char *record, const char *exception)
{
    printf("    %s\n", record);
    if (exception != NULL)
        printf("    %s\n", exception);
    const char *remedy = exception != NULL && isNewerJavaException(exception) ? NEWER_JAVA_REMEDY : logRecordRemedy(record);
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

static void printStop(const LastStart *start, DWORD state)
{
    if (start->shutdownCalled)
        printf("  stop: shutdown() was called and %s%s\n", start->shutdownThrew ? "threw an exception" : "returned",
               start->detached ? "; its thread detached" : "");
    if (start->shutdownThrew)
        printWithRemedy(start->shutdownThrew, start->stopException);
    else if (start->stopFailure != NULL)
        printWithRemedy(start->stopFailure, start->stopException);
    else if (!start->shutdownCalled && start->mainInvoked && (state == SERVICE_STOPPED || state == SERVICE_NOT_INSTALLED))
        printf("  stop: no record of shutdown(): it took longer than %d seconds, or the process ended otherwise\n",
               SHUTDOWN_WAIT_MS / 1000);
    printShutdownStack(start);
}

int statusCommand(void)
{
    DWORD state = 0, error = 0;
    if (queryServiceState(&state, &error))
        printf("VelmoraneService: %s\n", serviceStateText(state));
    else
        printf("VelmoraneService: the Service Control Manager can't be asked (error %lu)\n", error);

    char *text = readLogTail();
    LastStart start;
    if (text == NULL) {
        printf("No log at %s: the service has not started since the log was removed\n", LOG_FILE_PATH);
        return EXIT_PROBLEMS;
    }
    readLastStart(text, &start);
    if (start.bannerStamp == NULL) {
        printf("No start in %s\n", LOG_FILE_PATH);
        return EXIT_PROBLEMS;
    }
    printf("Last start, %.17s (%s):\n", start.bannerStamp, LOG_FILE_PATH);
    for (int index = 0; index < start.startNoteCount; index++)
        printWithRemedy(start.startNotes[index], NULL);
    if (start.jvmLoaded != NULL)
        printf("  JVM loaded: %s\n", start.jvmLoaded);
    if (start.mainInvoked) {
        printf("  main invoked\n");
        if (start.mainFailure != NULL)
            printWithRemedy(start.mainFailure, start.mainException);
    } else if (start.startFailure != NULL) {
        printf("  main not invoked: the start stopped at\n");
        printWithRemedy(start.startFailure, start.startException);
    } else {
        printf("  main not invoked (yet): the start is still under way or ended without a record\n");
    }
    printStop(&start, state);
    if (state == SERVICE_RUNNING && start.mainInvoked)
        return EXIT_ALL_WELL;
    return start.mainInvoked || (start.startFailure == NULL && state != SERVICE_RUNNING) ? EXIT_WARNINGS : EXIT_PROBLEMS;
}
