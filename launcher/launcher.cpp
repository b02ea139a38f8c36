// The stages run once, in order, with no retries. Whatever becomes of them,
// the service stays running until it is stopped, unless VLSTOPONFAILURE is
// "1": then a failed start ends the launcher thread with a result that asks
// the service to stop.
#include "launcher/launcher.h"

#include <stdio.h>
#include <string.h>

#include "launcher/failure_texts.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/log.h"

void clearLaunchResults(LaunchResults *results)
{
    memset(results, 0, sizeof *results);
    results->probe.runtimeLoaded = -1;
    results->probe.jvmLoaded = -1;
}

LaunchContext *newLaunchContext(void)
{
    LaunchContext *context = (LaunchContext *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *context);
    if (context == NULL)
        return NULL;
    clearJavaOutput(&context->output);
    clearLaunchResults(&context->results);
    return context;
}

// The virtual machine calls its exit hook with no argument of ours: the
// launch it tells of is the one its options were made for (there is one
// virtual machine a process).
static LaunchContext *exitingLaunch;

// System.exit or Runtime.halt: the process ends as soon as this returns, on
// the virtual machine's thread (a thread of the bridge's under Wine). What
// the application wrote is written out (within the pump's bound), the log
// is told the exit code, then whoever observes the launch.
static void JNICALL exitHook(jint code)
{
    finishJavaOutput(&exitingLaunch->output, OUTPUT_DRAIN_MS);
    logWrite(RECORD_JVM_EXIT, (int)code);
    if (exitingLaunch->observer.jvmExit != NULL)
        exitingLaunch->observer.jvmExit(exitingLaunch, (int)code);
}

int addLaunchHooks(LaunchContext *launch, JavaVMOption *hooks)
{
    int count = addJavaOutputHook(&launch->output, hooks);
    // Asked for: without either variable the options stay the two they are.
    if (count > 0 || launch->inputs.stopOnFailure) {
        exitingLaunch = launch;
        hooks[count].optionString = (char *)"exit";
        hooks[count++].extraInfo = (void *)exitHook;
    }
    return count;
}

LaunchFailure launch(LaunchContext *context)
{
    const LaunchInputs *inputs = &context->inputs;
    LaunchResults *results = &context->results;
    findInstallationPaths(inputs, &context->paths, &results->paths);
    buildClassPath(inputs, context->paths.basePath, &context->classPath, &results->classPath);
    // Before the first runtime library is loaded: see javaoutput.cpp.
    if (inputs->javaOutput != NULL && inputs->javaOutput[0] != L'\0')
        setOutputRotation(inputs->javaOutputSize, inputs->javaOutputKeep, &context->output.pump.rotation);
    redirectJavaOutputTo(inputs->javaOutput, &context->output);
    JavaVMOption hooks[VM_HOOK_OPTIONS_MOST] = {};
    int hookCount = addLaunchHooks(context, hooks);
    if (!assembleVmOptions(context->classPath.classPathOption, hooks, hookCount, &context->vm))
        return FAILURE_NO_OPTIONS;

    results->jvm.optionsAssembled = true;

    probeRuntimeLibrary(&context->paths, &results->probe);
    HMODULE jvmModule = probeJvmLibrary(&context->paths, &results->probe);
    if (jvmModule == NULL)
        return FAILURE_NO_JVM_LIBRARY;
    if (inputs->depth == LAUNCH_TO_PROBE)
        return LAUNCH_NOT_FAILED;
    if (inputs->depth == LAUNCH_TO_LOOKUPS)
        lookUpApplication(jvmModule, &context->vm, &results->jvm);
    else
        startJvmAndRunMain(jvmModule, context->paths.basePath, &context->vm, &results->jvm);
    return launchFailure(results);
}

LaunchFailure launchFailure(const LaunchResults *results)
{
    const JvmResult *jvm = &results->jvm;
    if (!jvm->optionsAssembled)
        return FAILURE_NO_OPTIONS;
    if (results->probe.jvmLoaded < 0)
        return FAILURE_NO_JVM_LIBRARY;
    if (!jvm->exportFound)
        return FAILURE_NO_CREATE_EXPORT;
    if (!jvm->created)
        return FAILURE_JVM_NOT_CREATED;
    if (!jvm->classFound)
        return FAILURE_NO_MAIN_CLASS;
    if (!jvm->mainFound)
        return FAILURE_NO_MAIN;
    return jvm->mainThrew ? FAILURE_MAIN_THREW : LAUNCH_NOT_FAILED;
}

const char *launchFailureRecord(const LaunchResults *results, char *text, size_t capacity)
{
    return failureRecordOf(launchFailure(results), results, text, capacity);
}

bool failureLeavesShutdown(DWORD failure)
{
    return failure == LAUNCH_NOT_FAILED || failure == FAILURE_NO_MAIN || failure == FAILURE_MAIN_THREW;
}

// The texts are the event log's (service/messages.mc), made into a header by
// the build (cmake/failure_texts.py).
static_assert(LAUNCH_FAILURE_TEXT_COUNT == LAUNCH_FAILURE_LAST, "every start failure needs its event message");

const char *launchFailureText(DWORD failure)
{
    static const char *const texts[LAUNCH_FAILURE_LAST + 1] = {NULL, LAUNCH_FAILURE_TEXTS};
    return failure <= LAUNCH_FAILURE_LAST ? texts[failure] : NULL;
}

DWORD WINAPI launcherThread(LPVOID parameter)
{
    LaunchContext *context = (LaunchContext *)parameter;
    limitLibrarySearch();
    LaunchFailure failure = launch(context);
    if (context->observer.launchOutcome != NULL)
        context->observer.launchOutcome(context, failure);
    if (!context->inputs.stopOnFailure || failure == LAUNCH_NOT_FAILED)
        return failure;
    logWrite(RECORD_STOP_ON_FAILURE, (int)failure);
    return STOP_ON_FAILURE_RESULT + failure;
}
