// The stages run once, in order, with no retries. Whatever becomes of them,
// the service stays running until it is stopped.
#include "launcher/launcher.h"

#include <string.h>

#include "launcher/javaoutput.h"

void clearLaunchResults(LaunchResults *results)
{
    memset(results, 0, sizeof *results);
    results->probe.runtimeLoaded = -1;
    results->probe.jvmLoaded = -1;
}

DWORD launch(const LaunchInputs *inputs, LaunchResults *results)
{
    findInstallationPaths(inputs, &results->paths);
    buildClassPath(inputs, &results->classPath);
    // Before the first runtime library is loaded: see javaoutput.cpp.
    redirectJavaOutputTo(inputs->javaOutput);
    if (!assembleVmOptions())
        return 0;

    results->jvm.optionsAssembled = true;

    probeRuntimeLibrary(&results->probe);
    HMODULE jvmModule = probeJvmLibrary(&results->probe);
    if (jvmModule == NULL || inputs->depth == LAUNCH_TO_PROBE)
        return 0;
    if (inputs->depth == LAUNCH_TO_LOOKUPS)
        return lookUpApplication(jvmModule, &results->jvm);
    return startJvmAndRunMain(jvmModule, &results->jvm);
}

DWORD WINAPI launcherThread(LPVOID)
{
    LaunchInputs inputs;
    readLaunchInputs(&inputs);
    LaunchResults results;
    clearLaunchResults(&results);
    return launch(&inputs, &results);
}
