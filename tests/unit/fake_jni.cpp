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

// The thread dump's objects: a handle's kind and number are where it points.
enum DumpKind { DUMP_CLASS, DUMP_METHOD, DUMP_MAP, DUMP_SET, DUMP_ENTRIES, DUMP_ENTRY, DUMP_THREAD, DUMP_STATE,
                DUMP_FRAMES, DUMP_FRAME, DUMP_STRING, DUMP_KINDS };
const int DUMP_HANDLES = 65536, FRAMES_PER_THREAD = 128;
static char dumpHandles[DUMP_KINDS][DUMP_HANDLES];
static std::vector<std::string> dumpStrings;
// What the dump may look up: class, method, signature.
static const char *const dumpMethods[][3] = {
    {"java/lang/Thread", "getAllStackTraces", "()Ljava/util/Map;"},
    {"java/util/Map", "entrySet", "()Ljava/util/Set;"},
    {"java/util/Collection", "toArray", "()[Ljava/lang/Object;"},
    {"java/util/Map$Entry", "getKey", "()Ljava/lang/Object;"},
    {"java/util/Map$Entry", "getValue", "()Ljava/lang/Object;"},
    {"java/lang/Thread", "getName", "()Ljava/lang/String;"},
    {"java/lang/Thread", "getState", "()Ljava/lang/Thread$State;"},
    {"java/lang/Enum", "name", "()Ljava/lang/String;"},
    {"java/lang/StackTraceElement", "toString", "()Ljava/lang/String;"},
    {"java/lang/StackTraceElement", "getClassName", "()Ljava/lang/String;"},
    {"java/lang/StackTraceElement", "getMethodName", "()Ljava/lang/String;"},
};
const int DUMP_METHODS = sizeof dumpMethods / sizeof dumpMethods[0];

static void *dumpHandle(int kind, int number)
{
    fakeLiveReferences += kind != DUMP_METHOD;
    return &dumpHandles[kind][number];
}

// The handle's number when it is of that kind, else -1.
static int dumpNumber(const void *handle, int kind)
{
    const char *at = (const char *)handle;
    return at >= dumpHandles[kind] && at < dumpHandles[kind] + DUMP_HANDLES ? (int)(at - dumpHandles[kind]) : -1;
}

static jobject dumpString(const std::string &text)
{
    dumpStrings.push_back(text);
    return (jobject)dumpHandle(DUMP_STRING, (int)dumpStrings.size() - 1);
}

// What a method of the dump returns for an object of the fake's listing.
static jobject dumpResult(int method, const void *object)
{
    int thread = dumpNumber(object, DUMP_THREAD), frame = dumpNumber(object, DUMP_FRAME);
    int entry = dumpNumber(object, DUMP_ENTRY), state = dumpNumber(object, DUMP_STATE);
    bool outermost = frame >= 0 && frame / FRAMES_PER_THREAD == fakeScript.shutdownThreadAt &&
                     frame % FRAMES_PER_THREAD == fakeScript.dumpFrames - 1;
    std::string number = std::to_string(frame % FRAMES_PER_THREAD);
    switch (method) {
    case 1: return (jobject)dumpHandle(DUMP_SET, 0);
    case 2: return (jobject)dumpHandle(DUMP_ENTRIES, 0);
    case 3: return (jobject)dumpHandle(DUMP_THREAD, entry);
    case 4: return (jobject)dumpHandle(DUMP_FRAMES, entry);
    case 5:
        return dumpString(thread == 0 && fakeScript.firstThreadName ? fakeScript.firstThreadName
                                                                     : "fake-" + std::to_string(thread));
    case 6: return (jobject)dumpHandle(DUMP_STATE, thread);
    case 7: return dumpString(state == fakeScript.shutdownThreadAt ? "TIMED_WAITING" : "RUNNABLE");
    case 8:
        return dumpString(outermost ? "com.orvenda.calistren.test.lt.nextgen.Velmorane.shutdown(Velmorane.java:9)"
                                    : "fake.Code.f" + number + "(Code.java:" + number + ")");
    case 9: return dumpString(outermost ? "com.orvenda.calistren.test.lt.nextgen.Velmorane" : "fake.Code");
    default: return dumpString(outermost ? "shutdown" : "f" + number);
    }
}

// Records the call; the method chosen to throw leaves an exception pending.
static void callDumpMethod(int method)
{
    record(dumpMethods[method][1]);
    if (fakeScript.dumpHoldIn != NULL && std::string(fakeScript.dumpHoldIn) == dumpMethods[method][1])
        WaitForSingleObject(fakeScript.dumpHold, INFINITE);
    if (fakeScript.dumpThrowsIn != NULL && std::string(fakeScript.dumpThrowsIn) == dumpMethods[method][1])
        pendingException = true;
}

static jobject JNICALL callStaticObjectMethodV(JNIEnv *, jclass, jmethodID method, va_list)
{
    if (dumpNumber(method, DUMP_METHOD) != 0) {
        record("CallStaticObjectMethodV ?");
        return NULL;
    }
    callDumpMethod(0);
    return pendingException ? NULL : (jobject)dumpHandle(DUMP_MAP, 0);
}

static jsize JNICALL getArrayLength(JNIEnv *, jarray array)
{
    return dumpNumber(array, DUMP_ENTRIES) >= 0 ? fakeScript.dumpThreads : fakeScript.dumpFrames;
}

static jobject JNICALL getObjectArrayElement(JNIEnv *, jobjectArray array, jsize index)
{
    int thread = dumpNumber(array, DUMP_FRAMES);
    return (jobject)(thread >= 0 ? dumpHandle(DUMP_FRAME, thread * FRAMES_PER_THREAD + index)
                                 : dumpHandle(DUMP_ENTRY, index));
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
    for (int method = 0; method < DUMP_METHODS; method++)
        if (std::string(name) == dumpMethods[method][0])
            return (jclass)dumpHandle(DUMP_CLASS, method);
    pendingException = true;
    return NULL;
}

// A method of a class the dump found; static only getAllStackTraces.
static jmethodID dumpMethodId(jclass cls, const char *name, const char *signature, bool isStatic)
{
    int found = dumpNumber(cls, DUMP_CLASS);
    for (int method = 0; found >= 0 && method < DUMP_METHODS; method++)
        if (std::string(dumpMethods[found][0]) == dumpMethods[method][0] && std::string(name) == dumpMethods[method][1] &&
            std::string(signature) == dumpMethods[method][2] && isStatic == (method == 0))
            return (jmethodID)dumpHandle(DUMP_METHOD, method);
    pendingException = true;
    return NULL;
}

static jmethodID JNICALL getStaticMethodId(JNIEnv *, jclass cls, const char *name, const char *signature)
{
    record(std::string("GetStaticMethodID ") + name + " " + signature);
    if (dumpNumber(cls, DUMP_CLASS) >= 0)
        return dumpMethodId(cls, name, signature, true);
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
    if (dumpNumber(cls, DUMP_CLASS) >= 0)
        return dumpMethodId(cls, name, signature, false);
    if (cls == (jclass)&throwableClassObject && std::string(name) == "toString" &&
        std::string(signature) == "()Ljava/lang/String;")
        return (jmethodID)&toStringMethodObject;
    pendingException = true;
    return NULL;
}

static jobject JNICALL callObjectMethodV(JNIEnv *, jobject object, jmethodID method, va_list)
{
    int dumpMethod = dumpNumber(method, DUMP_METHOD);
    if (dumpMethod > 0) {
        callDumpMethod(dumpMethod);
        return pendingException ? NULL : dumpResult(dumpMethod, object);
    }
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
    if (isCopy != NULL)
        *isCopy = JNI_FALSE;
    fakeLiveReferences++;
    int string = dumpNumber(text, DUMP_STRING);
    if (string >= 0)
        return dumpStrings[string].c_str();
    record(text == (jstring)&descriptionObject ? "GetStringUTFChars" : "GetStringUTFChars ?");
    return fakeScript.exceptionText;
}

static void JNICALL releaseStringUtfChars(JNIEnv *, jstring, const char *chars)
{
    if (chars != NULL)
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
    dumpStrings.clear();
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
    envTable.CallStaticObjectMethodV = callStaticObjectMethodV;
    envTable.GetArrayLength = getArrayLength;
    envTable.GetObjectArrayElement = getObjectArrayElement;
    fakeEnv.functions = &envTable;
}
