// The stages run once, in order, with no retries. Whatever becomes of them,
// the service stays running until it is stopped.
#include "launcher/launcher.h"

#include "launcher/classpath.h"
#include "launcher/javaoutput.h"
#include "launcher/jvm.h"
#include "launcher/paths.h"
#include "launcher/probe.h"
#include "launcher/stageclock.h"

DWORD WINAPI launcherThread(LPVOID)
{
    STAGE_MARK("thread");
    findInstallationPaths();
    STAGE_MARK("paths");
    buildClassPath();
    STAGE_MARK("classpath");
    // Before the first runtime library is loaded: see javaoutput.cpp.
    redirectJavaOutput();
    if (!assembleVmOptions())
        return 0;

    probeRuntimeLibrary();
    STAGE_MARK("runtime");
    HMODULE jvmModule = probeJvmLibrary();
    STAGE_MARK("jvm-dll");
    if (jvmModule == NULL)
        return 0;
    return startJvmAndRunMain(jvmModule);
}
