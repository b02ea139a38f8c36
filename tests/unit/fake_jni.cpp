#include "fake_jni.h"

#include <windows.h>
#include <stdarg.h>

#include "launcher/java_contract.h"

FakeJvmScript fakeScript;
JavaVM fakeVm;
std::vector<std::string> fakeCalls;
jint fakeVersion;
std::vector<std::string> fakeOptions;
jboolean fakeIgnoreUnrecognized;
int fakeLiveReferences;

static JNIInvokeInterface_ vmTable;
static JNINativeInterface_ envTable;
static JNIEnv fakeEnv;
static CRITICAL_SECTION callsLock;
static bool pendingException;

// Distinct non-null handles for the objects the launcher passes around.
static int mainClassObject, stringClassObject, mainMethodObject, shutdownMethodObject, arrayObject, exceptionObject;
static int throwableClassObject, toStringMethodObject, descriptionObject;
static std::string lastString;

static void record(const std::string &call)
{
    EnterCriticalSection(&callsLock);
    fakeCalls.push_back(pendingException ? "pending! " + call : call);
    LeaveCriticalSection(&callsLock);
}

static jint JNICALL attach(JavaVM *, void **env, void *args)
{
    record(args == NULL ? "attach" : "attach with arguments");
    if (fakeScript.attachResult < 0)
        return fakeScript.attachResult;
    *env = &fakeEnv;
    return JNI_OK;
}

static jint JNICALL detach(JavaVM *)
{
    record("detach");
    return JNI_OK;
}

static jclass JNICALL findClass(JNIEnv *, const char *name)
{
    record(std::string("FindClass ") + name);
    if (std::string(name) == STRING_CLASS_NAME)
        return (jclass)&stringClassObject;
    if (std::string(name) == MAIN_CLASS_NAME && fakeScript.mainClassFound)
        return (jclass)&mainClassObject;
    pendingException = true;
    return NULL;
}

static jmethodID JNICALL getStaticMethodId(JNIEnv *, jclass cls, const char *name, const char *signature)
{
    record(std::string("GetStaticMethodID ") + name + " " + signature);
    if (cls != (jclass)&mainClassObject)
        return NULL;
    if (std::string(name) == MAIN_METHOD_NAME && std::string(signature) == MAIN_METHOD_SIGNATURE &&
        fakeScript.mainMethodFound)
        return (jmethodID)&mainMethodObject;
    if (std::string(name) == SHUTDOWN_METHOD_NAME && std::string(signature) == SHUTDOWN_METHOD_SIGNATURE &&
        fakeScript.shutdownMethodFound)
        return (jmethodID)&shutdownMethodObject;
    pendingException = true;
    return NULL;
}

static jobjectArray JNICALL newObjectArray(JNIEnv *, jsize length, jclass cls, jobject initial)
{
    record("NewObjectArray " + std::to_string(length) + (cls == (jclass)&stringClassObject ? " String" : " ?") +
           (initial == NULL ? " null" : " object"));
    return (jobjectArray)&arrayObject;
}

static jstring JNICALL newStringUtf(JNIEnv *, const char *text)
{
    lastString = text;
    return (jstring)&lastString;
}

static void JNICALL setObjectArrayElement(JNIEnv *, jobjectArray array, jsize index, jobject value)
{
    if (array == (jobjectArray)&arrayObject && index == 0 && value == (jobject)&lastString)
        record("SetObjectArrayElement 0");
}

static void JNICALL callStaticVoidMethod(JNIEnv *, jclass, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    if (method == (jmethodID)&mainMethodObject) {
        jobjectArray array = va_arg(args, jobjectArray);
        record(array == (jobjectArray)&arrayObject ? "main " + lastString : "main without its array");
        pendingException = fakeScript.mainThrows;
    } else if (method == (jmethodID)&shutdownMethodObject) {
        record("shutdown");
        pendingException = fakeScript.shutdownThrows;
    }
    va_end(args);
}

static void JNICALL callStaticVoidMethodV(JNIEnv *, jclass, jmethodID, va_list)
{
    record("CallStaticVoidMethodV");
}

static jthrowable JNICALL exceptionOccurred(JNIEnv *)
{
    if (!pendingException)
        return NULL;
    fakeLiveReferences++;
    return (jthrowable)&exceptionObject;
}

static void JNICALL exceptionClear(JNIEnv *)
{
    pendingException = false;
    record("ExceptionClear");
}

static void JNICALL deleteLocalRef(JNIEnv *, jobject)
{
    fakeLiveReferences--;
}

static jclass JNICALL getObjectClass(JNIEnv *, jobject object)
{
    record(object == (jobject)&exceptionObject ? "GetObjectClass" : "GetObjectClass ?");
    fakeLiveReferences++;
    return (jclass)&throwableClassObject;
}

static jmethodID JNICALL getMethodId(JNIEnv *, jclass cls, const char *name, const char *signature)
{
    record(std::string("GetMethodID ") + name + " " + signature);
    if (cls == (jclass)&throwableClassObject && std::string(name) == "toString" &&
        std::string(signature) == "()Ljava/lang/String;")
        return (jmethodID)&toStringMethodObject;
    pendingException = true;
    return NULL;
}

static jobject JNICALL callObjectMethodV(JNIEnv *, jobject object, jmethodID method, va_list)
{
    record(object == (jobject)&exceptionObject && method == (jmethodID)&toStringMethodObject ? "toString"
                                                                                               : "CallObjectMethodV ?");
    if (fakeScript.toStringThrows) {
        pendingException = true;
        return NULL;
    }
    if (fakeScript.exceptionText == NULL)
        return NULL;
    fakeLiveReferences++;
    return (jobject)&descriptionObject;
}

static const char *JNICALL getStringUtfChars(JNIEnv *, jstring text, jboolean *isCopy)
{
    record(text == (jstring)&descriptionObject ? "GetStringUTFChars" : "GetStringUTFChars ?");
    if (isCopy != NULL)
        *isCopy = JNI_FALSE;
    fakeLiveReferences++;
    return fakeScript.exceptionText;
}

static void JNICALL releaseStringUtfChars(JNIEnv *, jstring, const char *chars)
{
    if (chars == fakeScript.exceptionText)
        fakeLiveReferences--;
}

// jni.h declares it as imported from the virtual machine's library; here the
// test program itself is that library.
#pragma GCC diagnostic ignored "-Wattributes"
extern "C" __declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM **vm, void **env, void *args)
{
    JavaVMInitArgs *initArgs = (JavaVMInitArgs *)args;
    record("create");
    fakeVersion = initArgs->version;
    fakeIgnoreUnrecognized = initArgs->ignoreUnrecognized;
    fakeOptions.clear();
    for (jint i = 0; i < initArgs->nOptions; i++)
        fakeOptions.push_back(initArgs->options[i].optionString);
    if (fakeScript.createResult < 0)
        return fakeScript.createResult;
    *vm = &fakeVm;
    *env = &fakeEnv;
    return JNI_OK;
}

void resetFakeJvm(void)
{
    static bool initialised;
    if (!initialised) {
        InitializeCriticalSection(&callsLock);
        initialised = true;
    }
    fakeScript = FakeJvmScript{};
    fakeLiveReferences = 0;
    fakeCalls.clear();
    fakeOptions.clear();
    pendingException = false;

    vmTable = JNIInvokeInterface_{};
    vmTable.AttachCurrentThread = attach;
    vmTable.DetachCurrentThread = detach;
    fakeVm.functions = &vmTable;

    envTable = JNINativeInterface_{};
    envTable.FindClass = findClass;
    envTable.GetStaticMethodID = getStaticMethodId;
    envTable.NewObjectArray = newObjectArray;
    envTable.NewStringUTF = newStringUtf;
    envTable.SetObjectArrayElement = setObjectArrayElement;
    envTable.CallStaticVoidMethod = callStaticVoidMethod;
    envTable.CallStaticVoidMethodV = callStaticVoidMethodV;
    envTable.ExceptionOccurred = exceptionOccurred;
    envTable.ExceptionClear = exceptionClear;
    envTable.DeleteLocalRef = deleteLocalRef;
    envTable.GetObjectClass = getObjectClass;
    envTable.GetMethodID = getMethodId;
    envTable.CallObjectMethodV = callObjectMethodV;
    envTable.GetStringUTFChars = getStringUtfChars;
    envTable.ReleaseStringUTFChars = releaseStringUtfChars;
    fakeEnv.functions = &envTable;
}
