// The stages run once, in order, with no retries. Whatever becomes of them,
// the service stays running until it is stopped.
#include "launcher/launcher.h"

#include "launcher/classpath.h"
#include "launcher/javaoutput.h"
#include "launcher/jvm.h"
#include "launcher/paths.h"
#include "launcher/probe.h"

DWORD WINAPI launcherThread(LPVOID)
{
    findInstallationPaths();
    buildClassPath();
    // Before the first runtime library is loaded: see javaoutput.cpp.
    redirectJavaOutput();
    if (!assembleVmOptions())
        return 0;

    probeRuntimeLibrary();
    HMODULE jvmModule = probeJvmLibrary();
    if (jvmModule == NULL)
        return 0;
    return startJvmAndRunMain(jvmModule);
}
