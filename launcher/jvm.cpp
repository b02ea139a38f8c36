// The virtual machine lives inside the service process: created once on the
// launcher thread, never destroyed; it ends with the process.
#include "launcher/jvm.h"

#include <stdlib.h>
#include <string.h>

#include "launcher/classpath.h"
#include "launcher/java_exception.h"
#include "launcher/paths.h"
#include "log/log.h"

JavaVM *volatile jvmHandle = NULL;
CreateJavaVMFunction createJavaVM = NULL;
JavaVMOption *vmOptions = NULL;
JavaVMInitArgs vmInitArgs;
char vmClassPathOption[ANSI_CAPACITY];
char mainArgument[MAIN_ARGUMENT_CAPACITY];

static char nativeDigestOption[] = NATIVE_DIGEST_OPTION;

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

    vmOptions = (JavaVMOption *)calloc(2, sizeof(JavaVMOption));
    if (vmOptions == NULL) {
        logWrite("Can't allocate the JVM options\n");
        return false;
    }
    vmOptions[0].optionString = nativeDigestOption;
    vmOptions[1].optionString = vmClassPathOption;

    vmInitArgs.version = JNI_VERSION_1_6;
    vmInitArgs.nOptions = 2;
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

JNIEnv *createJvm(HMODULE jvmModule)
{
    logWrite("GetProcAddress for JNI_CreateJavaVM\n");
    createJavaVM = (CreateJavaVMFunction)(void *)GetProcAddress(jvmModule, CREATE_JVM_EXPORT);
    if (createJavaVM == NULL) {
        logWrite("Can't find JNI_CreateJavaVM in jvm.dll\n");
        return NULL;
    }

    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    logWrite("Calling createJVM\n");
    jint result = createJavaVM(&vm, (void **)&env, &vmInitArgs);
    logWrite("Completed call to createJVM\n");
    if (result < 0) {
        logWrite("Can't create Java VM.  Return code %d\n", (int)result);
        return NULL;
    }
    // Published only now, so the shutdown thread never sees a handle that the
    // virtual machine is still filling in.
    InterlockedExchangePointer((PVOID volatile *)&jvmHandle, vm);
    logWrite("Successfully created JVM\n");
    return env;
}

// The exceptions that the lookups leave pending are logged and cleared.
bool findMain(JNIEnv *env, jclass *mainClass, jmethodID *mainMethod)
{
    *mainClass = env->FindClass(MAIN_CLASS_NAME);
    if (*mainClass == NULL) {
        logWrite("Can't find class %s\n", MAIN_CLASS_NAME);
        logPendingException(env, NULL);
        return false;
    }
    logWrite("Found class %s\n", MAIN_CLASS_NAME);

    *mainMethod = env->GetStaticMethodID(*mainClass, MAIN_METHOD_NAME, MAIN_METHOD_SIGNATURE);
    if (*mainMethod == NULL) {
        logWrite("Can't find main()\n");
        logPendingException(env, NULL);
        return false;
    }
    logWrite("Found static method main()\n");
    return true;
}

// Finds the main class and its main and calls it. The exception that main
// leaves pending is logged and cleared.
static DWORD runMain(JNIEnv *env)
{
    jclass mainClass = NULL;
    jmethodID mainMethod = NULL;
    if (!findMain(env, &mainClass, &mainMethod))
        return 0;

    jclass stringClass = env->FindClass(STRING_CLASS_NAME);
    jobjectArray arguments = env->NewObjectArray(1, stringClass, NULL);
    formatMainArgument();
    env->SetObjectArrayElement(arguments, 0, env->NewStringUTF(mainArgument));

    logWrite("Invoking main()\n");
    // Returns when the Java method does; the application may run on after
    // that on threads of its own.
    // Through the table's variadic entry itself, not jni.h's C++ wrapper,
    // which would go through CallStaticVoidMethodV instead.
    env->functions->CallStaticVoidMethod(env, mainClass, mainMethod, arguments);
    logPendingException(env, "Call to main() resulted in exception\n");
    return 1;
}

DWORD startJvmAndRunMain(HMODULE jvmModule)
{
    JNIEnv *env = createJvm(jvmModule);
    if (env == NULL)
        return 0;
    DWORD result = runMain(env);
    // A native thread attached to the virtual machine must detach before it
    // ends; this one was attached by creating it.
    getJvmHandle()->DetachCurrentThread();
    return result;
}
