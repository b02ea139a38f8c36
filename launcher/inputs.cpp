// The service takes its inputs from its own process: its executable's path
// and the environment the Service Control Manager gave it.
#include "launcher/inputs.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

bool stopOnFailureValue(const wchar_t *value)
{
    return value != NULL && wcscmp(value, L"1") == 0;
}

void launchInputsFrom(const wchar_t *executable, LaunchVariableReader read, const void *context, LaunchInputs *inputs)
{
    inputs->executable = executable;
    inputs->jvmLibrary = read(JVM_LIBRARY_VARIABLE, context);
    inputs->classPath = read(CLASS_PATH_VARIABLE, context);
    inputs->javaOutput = read(JAVA_OUTPUT_VARIABLE, context);
    inputs->depth = LAUNCH_TO_MAIN;
    inputs->stopOnFailure = stopOnFailureValue(read(STOP_ON_FAILURE_VARIABLE, context));
    inputs->javaOutputSize = read(JAVA_OUTPUT_SIZE_VARIABLE, context);
    inputs->javaOutputKeep = read(JAVA_OUTPUT_KEEP_VARIABLE, context);
}

static const wchar_t *processVariable(const wchar_t *name, const void *)
{
    return _wgetenv(name);
}

void readLaunchInputs(LaunchInputs *inputs)
{
    launchInputsFrom(NULL, processVariable, NULL, inputs);
}
