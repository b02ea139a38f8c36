// "check": the report an operator reads before the first start. Nothing is
// changed and nothing is written to the service's log.
#include "console/check.h"

#include <stdio.h>

#include "console/console.h"
#include "console/report.h"
#include "console/service_view.h"
#include "launcher/classpath.h"
#include "launcher/paths.h"

void runPathAndClassPathStages(const wchar_t *executable)
{
    collectorStart();
    installationExecutable = executable;
    findInstallationPaths();
    buildClassPath();
    collectorStop();
}

int checkCommand(bool withJvm)
{
    printf("VelmoraneConsole check: the installation of %s\n", serviceExecutableAnsi);
    // The stages read VLJVMDLL and VLCLASSPATH: as the service would get them.
    readServiceEnvironment();
    applyServiceEnvironment();

    checkLayout();
    checkClassPath();
    HMODULE jvmModule = checkRuntime();
    checkApplication(jvmModule, withJvm);
    checkRegistration();
    checkPermissions();
    checkEnvironment();
    checkLog();

    int code = reportExitCode();
    printf("\n%d problem(s), %d warning(s)\n", problemCount, warningCount);
    fflush(stdout);
    // A virtual machine, once created, is never destroyed: end the process
    // here rather than let its threads hold it.
    ExitProcess((UINT)code);
}
