// The virtual machine lives inside the service process: created once on the
// launcher thread, never destroyed; it ends with the process.
#include "launcher/jvm.h"

#include <stdlib.h>
#include <string.h>

#include "launcher/classpath.h"
#include "launcher/lookup.h"
#include "launcher/records.h"
#include "log/log.h"

static char nativeDigestOption[] = NATIVE_DIGEST_OPTION;

void clearJvmResult(JvmResult *result)
{
    memset(result, 0, sizeof *result);
}

JavaVM *getJvmHandle(LaunchVm *vm)
{
    return (JavaVM *)InterlockedCompareExchangePointer((PVOID volatile *)&vm->jvmHandle, NULL, NULL);
}

bool assembleVmOptions(const char *classPathOption, const JavaVMOption *hooks, int hookCount, LaunchVm *vm)
{
    char *vmClassPathOption = vm->vmClassPathOption;
    // The logged option ends with a line feed; handed to the virtual machine
    // that way, it would stick to the last class path entry and name a file
    // that does not exist.
    size_t length = strlen(classPathOption);
    if (length > 0 && classPathOption[length - 1] == '\n')
        length--;
    memcpy(vmClassPathOption, classPathOption, length);
    vmClassPathOption[length] = '\0';

    JavaVMOption *options = (JavaVMOption *)calloc(2 + VM_HOOK_OPTIONS_MOST, sizeof(JavaVMOption));
    vm->vmOptions = options;
    if (options == NULL) {
        logWrite(RECORD_NO_OPTIONS);
        return false;
    }
    options[0].optionString = nativeDigestOption;
    options[1].optionString = vmClassPathOption;

    vm->vmInitArgs.version = JNI_VERSION_1_6;
    if (hookCount > VM_HOOK_OPTIONS_MOST)
        hookCount = VM_HOOK_OPTIONS_MOST;
    memcpy(options + 2, hooks, (size_t)hookCount * sizeof *hooks);
    vm->vmInitArgs.nOptions = 2 + hookCount;
    vm->vmInitArgs.options = options;
    vm->vmInitArgs.ignoreUnrecognized = JNI_FALSE;
    return true;
}

// NewStringUTF expects modified UTF-8: the argument is made from the wide
// base path, so a base path outside ASCII reaches Java intact.
void formatMainArgument(const wchar_t *basePath, LaunchVm *vm)
{
    char *mainArgument = vm->mainArgument;
    mainArgument[0] = '\0';
    appendModifiedUtf8(mainArgument, sizeof vm->mainArgument, L"" MAIN_ARGUMENT_PREFIX);
    appendModifiedUtf8(mainArgument, sizeof vm->mainArgument, basePath);
    appendModifiedUtf8(mainArgument, sizeof vm->mainArgument, L"\n");
}

JNIEnv *createJvm(HMODULE jvmModule, LaunchVm *launchVm, JvmResult *result)
{
    logWrite(RECORD_LOOKING_UP_CREATE);
    CreateJavaVMFunction createJavaVM = (CreateJavaVMFunction)(void *)GetProcAddress(jvmModule, CREATE_JVM_EXPORT);
    launchVm->createJavaVM = createJavaVM;
    if (createJavaVM == NULL) {
        logWrite(RECORD_NO_CREATE_EXPORT);
        return NULL;
    }
    result->exportFound = true;

    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    logWrite(RECORD_CALLING_CREATE);
    jint created = createJavaVM(&vm, (void **)&env, &launchVm->vmInitArgs);
    result->createCalled = true;
    result->createResult = created;
    logWrite(RECORD_CREATE_RETURNED);
    if (created < 0) {
        logWrite(RECORD_CREATE_FAILED, (int)created);
        return NULL;
    }
    // Published only now, so the shutdown thread never sees a handle that the
    // virtual machine is still filling in.
    InterlockedExchangePointer((PVOID volatile *)&launchVm->jvmHandle, vm);
    result->created = true;
    logWrite(RECORD_JVM_CREATED);
    return env;
}

// Finds the main class and its main and calls it. The exception that main
// leaves pending is logged and cleared.
static void runMain(JNIEnv *env, const wchar_t *basePath, LaunchVm *vm, JvmResult *result)
{
    jclass mainClass = NULL;
    jmethodID mainMethod = NULL;
    if (!findMainClassMethod(env, LOOK_UP_MAIN, &mainClass, &mainMethod, result))
        return;

    jclass stringClass = env->FindClass(STRING_CLASS_NAME);
    jobjectArray arguments = env->NewObjectArray(1, stringClass, NULL);
    formatMainArgument(basePath, vm);
    env->SetObjectArrayElement(arguments, 0, env->NewStringUTF(vm->mainArgument));

    logWrite(RECORD_INVOKING_MAIN);
    result->mainInvoked = true;
    // Returns when the Java method does; the application may run on after
    // that on threads of its own.
    // Through the table's variadic entry itself, not jni.h's C++ wrapper,
    // which would go through CallStaticVoidMethodV instead.
    env->functions->CallStaticVoidMethod(env, mainClass, mainMethod, arguments);
    result->mainThrew = logPendingException(env, RECORD_MAIN_THREW, result->exception);
}

void startJvmAndRunMain(HMODULE jvmModule, const wchar_t *basePath, LaunchVm *vm, JvmResult *result)
{
    JNIEnv *env = createJvm(jvmModule, vm, result);
    if (env == NULL)
        return;
    runMain(env, basePath, vm, result);
    // A native thread attached to the virtual machine must detach before it
    // ends; this one was attached by creating it.
    getJvmHandle(vm)->DetachCurrentThread();
}

bool lookUpApplication(HMODULE jvmModule, LaunchVm *vm, JvmResult *result)
{
    JNIEnv *env = createJvm(jvmModule, vm, result);
    if (env == NULL)
        return false;
    jclass mainClass = NULL;
    jmethodID method = NULL;
    bool found = findMainClassMethod(env, LOOK_UP_MAIN, &mainClass, &method, result) &&
                 findMainClassMethod(env, LOOK_UP_SHUTDOWN, &mainClass, &method, result);
    getJvmHandle(vm)->DetachCurrentThread();
    return found;
}
