// The Java threads' stacks through JNI alone (Thread.getAllStackTraces), so
// that any virtual machine with the invocation interface can give them. The
// dump runs beside the stop's wait and never lengthens it: each record is
// written only while the stop still waits, checked and written under the log
// lock, so the record of a dump cut off is always its last.
#include "launcher/thread_dump.h"

#include "launcher/java_exception.h"
#include "launcher/launcher.h"
#include "launcher/records.h"
#include "launcher/strings.h"
#include "launcher/thread_dump_state.h"
#include "log/service_name.h"

// The name the dump's thread carries among the Java threads it lists.
#define DUMP_THREAD_NAME VELMORANE_SERVICE_NAME " thread dump"

enum DumpMethod {
    ALL_STACK_TRACES, // static
    ENTRY_SET,
    TO_ARRAY,
    ENTRY_KEY,
    ENTRY_VALUE,
    THREAD_NAME,
    THREAD_STATE,
    STATE_NAME,
    FRAME_TEXT,
    FRAME_CLASS,
    FRAME_METHOD,
    DUMP_METHOD_COUNT,
};

struct DumpMethodName {
    const char *className;
    const char *name;
    const char *signature;
};

// In the order of DumpMethod.
static const DumpMethodName dumpMethodNames[DUMP_METHOD_COUNT] = {
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

// The dump's lookups, and the launch it dumps: where the dump stands and who
// is told of the frames of the thread in shutdown().
struct DumpCalls {
    jclass threadClass;
    jmethodID methods[DUMP_METHOD_COUNT];
    volatile LONG *state;
    const LaunchObserver *observer;
};

static void deleteRef(JNIEnv *env, jobject object)
{
    if (object != NULL)
        env->DeleteLocalRef(object);
}

static bool lookUpDumpCalls(JNIEnv *env, DumpCalls *calls)
{
    calls->threadClass = NULL;
    for (int index = 0; index < DUMP_METHOD_COUNT; index++) {
        const DumpMethodName *method = &dumpMethodNames[index];
        jclass found = env->FindClass(method->className);
        if (found == NULL)
            return false;
        calls->methods[index] = index == ALL_STACK_TRACES
                                    ? env->GetStaticMethodID(found, method->name, method->signature)
                                    : env->GetMethodID(found, method->name, method->signature);
        if (index == ALL_STACK_TRACES)
            calls->threadClass = found;
        else
            deleteRef(env, found);
        if (calls->methods[index] == NULL)
            return false;
    }
    return true;
}

// Thread.getAllStackTraces().entrySet().toArray(); NULL when a call failed.
static jobjectArray takeStackTraces(JNIEnv *env, const DumpCalls *calls)
{
    jobject map = env->CallStaticObjectMethod(calls->threadClass, calls->methods[ALL_STACK_TRACES]);
    if (map == NULL)
        return NULL;
    jobject entries = env->CallObjectMethod(map, calls->methods[ENTRY_SET]);
    deleteRef(env, map);
    if (entries == NULL)
        return NULL;
    jobject array = env->CallObjectMethod(entries, calls->methods[TO_ARRAY]);
    deleteRef(env, entries);
    return (jobjectArray)array;
}

// The thread and its frames of entry `index`; false, with nothing to
// release, when a call failed.
static bool readEntry(JNIEnv *env, const DumpCalls *calls, jobjectArray entries, jsize index, jobject *thread,
                      jobjectArray *frames)
{
    jobject entry = env->GetObjectArrayElement(entries, index);
    if (entry == NULL)
        return false;
    *thread = env->CallObjectMethod(entry, calls->methods[ENTRY_KEY]);
    *frames = *thread == NULL ? NULL : (jobjectArray)env->CallObjectMethod(entry, calls->methods[ENTRY_VALUE]);
    deleteRef(env, entry);
    if (*frames == NULL) {
        deleteRef(env, *thread);
        return false;
    }
    return true;
}

// A Java string as one line of the log (javaTextForLog). Releases the
// string; false when it is NULL (the call that gave it failed).
static bool textOf(JNIEnv *env, jstring string, char *text)
{
    if (string == NULL)
        return false;
    const char *utf = env->GetStringUTFChars(string, NULL);
    if (utf != NULL) {
        javaTextForLog(utf, text);
        env->ReleaseStringUTFChars(string, utf);
    }
    deleteRef(env, string);
    return utf != NULL;
}

// Whether the name a StackTraceElement gives (dots) is the slashed name.
static bool sameClassName(const char *dotted, const char *slashed)
{
    for (; *dotted != '\0' && *slashed != '\0'; dotted++, slashed++)
        if (*dotted != (*slashed == '/' ? '.' : *slashed))
            return false;
    return *dotted == *slashed;
}

// The thread in shutdown() is the one whose outermost frame is the main
// class's shutdown(), called from native code. False when a call failed.
static bool inShutdown(JNIEnv *env, const DumpCalls *calls, jobjectArray frames, bool *found)
{
    *found = false;
    jsize count = env->GetArrayLength(frames);
    if (count == 0)
        return true;
    jobject outermost = env->GetObjectArrayElement(frames, count - 1);
    if (outermost == NULL)
        return false;
    char className[THREAD_DUMP_TEXT_CAPACITY], methodName[THREAD_DUMP_TEXT_CAPACITY];
    bool read = textOf(env, (jstring)env->CallObjectMethod(outermost, calls->methods[FRAME_CLASS]), className) &&
                textOf(env, (jstring)env->CallObjectMethod(outermost, calls->methods[FRAME_METHOD]), methodName);
    deleteRef(env, outermost);
    *found = read && sameClassName(className, MAIN_CLASS_NAME) && lstrcmpA(methodName, SHUTDOWN_METHOD_NAME) == 0;
    return read;
}

// The index of the thread in shutdown(), or -1; false when a call failed or
// the stop went on without the dump (it writes nothing more, so looking
// further would only keep the virtual machine busy).
static bool findShutdownThread(JNIEnv *env, const DumpCalls *calls, jobjectArray entries, jsize count, jsize *at)
{
    *at = -1;
    for (jsize index = 0; index < count && *at < 0; index++) {
        if (*calls->state == DUMP_ABANDONED)
            return false;
        jobject thread;
        jobjectArray frames;
        bool found = false;
        if (!readEntry(env, calls, entries, index, &thread, &frames))
            return false;
        bool read = inShutdown(env, calls, frames, &found);
        deleteRef(env, thread);
        deleteRef(env, frames);
        if (!read)
            return false;
        if (found)
            *at = index;
    }
    return true;
}

static bool writeThread(JNIEnv *env, const DumpCalls *calls, jobject thread, bool shutdown)
{
    char name[THREAD_DUMP_TEXT_CAPACITY], stateName[THREAD_DUMP_TEXT_CAPACITY];
    if (!textOf(env, (jstring)env->CallObjectMethod(thread, calls->methods[THREAD_NAME]), name))
        return false;
    jobject state = env->CallObjectMethod(thread, calls->methods[THREAD_STATE]);
    if (state == NULL)
        return false;
    bool read = textOf(env, (jstring)env->CallObjectMethod(state, calls->methods[STATE_NAME]), stateName);
    deleteRef(env, state);
    if (!read)
        return false;
    return shutdown ? dumpRecord(calls->state, RECORD_DUMP_SHUTDOWN_THREAD, name, stateName)
                    : dumpRecord(calls->state, RECORD_DUMP_THREAD, name, stateName);
}

static bool writeFrames(JNIEnv *env, const DumpCalls *calls, jobjectArray frames, bool shutdown)
{
    jsize count = env->GetArrayLength(frames);
    char text[THREAD_DUMP_TEXT_CAPACITY];
    for (jsize index = 0; index < count && index < THREAD_DUMP_FRAME_LIMIT; index++) {
        jobject frame = env->GetObjectArrayElement(frames, index);
        if (frame == NULL)
            return false;
        bool read = textOf(env, (jstring)env->CallObjectMethod(frame, calls->methods[FRAME_TEXT]), text);
        deleteRef(env, frame);
        if (!read || !dumpRecord(calls->state, RECORD_DUMP_FRAME, text))
            return false;
        if (shutdown && calls->observer->shutdownFrame != NULL)
            calls->observer->shutdownFrame(index, text);
    }
    return count <= THREAD_DUMP_FRAME_LIMIT ||
           dumpRecord(calls->state, RECORD_DUMP_FRAMES_LEFT_OUT, (int)(count - THREAD_DUMP_FRAME_LIMIT));
}

static bool writeEntry(JNIEnv *env, const DumpCalls *calls, jobjectArray entries, jsize index, bool shutdown)
{
    jobject thread;
    jobjectArray frames;
    if (!readEntry(env, calls, entries, index, &thread, &frames))
        return false;
    bool written = writeThread(env, calls, thread, shutdown) && writeFrames(env, calls, frames, shutdown);
    deleteRef(env, thread);
    deleteRef(env, frames);
    return written;
}

static bool writeThreads(JNIEnv *env, const DumpCalls *calls, jobjectArray entries)
{
    jsize count = env->GetArrayLength(entries);
    jsize shutdownAt;
    if (!findShutdownThread(env, calls, entries, count, &shutdownAt) ||
        !dumpRecord(calls->state, RECORD_DUMP_BEGIN, THREAD_DUMP_AFTER_MS / 1000, (int)count))
        return false;

    // The thread in shutdown() first: it is the one the operator looks for.
    jsize written = 0;
    if (shutdownAt >= 0) {
        if (!writeEntry(env, calls, entries, shutdownAt, true))
            return false;
        written++;
    }
    for (jsize index = 0; index < count && written < THREAD_DUMP_THREAD_LIMIT; index++) {
        if (index == shutdownAt)
            continue;
        if (!writeEntry(env, calls, entries, index, false))
            return false;
        written++;
    }
    return count <= written || dumpRecord(calls->state, RECORD_DUMP_THREADS_LEFT_OUT, (int)(count - written));
}

bool dumpJavaThreads(JNIEnv *env, LaunchContext *launch)
{
    DumpCalls calls;
    calls.state = &launch->threadDumpState;
    calls.observer = &launch->observer;
    bool found = lookUpDumpCalls(env, &calls);
    jobjectArray entries = found ? takeStackTraces(env, &calls) : NULL;
    bool whole = entries != NULL && writeThreads(env, &calls, entries);
    deleteRef(env, entries);
    deleteRef(env, calls.threadClass);
    return whole ? finishDump(calls.state) : endDump(calls.state, env);
}

DWORD WINAPI threadDumpThread(LPVOID parameter)
{
    LaunchContext *launch = (LaunchContext *)parameter;
    JavaVM *vm = getJvmHandle(&launch->vm);
    JNIEnv *env = NULL;
    JavaVMAttachArgs arguments = {JNI_VERSION_1_6, (char *)DUMP_THREAD_NAME, NULL};
    if (vm == NULL || vm->AttachCurrentThread((void **)&env, &arguments) < 0)
        return endDump(&launch->threadDumpState, NULL);
    bool whole = dumpJavaThreads(env, launch);
    vm->DetachCurrentThread();
    return whole;
}
