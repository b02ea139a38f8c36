// At STOP or SHUTDOWN the application's static shutdown() is called on a
// thread of its own, attached to the running virtual machine beside the
// launcher thread, which may still be inside main.
#include "launcher/shutdown.h"

#include "launcher/java_exception.h"
#include "launcher/jvm.h"
#include "log/log.h"

static DWORD detachAndEnd(JavaVM *vm, DWORD result)
{
    vm->DetachCurrentThread();
    return result;
}

DWORD WINAPI shutdownThread(LPVOID)
{
    // Null until the launcher has created the virtual machine: a stop may
    // come before that, or while the creation is still under way.
    JavaVM *vm = getJvmHandle();
    if (vm == NULL) {
        logWrite("No Java VM was created, shutdown() not called\n");
        return 0;
    }

    JNIEnv *env = NULL;
    if (vm->AttachCurrentThread((void **)&env, NULL) < 0) {
        logWrite("AttachCurrentThread failed\n");
        return 0;
    }

    // The failure exits detach as well: a thread must not end attached.
    jclass mainClass = env->FindClass(MAIN_CLASS_NAME);
    if (mainClass == NULL) {
        logWrite("Can't find class %s\n", MAIN_CLASS_NAME);
        logPendingException(env, NULL);
        return detachAndEnd(vm, 0);
    }
    jmethodID shutdownMethod = env->GetStaticMethodID(mainClass, SHUTDOWN_METHOD_NAME, SHUTDOWN_METHOD_SIGNATURE);
    if (shutdownMethod == NULL) {
        logWrite("No shutdown() method found for %s\n", MAIN_CLASS_NAME);
        logPendingException(env, NULL);
        return detachAndEnd(vm, 0);
    }

    env->functions->CallStaticVoidMethod(env, mainClass, shutdownMethod);
    logPendingException(env, "Call to shutdown() resulted in exception\n");
    logWrite("Shutdown method called on class %s\n", MAIN_CLASS_NAME);

    vm->DetachCurrentThread();
    logWrite("Detached thread\n");
    return 1;
}
