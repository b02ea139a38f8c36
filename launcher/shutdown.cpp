// At STOP or SHUTDOWN the application's static shutdown() is called on a
// thread of its own, attached to the running virtual machine beside the
// launcher thread, which may still be inside main.
#include "launcher/shutdown.h"

#include "launcher/launcher.h"
#include "launcher/lookup.h"
#include "launcher/records.h"
#include "launcher/thread_dump.h"
#include "launcher/thread_dump_state.h"
#include "log/log.h"

static DWORD detachAndEnd(JavaVM *vm, DWORD result)
{
    vm->DetachCurrentThread();
    return result;
}

DWORD WINAPI shutdownThread(LPVOID parameter)
{
    LaunchContext *launch = (LaunchContext *)parameter;
    // Null until the launcher has created the virtual machine: a stop may
    // come before that, or while the creation is still under way.
    JavaVM *vm = getJvmHandle(&launch->vm);
    if (vm == NULL) {
        logWrite(RECORD_NO_JVM_AT_STOP);
        return 0;
    }
    // The start has said why it found no class: looking again would only
    // repeat its records.
    if (!failureLeavesShutdown(launch->stopFailure)) {
        logWrite(RECORD_NO_CLASS_AT_STOP);
        return 0;
    }

    JNIEnv *env = NULL;
    JavaVMAttachArgs arguments = {JNI_VERSION_1_6, (char *)SHUTDOWN_THREAD_NAME, NULL};
    if (vm->AttachCurrentThread((void **)&env, &arguments) < 0) {
        logWrite(RECORD_ATTACH_FAILED);
        return 0;
    }

    // The failure exits detach as well: a thread must not end attached.
    jclass mainClass = NULL;
    jmethodID shutdownMethod = NULL;
    if (!findMainClassMethod(env, LOOK_UP_SHUTDOWN, &mainClass, &shutdownMethod, NULL))
        return detachAndEnd(vm, 0);

    env->functions->CallStaticVoidMethod(env, mainClass, shutdownMethod);
    logPendingException(env, RECORD_SHUTDOWN_THREW, NULL);
    logWrite(RECORD_SHUTDOWN_CALLED, MAIN_CLASS_NAME);

    vm->DetachCurrentThread();
    logWrite(RECORD_DETACHED);
    return 1;
}

// shutdown() still runs after THREAD_DUMP_AFTER_MS: its stack and the other
// threads' are dumped while the stop waits for what remains of
// SHUTDOWN_WAIT_MS. The dump never lengthens the stop: what it has not
// written when shutdown() returns or the wait ends is abandoned, with a
// record saying so.
static bool waitWithDump(LaunchContext *launch, HANDLE shutdown, ULONGLONG started)
{
    ULONGLONG elapsed = GetTickCount64() - started;
    DWORD remaining = elapsed < SHUTDOWN_WAIT_MS ? (DWORD)(SHUTDOWN_WAIT_MS - elapsed) : 0;
    // Without a virtual machine shutdown() was never called: nothing to dump.
    if (getJvmHandle(&launch->vm) == NULL)
        return WaitForSingleObject(shutdown, remaining) == WAIT_OBJECT_0;

    // Set before the dump's thread exists, so no lock is needed yet. The
    // stop waits for shutdown() alone: once it returns, or the time is up,
    // whatever the dump has not written is cut off.
    InterlockedExchange(&launch->threadDumpState, DUMP_STARTED);
    HANDLE dump = CreateThread(NULL, 0, threadDumpThread, launch, 0, NULL);
    bool ended = WaitForSingleObject(shutdown, remaining) == WAIT_OBJECT_0;
    if (dump != NULL)
        CloseHandle(dump);
    abandonThreadDump(&launch->threadDumpState);
    return ended;
}

bool stopLaunch(LaunchContext *launch, DWORD failure)
{
    ULONGLONG started = GetTickCount64();
    InterlockedExchange(&launch->threadDumpState, DUMP_NONE);
    launch->stopFailure = failure;
    HANDLE thread = CreateThread(NULL, 0, shutdownThread, launch, 0, NULL);
    // None was started, so none is left running: the stop goes on at once.
    if (thread == NULL)
        return true;
    bool ended = WaitForSingleObject(thread, THREAD_DUMP_AFTER_MS) == WAIT_OBJECT_0;
    if (!ended)
        ended = waitWithDump(launch, thread, started);
    CloseHandle(thread);
    return ended;
}

bool stopApplication(LaunchContext *launch)
{
    return stopLaunch(launch, LAUNCH_NOT_FAILED);
}
