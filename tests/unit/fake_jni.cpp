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

// The dump's objects are addresses in dumpObjects: kind * DUMP_SPAN + number;
// a frame's number is its thread's * FRAME_SPAN + its own.
enum { D_CLASS, D_MAP, D_SET, D_ENTRIES, D_ENTRY, D_THREAD, D_STATE, D_FRAMES, D_FRAME, D_TEXT, D_METHOD, D_KINDS };
const int DUMP_SPAN = 65536, FRAME_SPAN = 128;
static char dumpObjects[D_KINDS * DUMP_SPAN];
static std::vector<std::string> dumpTexts; // the strings handed out and the methods' names

static void *dumpObject(int kind, int number)
{
    fakeLiveReferences += kind != D_METHOD;
    return dumpObjects + kind * DUMP_SPAN + number;
}

static int dumpNumber(const void *object, int kind)
{
    long long at = (const char *)object - (dumpObjects + kind * DUMP_SPAN);
    return at >= 0 && at < DUMP_SPAN ? (int)at : -1;
}

// A string, or (D_METHOD) a method looked up by this name.
static jobject dumpText(const std::string &text, int kind = D_TEXT)
{
    dumpTexts.push_back(text);
    return (jobject)dumpObject(kind, (int)dumpTexts.size() - 1);
}

// A method of the dump, by its name alone (HotSpot itself checks the signatures).
static jobject callDump(jmethodID method, const void *object)
{
    const std::string name = dumpTexts[dumpNumber(method, D_METHOD)];
    record(name);
    if (fakeScript.dumpHoldIn != NULL && name == fakeScript.dumpHoldIn)
        WaitForSingleObject(fakeScript.dumpHold, INFINITE);
    if (fakeScript.dumpThrowsIn != NULL && name == fakeScript.dumpThrowsIn) {
        pendingException = true;
        return NULL;
    }
    int entry = dumpNumber(object, D_ENTRY), thread = dumpNumber(object, D_THREAD);
    int frame = dumpNumber(object, D_FRAME), at = frame % FRAME_SPAN;
    bool outermost = frame / FRAME_SPAN == fakeScript.shutdownThreadAt && at == fakeScript.dumpFrames - 1;
    std::string code = outermost ? "com.orvenda.calistren.test.lt.nextgen.Velmorane" : "fake.Code";
    std::string where = outermost ? "shutdown" : "f" + std::to_string(at);
    if (name == "getKey" || name == "getValue" || name == "getState")
        return (jobject)(name == "getState" ? dumpObject(D_STATE, thread)
                                            : dumpObject(name == "getKey" ? D_THREAD : D_FRAMES, entry));
    if (name == "getName")
        return dumpText(thread == 0 && fakeScript.firstThreadName ? fakeScript.firstThreadName
                                                                   : "fake-" + std::to_string(thread));
    if (name == "name")
        return dumpText(dumpNumber(object, D_STATE) == fakeScript.shutdownThreadAt ? "TIMED_WAITING" : "RUNNABLE");
    if (name == "getClassName" || name == "getMethodName")
        return dumpText(name == "getClassName" ? code : where);
    if (name == "toString")
        return dumpText(code + "." + where + "(Code.java:" + std::to_string(at) + ")");
    return (jobject)dumpObject(name == "getAllStackTraces" ? D_MAP : name == "entrySet" ? D_SET : D_ENTRIES, 0);
}

static jobject JNICALL callStaticObjectMethodV(JNIEnv *, jclass, jmethodID method, va_list)
{
    return callDump(method, NULL);
}

static jsize JNICALL getArrayLength(JNIEnv *, jarray array)
{
    return dumpNumber(array, D_ENTRIES) >= 0 ? fakeScript.dumpThreads : fakeScript.dumpFrames;
}

static jobject JNICALL getObjectArrayElement(JNIEnv *, jobjectArray array, jsize index)
{
    int thread = dumpNumber(array, D_FRAMES);
    return (jobject)(thread >= 0 ? dumpObject(D_FRAME, thread * FRAME_SPAN + index) : dumpObject(D_ENTRY, index));
}

static jint JNICALL attach(JavaVM *, void **env, void *args)
{
    record(args == NULL ? "attach" : std::string("attach as ") + ((JavaVMAttachArgs *)args)->name);
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
    if (std::string(name).rfind("java/", 0) == 0)
        return (jclass)dumpObject(D_CLASS, 0);
    pendingException = true;
    return NULL;
}

static jmethodID JNICALL getStaticMethodId(JNIEnv *, jclass cls, const char *name, const char *signature)
{
    record(std::string("GetStaticMethodID ") + name + " " + signature);
    if (dumpNumber(cls, D_CLASS) >= 0)
        return (jmethodID)dumpText(name, D_METHOD);
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
    if (dumpNumber(cls, D_CLASS) >= 0)
        return (jmethodID)dumpText(name, D_METHOD);
    if (cls == (jclass)&throwableClassObject && std::string(name) == "toString" &&
        std::string(signature) == "()Ljava/lang/String;")
        return (jmethodID)&toStringMethodObject;
    pendingException = true;
    return NULL;
}

static jobject JNICALL callObjectMethodV(JNIEnv *, jobject object, jmethodID method, va_list)
{
    if (dumpNumber(method, D_METHOD) >= 0)
        return callDump(method, object);
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
    if (dumpNumber(text, D_TEXT) >= 0)
        return dumpTexts[dumpNumber(text, D_TEXT)].c_str();
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
    dumpTexts.clear();
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
