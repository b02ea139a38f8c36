/*
 * Windows test host for the bridge: uses jvm.dll the way the service does
 * (LoadLibraryW by full path, JNI_CreateJavaVM on a thread of its own, the
 * variadic CallStaticVoidMethod and its V form, a second thread that
 * attaches) and prints one "ok" or "FAIL" line per check. Exit code 0 only
 * when all passed.
 *
 * usage: host.exe JVM_DLL MODE CLASS_PATH
 *   MODE full       main-thread refusal, main + attach/stop, argument passing,
 *                   exceptions
 *   MODE unbridged  calls a JNIEnv function outside the bridged set (the
 *                   process must end at once)
 *   MODE create     only creates the virtual machine on a thread and prints
 *                   "JNI_CreateJavaVM returned N"
 *   MODE relay      standard output a Windows pipe, read by a thread as the
 *                   service's pump reads it: what a called method printed is
 *                   there when the call returns
 * The class path gets a line feed appended, as the service's option has.
 */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <jni.h>

typedef jint(JNICALL *create_fn)(JavaVM **, void **, void *);

static create_fn create_vm;
static JavaVM *vm;
static char cp_option[8192];
static int failures;
static HANDLE created_event;
static HANDLE stop_done_event;
static const char *mode;

#define RELAY_LINES 30000
#define RELAY_LINE_BYTES 100 /* BridgeProbe.print's lines, the line feed included */
static HANDLE relay_pipe;
static CRITICAL_SECTION relay_lock;
static LONGLONG relay_seen; /* bytes read from the pipe, under the lock */

/* Reads what the pipe holds, under the lock: a count taken under the same
 * lock then misses nothing that is between the pipe and the count. */
static DWORD WINAPI relay_reader(void *unused)
{
    static char buffer[65536];
    (void)unused;
    for (;;) {
        DWORD available = 0, got = 0;
        EnterCriticalSection(&relay_lock);
        if (PeekNamedPipe(relay_pipe, NULL, 0, NULL, &available, NULL) && available > 0 &&
            ReadFile(relay_pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, NULL))
            relay_seen += got;
        LeaveCriticalSection(&relay_lock);
        if (got == 0)
            Sleep(1);
    }
}

static LONGLONG relay_delivered(void)
{
    DWORD available = 0;
    LONGLONG total;
    EnterCriticalSection(&relay_lock);
    PeekNamedPipe(relay_pipe, NULL, 0, NULL, &available, NULL);
    total = relay_seen + available;
    LeaveCriticalSection(&relay_lock);
    return total;
}

static void check(int cond, const char *what)
{
    printf("%s %s\n", cond ? "ok" : "FAIL", what);
    fflush(stdout);
    if (!cond)
        failures++;
}

static jint create(JNIEnv **env)
{
    JavaVMOption options[2];
    JavaVMInitArgs args;
    options[0].optionString = "-Djdk.nativeDigest=false";
    options[0].extraInfo = NULL;
    options[1].optionString = cp_option;
    options[1].extraInfo = NULL;
    args.version = JNI_VERSION_1_6;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    return create_vm(&vm, (void **)env, &args);
}

/* What the C++ JNIEnv_::CallStaticVoidMethod of jni.h does: the V form. */
static void call_static_v(JNIEnv *env, jclass cls, jmethodID mid, ...)
{
    va_list ap;
    va_start(ap, mid);
    (*env)->CallStaticVoidMethodV(env, cls, mid, ap);
    va_end(ap);
}

static DWORD WINAPI launcher(void *unused)
{
    JNIEnv *env = NULL;
    jclass cls, string_class;
    jmethodID main_id, check_id;
    jobjectArray arr;
    jint rc;
    (void)unused;

    rc = create(&env);
    if (!strcmp(mode, "create")) {
        printf("JNI_CreateJavaVM returned %d\n", (int)rc);
        fflush(stdout);
        return 1;
    }
    check(rc == JNI_OK && vm != NULL && env != NULL, "JNI_CreateJavaVM on a thread of its own");
    if (rc != JNI_OK)
        return 0;
    if (!strcmp(mode, "unbridged")) {
        printf("calling GetVersion\n");
        fflush(stdout);
        (*env)->GetVersion(env);
        check(0, "unbridged GetVersion returned");
        return 0;
    }
    cls = (*env)->FindClass(env, "BridgeProbe");
    check(cls != NULL, "FindClass BridgeProbe");
    if (!cls)
        return 0;
    if (!strcmp(mode, "relay")) {
        jmethodID print_id = (*env)->GetStaticMethodID(env, cls, "print", "(I)V");
        check(print_id != NULL, "GetStaticMethodID print");
        if (!print_id)
            return 0;
        (*env)->CallStaticVoidMethod(env, cls, print_id, (jint)RELAY_LINES);
        check(relay_delivered() == (LONGLONG)RELAY_LINES * RELAY_LINE_BYTES,
              "what print() wrote is in the pipe when the call returns");
        return 1;
    }
    main_id = (*env)->GetStaticMethodID(env, cls, "main", "([Ljava/lang/String;)V");
    check(main_id != NULL, "GetStaticMethodID main");
    if (!main_id)
        return 0;
    string_class = (*env)->FindClass(env, "java/lang/String");
    arr = (*env)->NewObjectArray(env, 1, string_class, NULL);
    (*env)->SetObjectArrayElement(env, arr, 0, (*env)->NewStringUTF(env, "hello\n"));
    SetEvent(created_event);
    (*env)->CallStaticVoidMethod(env, cls, main_id, arr);
    check((*env)->ExceptionOccurred(env) == NULL, "main returned without exception");
    check(WaitForSingleObject(stop_done_event, 0) == WAIT_OBJECT_0 ||
              WaitForSingleObject(stop_done_event, 30000) == WAIT_OBJECT_0,
          "main returned after stop() ran on the other thread");

    check_id = (*env)->GetStaticMethodID(env, cls, "check",
                                         "(ZBCSIJFDLjava/lang/String;[IZ)V");
    check(check_id != NULL, "GetStaticMethodID check");
    if (!check_id)
        return 0;
    (*env)->CallStaticVoidMethod(env, cls, check_id, JNI_TRUE, (jbyte)-7, (jchar)0x20ac,
                                 (jshort)-12345, (jint)-2000000000, (jlong)-9000000000000LL,
                                 (jfloat)1.5f, (jdouble)-2.25, (*env)->NewStringUTF(env, "text"),
                                 (jobject)NULL, JNI_TRUE);
    check((*env)->ExceptionOccurred(env) == NULL, "variadic arguments of every type arrive intact");
    call_static_v(env, cls, check_id, JNI_TRUE, (jbyte)-7, (jchar)0x20ac, (jshort)-12345,
                  (jint)-2000000000, (jlong)-9000000000000LL, (jfloat)1.5f, (jdouble)-2.25,
                  (*env)->NewStringUTF(env, "text"), (jobject)NULL, JNI_TRUE);
    check((*env)->ExceptionOccurred(env) == NULL, "va_list arguments of every type arrive intact");
    (*env)->CallStaticVoidMethod(env, cls, check_id, JNI_TRUE, (jbyte)-7, (jchar)0x20ac,
                                 (jshort)-12345, (jint)-2000000000, (jlong)-9000000000000LL,
                                 (jfloat)1.5f, (jdouble)-2.25, (*env)->NewStringUTF(env, "text"),
                                 (jobject)NULL, JNI_FALSE);
    check((*env)->ExceptionOccurred(env) != NULL, "a changed argument is noticed");
    return 1;
}

static DWORD WINAPI stopper(void *unused)
{
    JNIEnv *env = NULL;
    jclass cls;
    jmethodID stop_id, fail_id;
    jint rc;
    (void)unused;

    rc = (*vm)->AttachCurrentThread(vm, (void **)&env, NULL);
    check(rc == JNI_OK && env != NULL, "AttachCurrentThread");
    if (rc != JNI_OK)
        return 0;
    cls = (*env)->FindClass(env, "BridgeProbe");
    check(cls != NULL, "FindClass on the attached thread");
    if (!cls)
        return 0;
    stop_id = (*env)->GetStaticMethodID(env, cls, "stop", "()V");
    check(stop_id != NULL, "GetStaticMethodID stop");
    if (!stop_id)
        return 0;
    (*env)->CallStaticVoidMethod(env, cls, stop_id);
    check((*env)->ExceptionOccurred(env) == NULL, "stop() without exception");
    SetEvent(stop_done_event);
    /* The bridged set has no ExceptionClear: each check that leaves an
     * exception pending is the last on its attachment. */
    check((*env)->GetStaticMethodID(env, cls, "nosuch", "()V") == NULL,
          "GetStaticMethodID of a missing method gives null");
    check((*env)->ExceptionOccurred(env) != NULL, "missing method leaves an exception pending");
    rc = (*vm)->DetachCurrentThread(vm);
    check(rc == JNI_OK, "DetachCurrentThread");

    rc = (*vm)->AttachCurrentThread(vm, (void **)&env, NULL);
    check(rc == JNI_OK && env != NULL, "AttachCurrentThread again after detaching");
    if (rc != JNI_OK)
        return 0;
    cls = (*env)->FindClass(env, "BridgeProbe");
    fail_id = cls ? (*env)->GetStaticMethodID(env, cls, "fail", "()V") : NULL;
    check(fail_id != NULL, "GetStaticMethodID fail");
    if (!fail_id)
        return 0;
    (*env)->CallStaticVoidMethod(env, cls, fail_id);
    check((*env)->ExceptionOccurred(env) != NULL, "fail() leaves an exception pending");
    (*vm)->DetachCurrentThread(vm);

    rc = (*vm)->AttachCurrentThread(vm, (void **)&env, NULL);
    if (rc != JNI_OK)
        return 0;
    check((*env)->FindClass(env, "NoSuchProbe") == NULL, "FindClass of a missing class gives null");
    check((*env)->ExceptionOccurred(env) != NULL, "missing class leaves an exception pending");
    (*vm)->DetachCurrentThread(vm);
    return 1;
}

int main(int argc, char **argv)
{
    wchar_t dll[MAX_PATH];
    HMODULE mod;
    JNIEnv *env = NULL;
    HANDLE t1, t2;
    int n;

    if (argc != 4) {
        fprintf(stderr, "usage: host.exe JVM_DLL full|unbridged|create|relay CLASS_PATH\n");
        return 2;
    }
    mode = argv[2];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, dll, MAX_PATH)) {
        fprintf(stderr, "path too long\n");
        return 2;
    }
    n = snprintf(cp_option, sizeof(cp_option), "-Djava.class.path=%s\n", argv[3]);
    if (n < 0 || n >= (int)sizeof(cp_option)) {
        fprintf(stderr, "class path too long\n");
        return 2;
    }
    mod = LoadLibraryW(dll);
    check(mod != NULL, "LoadLibraryW by full path");
    if (!mod)
        return 1;
    create_vm = (create_fn)(void (*)(void))GetProcAddress(mod, "JNI_CreateJavaVM");
    check(create_vm != NULL, "GetProcAddress JNI_CreateJavaVM");
    if (!create_vm)
        return 1;

    if (!strcmp(mode, "full")) {
        jint rc = create(&env);
        check(rc < 0 && vm == NULL && env == NULL, "JNI_CreateJavaVM on the main thread is refused");
    }

    if (!strcmp(mode, "relay")) {
        HANDLE write_end;
        InitializeCriticalSection(&relay_lock);
        if (!CreatePipe(&relay_pipe, &write_end, NULL, 1024 * 1024) || !SetStdHandle(STD_OUTPUT_HANDLE, write_end) ||
            !CreateThread(NULL, 0, relay_reader, NULL, 0, NULL))
            return 1;
    }

    created_event = CreateEventW(NULL, TRUE, FALSE, NULL);
    stop_done_event = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!created_event || !stop_done_event)
        return 1;
    t1 = CreateThread(NULL, 0, launcher, NULL, 0, NULL);
    if (!t1)
        return 1;
    if (!strcmp(mode, "full")) {
        HANDLE both[2];
        both[0] = created_event;
        both[1] = t1;
        if (WaitForMultipleObjects(2, both, FALSE, 120000) == WAIT_OBJECT_0) {
            t2 = CreateThread(NULL, 0, stopper, NULL, 0, NULL);
            if (!t2)
                return 1;
            check(WaitForSingleObject(t2, 60000) == WAIT_OBJECT_0, "stop thread ended");
        }
    }
    check(WaitForSingleObject(t1, 120000) == WAIT_OBJECT_0, "launcher thread ended");
    printf("%s: %d failure(s)\n", failures ? "FAILED" : "PASSED", failures);
    fflush(stdout);
    /* The process ends with HotSpot's threads still running, as the
     * service does; the virtual machine is never destroyed. */
    ExitProcess(failures ? 1 : 0);
}
