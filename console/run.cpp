// "run": the service's launcher in the foreground, its records on the
// console. A console event (Ctrl+C, Ctrl+Break, closing the window, logoff,
// shutdown) stops it the way a STOP stops the service.
#include <stdio.h>
#include <stdlib.h>

#include "console/console.h"
#include "console/report.h"
#include "console/service_view.h"
#include "launcher/launcher.h"
#include "launcher/shutdown.h"
#include "log/log.h"

static volatile LONG stopStarted = 0;
// The launch the console event stops: a handler is given no argument of
// ours. Set before the handler is registered.
static LaunchContext *runLaunch;

static void printRecord(const char *stamp, const char *text)
{
    fputs(stamp, stdout);
    fputs(text, stdout);
    fflush(stdout);
}

// Runs on a thread the system starts for the event. The process ends here:
// after a close event Windows ends it anyway once the handler returns, and
// gives the handler only about 5 seconds, less than shutdown()'s 20.
static BOOL WINAPI consoleEvent(DWORD)
{
    if (InterlockedCompareExchange(&stopStarted, 1, 0) != 0)
        return TRUE;
    printf(CONSOLE_NAME ": stopping, shutdown() is given at most %d seconds\n", SHUTDOWN_WAIT_MS / 1000);
    fflush(stdout);
    stopApplication(runLaunch);
    logRetire();
    ExitProcess(EXIT_ALL_WELL);
}

static DWORD WINAPI launchThread(LPVOID parameter)
{
    return launch((LaunchContext *)parameter);
}

// The JVM takes console events for itself (its Ctrl+C handler ends the
// process at once): once it exists, this program's handler, registered last,
// is called before it again.
static void renewHandlerOnce(bool *renewed)
{
    if (*renewed || getJvmHandle(&runLaunch->vm) == NULL)
        return;
    SetConsoleCtrlHandler(consoleEvent, FALSE);
    SetConsoleCtrlHandler(consoleEvent, TRUE);
    *renewed = true;
}

// The service's inputs, but for the output file: the point of running here
// is to see the application's output, so it stays on this console.
static LaunchContext *prepareLaunch(const Installation *installation)
{
    ServiceEnvironment *environment = (ServiceEnvironment *)malloc(sizeof *environment);
    LaunchContext *run = newLaunchContext();
    if (environment == NULL || run == NULL) {
        free(environment);
        if (run != NULL)
            HeapFree(GetProcessHeap(), 0, run);
        return NULL;
    }
    readServiceEnvironment(environment);
    serviceLaunchInputs(environment, installation->serviceExecutable, &run->inputs);
    if (run->inputs.javaOutput != NULL) {
        printf(CONSOLE_NAME ": the application's output stays here, not in " JAVA_OUTPUT_VARIABLE_NAME "'s %s\n",
               reportPath(run->inputs.javaOutput));
        run->inputs.javaOutput = NULL;
    }
    applyJvmEnvironment(environment);
    // The inputs point into the environment: it lives as long as the process.
    return run;
}

int runCommand(const Installation *installation)
{
    DWORD state = 0, error = 0;
    if (!queryServiceState(&installation->manager, &state, &error)) {
        printf(CONSOLE_NAME ": the Service Control Manager can't be asked (error %lu); not started\n", error);
        return EXIT_PROBLEMS;
    }
    if (state != SERVICE_STOPPED && state != SERVICE_NOT_INSTALLED) {
        printf(CONSOLE_NAME ": %ls is %s; stop it first (sc stop %ls)\n", SERVICE_NAME, serviceStateText(state),
               SERVICE_NAME);
        return EXIT_PROBLEMS;
    }
    runLaunch = prepareLaunch(installation);
    if (runLaunch == NULL) {
        printf(CONSOLE_NAME ": out of memory; not started\n");
        return EXIT_PROBLEMS;
    }
    logSink = printRecord;
    // Ctrl+C is off in a process started as a group of its own; on, so that
    // the operator can stop the application however the console came.
    SetConsoleCtrlHandler(NULL, FALSE);
    if (!SetConsoleCtrlHandler(consoleEvent, TRUE)) {
        printf(CONSOLE_NAME ": can't take console events (error %lu); not started\n", GetLastError());
        return EXIT_PROBLEMS;
    }

    bool handlerRenewed = false;
    HANDLE launcher = CreateThread(NULL, 0, launchThread, runLaunch, 0, NULL);
    if (launcher == NULL) {
        printf(CONSOLE_NAME ": can't start the launcher thread (error %lu)\n", GetLastError());
        return EXIT_PROBLEMS;
    }
    while (WaitForSingleObject(launcher, 50) == WAIT_TIMEOUT)
        renewHandlerOnce(&handlerRenewed);
    renewHandlerOnce(&handlerRenewed);
    CloseHandle(launcher);
    // main was called and has returned (or thrown): the application may run on.
    bool started = runLaunch->results.jvm.mainInvoked;
    if (!started && InterlockedCompareExchange(&stopStarted, 0, 0) == 0) {
        printf(CONSOLE_NAME ": the start failed (see the records above)\n");
        fflush(stdout);
        ExitProcess(EXIT_PROBLEMS);
    }
    // main has returned; the application may run on in threads of its own
    // until a console event stops it, as the service runs until a STOP.
    Sleep(INFINITE);
    return EXIT_ALL_WELL;
}
