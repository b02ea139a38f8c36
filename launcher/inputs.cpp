// The service takes its inputs from its own process: its executable's path
// and the environment the Service Control Manager gave it.
#include "launcher/inputs.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

void readLaunchInputs(LaunchInputs *inputs)
{
    inputs->executable = NULL;
    inputs->jvmLibrary = _wgetenv(JVM_LIBRARY_VARIABLE);
    inputs->classPath = _wgetenv(CLASS_PATH_VARIABLE);
    inputs->javaOutput = _wgetenv(JAVA_OUTPUT_VARIABLE);
    inputs->depth = LAUNCH_TO_MAIN;
    const wchar_t *stop = _wgetenv(STOP_ON_FAILURE_VARIABLE);
    inputs->stopOnFailure = stop != NULL && wcscmp(stop, L"1") == 0;
    inputs->javaOutputSize = _wgetenv(JAVA_OUTPUT_SIZE_VARIABLE);
    inputs->javaOutputKeep = _wgetenv(JAVA_OUTPUT_KEEP_VARIABLE);
}
