// The virtual machine lives inside the service process: created once on the
// launcher thread, never destroyed; it ends with the process.
#include "launcher/jvm.h"

#include <stdlib.h>
#include <string.h>

#include "launcher/classpath.h"
#include "launcher/javaoutput.h"
#include "launcher/lookup.h"
#include "launcher/records.h"
#include "launcher/paths.h"
#include "log/log.h"

JavaVM *volatile jvmHandle = NULL;
CreateJavaVMFunction createJavaVM = NULL;
JavaVMOption *vmOptions = NULL;
JavaVMInitArgs vmInitArgs;
char vmClassPathOption[ANSI_CAPACITY];
char mainArgument[MAIN_ARGUMENT_CAPACITY];

static char nativeDigestOption[] = NATIVE_DIGEST_OPTION;

void clearJvmResult(JvmResult *result)
{
    memset(result, 0, sizeof *result);
}

JavaVM *getJvmHandle(void)
{
    return (JavaVM *)InterlockedCompareExchangePointer((PVOID volatile *)&jvmHandle, NULL, NULL);
}

bool assembleVmOptions(void)
{
    // The logged option ends with a line feed; handed to the virtual machine
    // that way, it would stick to the last class path entry and name a file
    // that does not exist.
    size_t length = strlen(classPathOption);
    if (length > 0 && classPathOption[length - 1] == '\n')
        length--;
    memcpy(vmClassPathOption, classPathOption, length);
    vmClassPathOption[length] = '\0';

    vmOptions = (JavaVMOption *)calloc(2 + JAVA_OUTPUT_HOOK_OPTIONS, sizeof(JavaVMOption));
    if (vmOptions == NULL) {
        logWrite(RECORD_NO_OPTIONS);
        return false;
    }
    vmOptions[0].optionString = nativeDigestOption;
    vmOptions[1].optionString = vmClassPathOption;

    vmInitArgs.version = JNI_VERSION_1_6;
    vmInitArgs.nOptions = 2;
    vmInitArgs.nOptions += addJavaOutputHooks(vmOptions + 2);
    vmInitArgs.options = vmOptions;
    vmInitArgs.ignoreUnrecognized = JNI_FALSE;
    return true;
}

// NewStringUTF expects modified UTF-8: the argument is made from the wide
// base path, so a base path outside ASCII reaches Java intact.
void formatMainArgument(void)
{
    mainArgument[0] = '\0';
    appendModifiedUtf8(mainArgument, sizeof mainArgument, L"" MAIN_ARGUMENT_PREFIX);
    appendModifiedUtf8(mainArgument, sizeof mainArgument, basePath);
    appendModifiedUtf8(mainArgument, sizeof mainArgument, L"\n");
}

JNIEnv *createJvm(HMODULE jvmModule, JvmResult *result)
{
    logWrite(RECORD_LOOKING_UP_CREATE);
    createJavaVM = (CreateJavaVMFunction)(void *)GetProcAddress(jvmModule, CREATE_JVM_EXPORT);
    if (createJavaVM == NULL) {
        logWrite(RECORD_NO_CREATE_EXPORT);
        return NULL;
    }
    result->exportFound = true;

    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    logWrite(RECORD_CALLING_CREATE);
    jint created = createJavaVM(&vm, (void **)&env, &vmInitArgs);
    result->createCalled = true;
    result->createResult = created;
    logWrite(RECORD_CREATE_RETURNED);
    if (created < 0) {
        logWrite(RECORD_CREATE_FAILED, (int)created);
        return NULL;
    }
    // Published only now, so the shutdown thread never sees a handle that the
    // virtual machine is still filling in.
    InterlockedExchangePointer((PVOID volatile *)&jvmHandle, vm);
    result->created = true;
    logWrite(RECORD_JVM_CREATED);
    return env;
}

// Finds the main class and its main and calls it. The exception that main
// leaves pending is logged and cleared.
static DWORD runMain(JNIEnv *env, JvmResult *result)
{
    jclass mainClass = NULL;
    jmethodID mainMethod = NULL;
    if (!findMainClassMethod(env, LOOK_UP_MAIN, &mainClass, &mainMethod, result))
        return 0;

    jclass stringClass = env->FindClass(STRING_CLASS_NAME);
    jobjectArray arguments = env->NewObjectArray(1, stringClass, NULL);
    formatMainArgument();
    env->SetObjectArrayElement(arguments, 0, env->NewStringUTF(mainArgument));

    logWrite(RECORD_INVOKING_MAIN);
    result->mainInvoked = true;
    // Returns when the Java method does; the application may run on after
    // that on threads of its own.
    // Through the table's variadic entry itself, not jni.h's C++ wrapper,
    // which would go through CallStaticVoidMethodV instead.
    env->functions->CallStaticVoidMethod(env, mainClass, mainMethod, arguments);
    result->mainThrew = logPendingException(env, RECORD_MAIN_THREW, result->exception);
    return 1;
}

DWORD startJvmAndRunMain(HMODULE jvmModule, JvmResult *result)
{
    JNIEnv *env = createJvm(jvmModule, result);
    if (env == NULL)
        return 0;
    DWORD ran = runMain(env, result);
    // A native thread attached to the virtual machine must detach before it
    // ends; this one was attached by creating it.
    getJvmHandle()->DetachCurrentThread();
    return ran;
}

DWORD lookUpApplication(HMODULE jvmModule, JvmResult *result)
{
    JNIEnv *env = createJvm(jvmModule, result);
    if (env == NULL)
        return 0;
    jclass mainClass = NULL;
    jmethodID method = NULL;
    bool found = findMainClassMethod(env, LOOK_UP_MAIN, &mainClass, &method, result) &&
                 findMainClassMethod(env, LOOK_UP_SHUTDOWN, &mainClass, &method, result);
    getJvmHandle()->DetachCurrentThread();
    return found ? 1 : 0;
}
