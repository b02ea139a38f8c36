// "check": the report an operator reads before the first start. Nothing is
// changed and nothing is written to the service's log.
#include "console/check/check.h"

#include <stdio.h>

#include "console/console.h"
#include "console/report.h"

int checkCommand(const Installation *installation, bool withJvm)
{
    printf(CONSOLE_NAME " check: the installation of %s\n", installation->serviceExecutableAnsi);
    fflush(stdout);
    Snapshot *snapshot = takeSnapshot(installation, withJvm);
    if (snapshot == NULL) {
        printf(CONSOLE_NAME ": out of memory\n");
        return EXIT_PROBLEMS;
    }

    checkLayout(snapshot);
    checkClassPath(snapshot);
    checkRuntime(snapshot);
    checkApplication(snapshot);
    checkRegistration(snapshot);
    checkPermissions(snapshot);
    checkEnvironment(snapshot);
    checkJavaOutput(snapshot);
    checkLog(snapshot);

    int code = reportExitCode();
    printf("\n%d problem(s), %d warning(s)\n", reportCount(FINDING_PROBLEM), reportCount(FINDING_WARNING));
    fflush(stdout);
    // A virtual machine, once created, is never destroyed: end the process
    // here rather than let its threads hold it.
    ExitProcess((UINT)code);
}
