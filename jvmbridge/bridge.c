/*
 * jvm.dll for Wine: the JNI invocation interface of a Windows program,
 * served by the Linux HotSpot (libjvm.so) loaded into the same process.
 *
 * Windows code calls every JNI function with the Microsoft x64 convention,
 * HotSpot expects the System V one. The bridge therefore hands out its own
 * JavaVM and JNIEnv tables of ms_abi functions that forward to HotSpot's.
 * Only the functions the service uses are forwarded; every other slot holds
 * a stub that names the slot on stderr and aborts, so a caller that strays
 * outside that set fails at once instead of jumping through a System V
 * pointer with Windows arguments.
 *
 * Settings come from jvmbridge.cfg beside the loaded module (a service gets
 * the environment of the service manager, not the test's), see README.md.
 *
 * GCC 12 miscompiles access to __thread variables inside ms_abi functions;
 * the bridge keeps no thread-local state of its own and maps HotSpot's
 * per-thread JNIEnv pointers to its own wrappers through a locked table.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <windef.h>
#include <winbase.h>
#include <winnls.h>

/* The Linux jni_md.h: JNICALL is empty, so HotSpot's tables are System V. */
#include <jni.h>

#include "jni_slots.h"

#define MSABI __attribute__((ms_abi))
#define SYSV __attribute__((sysv_abi, noinline))

_Static_assert(sizeof(struct JNINativeInterface_) == JNIENV_SLOT_COUNT * sizeof(void *),
               "JNIEnv slot list does not match jni.h");
_Static_assert(sizeof(struct JNIInvokeInterface_) == JAVAVM_SLOT_COUNT * sizeof(void *),
               "JavaVM slot list does not match jni.h");

#define DEFAULT_LIBJVM "/usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so"
#define CFG_NAME "jvmbridge.cfg"
#define UNIX_PATH_CAP 4096
#define WIDE_PATH_CAP 32768
#define CFG_LINE_CAP 4096
#define EXTRA_OPTION_CAP 16
#define ENV_CAP 256
#define ENV_VALUE_CAP 32767
#define METHOD_CAP 256
#define METHOD_NAME_CAP 256
#define METHOD_SIG_CAP 512
#define CALL_ARG_CAP 256
#define FATAL_EXIT_CODE 134

/* What the Windows side holds: the first member is the function table, as
 * JNI requires; the second is HotSpot's object behind it. */
struct bridge_env {
    const void *functions;
    JNIEnv *real;
};

struct bridge_vm {
    const void *functions;
    JavaVM *real;
};

struct method_entry {
    jmethodID id;
    char name[METHOD_NAME_CAP];
    char sig[METHOD_SIG_CAP];
};

static HMODULE bridge_module;
static pthread_mutex_t bridge_lock = PTHREAD_MUTEX_INITIALIZER;

static int cfg_loaded;
static int cfg_failed;
static char cfg_libjvm[UNIX_PATH_CAP] = DEFAULT_LIBJVM;
static char cfg_record[UNIX_PATH_CAP];
static char cfg_extra[EXTRA_OPTION_CAP][CFG_LINE_CAP];
static int cfg_extra_count;

static const void *env_table[JNIENV_SLOT_COUNT];
static const void *vm_table[JAVAVM_SLOT_COUNT];
static int tables_ready;

static struct bridge_vm the_vm;
static struct bridge_env envs[ENV_CAP];
static int env_count;
static struct method_entry methods[METHOD_CAP];
static int method_count;

/* ---------------------------------------------------------------- record */

/* Record lines escape the backslash, control bytes and bytes above 0x7e, so
 * each line stays one line and the bytes can be restored exactly. */
static SYSV size_t escape_into(char *out, size_t cap, const char *raw)
{
    static const char hex[] = "0123456789abcdef";
    size_t n = 0;
    const unsigned char *p = (const unsigned char *)raw;
    if (cap == 0)
        return 0;
    for (; *p; p++) {
        char tmp[4];
        size_t len;
        if (*p == '\\') { tmp[0] = '\\'; tmp[1] = '\\'; len = 2; }
        else if (*p == '\n') { tmp[0] = '\\'; tmp[1] = 'n'; len = 2; }
        else if (*p == '\r') { tmp[0] = '\\'; tmp[1] = 'r'; len = 2; }
        else if (*p == '\t') { tmp[0] = '\\'; tmp[1] = 't'; len = 2; }
        else if (*p < 0x20 || *p > 0x7e) {
            tmp[0] = '\\'; tmp[1] = 'x'; tmp[2] = hex[*p >> 4]; tmp[3] = hex[*p & 15]; len = 4;
        } else { tmp[0] = (char)*p; len = 1; }
        if (n + len >= cap)
            break;
        memcpy(out + n, tmp, len);
        n += len;
    }
    out[n] = 0;
    return n;
}

static SYSV void record_write(const char *line, size_t len)
{
    int fd;
    if (!cfg_record[0])
        return;
    fd = open(cfg_record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "jvmbridge: cannot open record file %s: %s\n", cfg_record, strerror(errno));
        return;
    }
    /* One write per line keeps lines of concurrent threads whole. */
    if (write(fd, line, len) != (ssize_t)len)
        fprintf(stderr, "jvmbridge: short write to record file %s\n", cfg_record);
    close(fd);
}

/* One record line: head, then each of raw1 and raw2 that is given, after
 * a blank and escaped, then (when given) a blank and tail as it is. */
static SYSV void record_fields(const char *head, const char *raw1, const char *raw2,
                               const char *tail)
{
    size_t cap, n;
    char *line;
    if (!cfg_record[0])
        return;
    cap = strlen(head) + (raw1 ? 4 * strlen(raw1) + 1 : 0) + (raw2 ? 4 * strlen(raw2) + 1 : 0)
          + (tail ? strlen(tail) + 1 : 0) + 2;
    line = malloc(cap);
    if (!line) {
        fprintf(stderr, "jvmbridge: out of memory for a record line\n");
        return;
    }
    n = strlen(head);
    memcpy(line, head, n);
    if (raw1) {
        line[n++] = ' ';
        n += escape_into(line + n, cap - n, raw1);
    }
    if (raw2) {
        line[n++] = ' ';
        n += escape_into(line + n, cap - n, raw2);
    }
    if (tail) {
        line[n++] = ' ';
        memcpy(line + n, tail, strlen(tail));
        n += strlen(tail);
    }
    line[n++] = '\n';
    record_write(line, n);
    free(line);
}

static SYSV void record3(const char *head, const char *raw, const char *tail)
{
    record_fields(head, raw, 0, tail);
}

static SYSV void recordf(const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    int n;
    va_start(ap, fmt);
    n = vsnprintf(line, sizeof(line) - 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if ((size_t)n > sizeof(line) - 2)
        n = (int)sizeof(line) - 2;
    line[n++] = '\n';
    record_write(line, (size_t)n);
}

static SYSV __attribute__((noreturn)) void fatal(const char *what, const char *detail)
{
    fprintf(stderr, "jvmbridge: FATAL: %s %s\n", what, detail);
    fflush(stderr);
    record3("FATAL", what, detail);
    /* abort() would start Wine's debugger and hang an unattended run. */
    TerminateProcess(GetCurrentProcess(), FATAL_EXIT_CODE);
    _exit(FATAL_EXIT_CODE);
}

static SYSV __attribute__((noreturn)) void unbridged(const char *table, const char *slot)
{
    char what[128];
    snprintf(what, sizeof(what), "%s.%s", table, slot);
    fatal(what, "is not bridged");
}

/* ---------------------------------------------------------------- config */

static SYSV int unix_path_of(const WCHAR *wpath, char *out, size_t cap)
{
    char *u = wine_get_unix_file_name(wpath);
    size_t len;
    if (!u)
        return 0;
    len = strlen(u);
    if (len >= cap) {
        HeapFree(GetProcessHeap(), 0, u);
        return 0;
    }
    memcpy(out, u, len + 1);
    HeapFree(GetProcessHeap(), 0, u);
    return 1;
}

static SYSV int set_path_value(char *dst, const char *value)
{
    WCHAR wide[WIDE_PATH_CAP];
    if (value[0] == '/') {
        if (strlen(value) >= UNIX_PATH_CAP)
            return 0;
        strcpy(dst, value);
        return 1;
    }
    /* A Windows path, as the stand-in DLLs take it. */
    if (!MultiByteToWideChar(CP_ACP, 0, value, -1, wide, WIDE_PATH_CAP))
        return 0;
    return unix_path_of(wide, dst, UNIX_PATH_CAP);
}

static SYSV int load_config(void)
{
    WCHAR wpath[WIDE_PATH_CAP];
    char upath[UNIX_PATH_CAP];
    char line[CFG_LINE_CAP];
    DWORD len;
    WCHAR *slash;
    FILE *f;
    int lineno = 0, i;

    if (cfg_loaded)
        return !cfg_failed;
    cfg_loaded = 1;
    len = GetModuleFileNameW(bridge_module, wpath, WIDE_PATH_CAP);
    if (len == 0 || len >= WIDE_PATH_CAP - 32) {
        fprintf(stderr, "jvmbridge: cannot find the path of the bridge module\n");
        cfg_failed = 1;
        return 0;
    }
    /* WCHAR is 16 bits here, the C library's wide routines are not. */
    slash = wpath;
    for (i = 0; i < (int)len; i++)
        if (wpath[i] == '\\')
            slash = wpath + i + 1;
    for (i = 0; i < (int)sizeof(CFG_NAME); i++)
        slash[i] = (WCHAR)CFG_NAME[i];
    if (!unix_path_of(wpath, upath, sizeof(upath)))
        return 1;
    f = fopen(upath, "r");
    if (!f)
        return 1;  /* no settings: the defaults */
    while (fgets(line, sizeof(line), f)) {
        size_t n = strlen(line);
        char *eq, *key, *value;
        lineno++;
        if (n == sizeof(line) - 1 && line[n - 1] != '\n') {
            fprintf(stderr, "jvmbridge: %s line %d is too long\n", upath, lineno);
            cfg_failed = 1;
            break;
        }
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = 0;
        if (n == 0 || line[0] == '#')
            continue;
        eq = strchr(line, '=');
        if (!eq) {
            fprintf(stderr, "jvmbridge: %s line %d: expected key=value\n", upath, lineno);
            cfg_failed = 1;
            break;
        }
        *eq = 0;
        key = line;
        value = eq + 1;
        if (!strcmp(key, "libjvm")) {
            if (!set_path_value(cfg_libjvm, value)) {
                fprintf(stderr, "jvmbridge: %s line %d: bad libjvm path\n", upath, lineno);
                cfg_failed = 1;
                break;
            }
        } else if (!strcmp(key, "record")) {
            if (!set_path_value(cfg_record, value)) {
                fprintf(stderr, "jvmbridge: %s line %d: bad record path\n", upath, lineno);
                cfg_failed = 1;
                break;
            }
        } else if (!strcmp(key, "hotspot-option")) {
            if (cfg_extra_count == EXTRA_OPTION_CAP) {
                fprintf(stderr, "jvmbridge: %s line %d: too many hotspot-option lines\n", upath, lineno);
                cfg_failed = 1;
                break;
            }
            strcpy(cfg_extra[cfg_extra_count++], value);  /* shorter than the line */
        } else {
            fprintf(stderr, "jvmbridge: %s line %d: unknown key '%s'\n", upath, lineno, key);
            cfg_failed = 1;
            break;
        }
    }
    fclose(f);
    return !cfg_failed;
}

/* ------------------------------------------------------------ class path */

/* One Windows class path element as a Linux path without ':' (which would
 * split it), or 0 when it names nothing that can be reached. */
static SYSV int map_element(const char *elem, size_t len, char *out, size_t cap)
{
    WCHAR wide[WIDE_PATH_CAP];
    char dos[UNIX_PATH_CAP];
    char resolved[PATH_MAX];
    int wlen;
    char *slash;

    if (len == 0 || len >= WIDE_PATH_CAP)
        return 0;
    wlen = MultiByteToWideChar(CP_ACP, 0, elem, (int)len, wide, WIDE_PATH_CAP - 1);
    if (wlen <= 0)
        return 0;
    wide[wlen] = 0;
    if (!unix_path_of(wide, dos, sizeof(dos)))
        return 0;
    if (!realpath(dos, resolved)) {
        /* A file that does not exist yet: resolve its directory. */
        char dir[PATH_MAX];
        slash = strrchr(dos, '/');
        if (!slash || slash == dos)
            return 0;
        *slash = 0;
        if (!realpath(dos, dir))
            return 0;
        if (snprintf(resolved, sizeof(resolved), "%s/%s", dir, slash + 1) >= (int)sizeof(resolved))
            return 0;
    }
    if (strchr(resolved, ':') || strlen(resolved) >= cap)
        return 0;
    strcpy(out, resolved);
    return 1;
}

/* "-Djava.class.path=" + Windows elements joined by ';' becomes the same
 * option with Linux paths joined by ':'. Empty elements stay empty (the
 * working directory, as on Windows); elements that cannot be mapped are
 * dropped and recorded. Returns a heap string or 0. */
static SYSV char *map_class_path_option(const char *option)
{
    static const char prefix[] = "-Djava.class.path=";
    const char *cp = option + sizeof(prefix) - 1;
    size_t elements = 1, cap, n;
    const char *p, *start;
    char *out;
    char mapped[PATH_MAX];

    for (p = cp; *p; p++)
        if (*p == ';')
            elements++;
    cap = sizeof(prefix) + elements * (PATH_MAX + 1) + 1;
    out = malloc(cap);
    if (!out)
        return 0;
    memcpy(out, prefix, sizeof(prefix));
    n = sizeof(prefix) - 1;
    start = cp;
    for (;;) {
        const char *end = strchr(start, ';');
        size_t len = end ? (size_t)(end - start) : strlen(start);
        int first = (start == cp);
        if (len == 0) {
            if (!first)
                out[n++] = ':';
        } else if (map_element(start, len, mapped, sizeof(mapped))) {
            if (!first)
                out[n++] = ':';
            memcpy(out + n, mapped, strlen(mapped));
            n += strlen(mapped);
        } else {
            char *copy = malloc(len + 1);
            if (copy) {
                memcpy(copy, start, len);
                copy[len] = 0;
                record3("classpath-dropped", copy, 0);
                free(copy);
            }
        }
        if (!end)
            break;
        start = end + 1;
    }
    out[n] = 0;
    return out;
}

/* ----------------------------------------------------- wrappers' bookkeeping */

static SYSV struct bridge_env *wrap_env(JNIEnv *real)
{
    struct bridge_env *found = 0;
    int i;
    pthread_mutex_lock(&bridge_lock);
    for (i = 0; i < env_count; i++)
        if (envs[i].real == real) {
            found = &envs[i];
            break;
        }
    if (!found && env_count < ENV_CAP) {
        found = &envs[env_count++];
        found->functions = env_table;
        found->real = real;
    }
    pthread_mutex_unlock(&bridge_lock);
    if (!found)
        fatal("too many threads attached at once", "(table of JNIEnv wrappers is full)");
    return found;
}

static SYSV void remember_method(jmethodID id, const char *name, const char *sig)
{
    int i, slot = -1;
    if (strlen(name) >= METHOD_NAME_CAP || strlen(sig) >= METHOD_SIG_CAP)
        fatal("method name or signature too long:", name);
    pthread_mutex_lock(&bridge_lock);
    for (i = 0; i < method_count; i++)
        if (methods[i].id == id) {
            slot = i;
            break;
        }
    if (slot < 0 && method_count < METHOD_CAP)
        slot = method_count++;
    if (slot >= 0) {
        methods[slot].id = id;
        strcpy(methods[slot].name, name);
        strcpy(methods[slot].sig, sig);
    }
    pthread_mutex_unlock(&bridge_lock);
    if (slot < 0)
        fatal("too many methods looked up", "(method table is full)");
}

static SYSV int lookup_method(jmethodID id, struct method_entry *copy)
{
    int i, found = 0;
    pthread_mutex_lock(&bridge_lock);
    for (i = 0; i < method_count; i++)
        if (methods[i].id == id) {
            *copy = methods[i];
            found = 1;
            break;
        }
    pthread_mutex_unlock(&bridge_lock);
    return found;
}

/* The main thread of a Wine process is the process's initial Linux thread;
 * HotSpot does not survive being created there. */
static SYSV int on_initial_thread(void)
{
    return syscall(SYS_gettid) == getpid();
}

/* ------------------------------------------------------- JNIEnv forwarders */

static jclass MSABI w_FindClass(struct bridge_env *env, const char *name)
{
    JNIEnv *r = env->real;
    jclass c = (*r)->FindClass(r, name);
    record3("FindClass", name, c ? "found" : "null");
    return c;
}

/* A method found is remembered: its signature tells how to read the Windows
 * arguments of a later call. */
static SYSV jmethodID method_looked_up(const char *form, jmethodID m, const char *name, const char *sig)
{
    if (m)
        remember_method(m, name, sig);
    record_fields(form, name, sig, m ? "found" : "null");
    return m;
}

static jmethodID MSABI w_GetStaticMethodID(struct bridge_env *env, jclass cls, const char *name,
                                           const char *sig)
{
    JNIEnv *r = env->real;
    return method_looked_up("GetStaticMethodID", (*r)->GetStaticMethodID(r, cls, name, sig), name, sig);
}

static jobjectArray MSABI w_NewObjectArray(struct bridge_env *env, jsize len, jclass cls,
                                           jobject init)
{
    JNIEnv *r = env->real;
    jobjectArray a = (*r)->NewObjectArray(r, len, cls, init);
    recordf("NewObjectArray %d %s", (int)len, a ? "ok" : "null");
    return a;
}

static jstring MSABI w_NewStringUTF(struct bridge_env *env, const char *utf)
{
    JNIEnv *r = env->real;
    jstring s;
    record3("NewStringUTF", utf ? utf : "", 0);
    s = (*r)->NewStringUTF(r, utf);
    return s;
}

static void MSABI w_SetObjectArrayElement(struct bridge_env *env, jobjectArray a, jsize i, jobject v)
{
    JNIEnv *r = env->real;
    (*r)->SetObjectArrayElement(r, a, i, v);
    recordf("SetObjectArrayElement %d", (int)i);
}

static jthrowable MSABI w_ExceptionOccurred(struct bridge_env *env)
{
    JNIEnv *r = env->real;
    jthrowable t = (*r)->ExceptionOccurred(r);
    recordf("ExceptionOccurred %s", t ? "pending" : "none");
    return t;
}

static void MSABI w_ExceptionClear(struct bridge_env *env)
{
    JNIEnv *r = env->real;
    (*r)->ExceptionClear(r);
    recordf("ExceptionClear");
}

static void MSABI w_DeleteLocalRef(struct bridge_env *env, jobject obj)
{
    JNIEnv *r = env->real;
    (*r)->DeleteLocalRef(r, obj);
    recordf("DeleteLocalRef");
}

static jclass MSABI w_GetObjectClass(struct bridge_env *env, jobject obj)
{
    JNIEnv *r = env->real;
    jclass c = (*r)->GetObjectClass(r, obj);
    recordf("GetObjectClass %s", c ? "ok" : "null");
    return c;
}

static jmethodID MSABI w_GetMethodID(struct bridge_env *env, jclass cls, const char *name,
                                     const char *sig)
{
    JNIEnv *r = env->real;
    return method_looked_up("GetMethodID", (*r)->GetMethodID(r, cls, name, sig), name, sig);
}

static const char *MSABI w_GetStringUTFChars(struct bridge_env *env, jstring str, jboolean *is_copy)
{
    JNIEnv *r = env->real;
    const char *utf = (*r)->GetStringUTFChars(r, str, is_copy);
    if (utf)
        record3("GetStringUTFChars", utf, 0);
    else
        recordf("GetStringUTFChars null");
    return utf;
}

static void MSABI w_ReleaseStringUTFChars(struct bridge_env *env, jstring str, const char *utf)
{
    JNIEnv *r = env->real;
    (*r)->ReleaseStringUTFChars(r, str, utf);
    recordf("ReleaseStringUTFChars");
}

/* The Windows variable arguments are read by the method's signature, as
 * remembered from GetStaticMethodID or GetMethodID, into the jvalue array of
 * the A form. Both the variadic form and the V form (which the C++ JNIEnv_
 * methods of jni.h use for the variadic one) arrive here; reading a Microsoft
 * va_list needs an ms_abi function. */
static void MSABI read_call_args(jmethodID mid, struct method_entry *m, jvalue *args,
                                 __ms_va_list ap)
{
    const char *p;
    int n = 0;

    if (!lookup_method(mid, m))
        fatal("Call<Type>Method:", "method ID not obtained through GetStaticMethodID or GetMethodID");
    p = m->sig;
    if (*p++ != '(')
        fatal("Call<Type>Method: malformed signature", m->sig);
    while (*p && *p != ')') {
        if (n == CALL_ARG_CAP)
            fatal("Call<Type>Method: too many arguments in", m->sig);
        switch (*p) {
        case 'Z': args[n].z = (jboolean)__builtin_va_arg(ap, int); p++; break;
        case 'B': args[n].b = (jbyte)__builtin_va_arg(ap, int); p++; break;
        case 'C': args[n].c = (jchar)__builtin_va_arg(ap, int); p++; break;
        case 'S': args[n].s = (jshort)__builtin_va_arg(ap, int); p++; break;
        case 'I': args[n].i = (jint)__builtin_va_arg(ap, int); p++; break;
        case 'J': args[n].j = (jlong)__builtin_va_arg(ap, long long); p++; break;
        case 'F': args[n].f = (jfloat)__builtin_va_arg(ap, double); p++; break;
        case 'D': args[n].d = (jdouble)__builtin_va_arg(ap, double); p++; break;
        case 'L':
            args[n].l = __builtin_va_arg(ap, jobject);
            while (*p && *p != ';')
                p++;
            if (*p)
                p++;
            break;
        case '[':
            args[n].l = __builtin_va_arg(ap, jobject);
            while (*p == '[')
                p++;
            if (*p == 'L') {
                while (*p && *p != ';')
                    p++;
            }
            if (*p)
                p++;
            break;
        default:
            fatal("Call<Type>Method: malformed signature", m->sig);
        }
        n++;
    }
}

static SYSV void relay_flush(void);

/* What the method printed is in the standard handles when the call returns,
 * as on Windows, where HotSpot writes them itself: the service's stop counts
 * on it for what shutdown() printed. */
static SYSV void call_static_void(JNIEnv *r, jclass cls, jmethodID mid, const struct method_entry *m,
                                  const jvalue *args, const char *form)
{
    record3(form, m->name, "call");
    (*r)->CallStaticVoidMethodA(r, cls, mid, args);
    relay_flush();
    record3(form, m->name, "returned");
}

static void MSABI w_CallStaticVoidMethod(struct bridge_env *env, jclass cls, jmethodID mid, ...)
{
    struct method_entry m;
    jvalue args[CALL_ARG_CAP];
    __ms_va_list ap;

    __ms_va_start(ap, mid);
    read_call_args(mid, &m, args, ap);
    __ms_va_end(ap);
    call_static_void(env->real, cls, mid, &m, args, "CallStaticVoidMethod");
}

static void MSABI w_CallStaticVoidMethodV(struct bridge_env *env, jclass cls, jmethodID mid,
                                          __ms_va_list ap)
{
    struct method_entry m;
    jvalue args[CALL_ARG_CAP];

    read_call_args(mid, &m, args, ap);
    call_static_void(env->real, cls, mid, &m, args, "CallStaticVoidMethodV");
}

static SYSV jobject call_object(JNIEnv *r, jobject obj, jmethodID mid, const struct method_entry *m,
                                const jvalue *args, const char *form)
{
    jobject result;
    record3(form, m->name, "call");
    result = (*r)->CallObjectMethodA(r, obj, mid, args);
    record3(form, m->name, "returned");
    return result;
}

/* Only the V form: jni.h's C++ CallObjectMethod, which the service uses, goes
 * through it. */
static jobject MSABI w_CallObjectMethodV(struct bridge_env *env, jobject obj, jmethodID mid,
                                         __ms_va_list ap)
{
    struct method_entry m;
    jvalue args[CALL_ARG_CAP];

    read_call_args(mid, &m, args, ap);
    return call_object(env->real, obj, mid, &m, args, "CallObjectMethodV");
}

static jobject MSABI w_CallStaticObjectMethodV(struct bridge_env *env, jclass cls, jmethodID mid,
                                               __ms_va_list ap)
{
    JNIEnv *r = env->real;
    struct method_entry m;
    jvalue args[CALL_ARG_CAP];
    jobject result;

    read_call_args(mid, &m, args, ap);
    record3("CallStaticObjectMethodV", m.name, "call");
    result = (*r)->CallStaticObjectMethodA(r, cls, mid, args);
    record3("CallStaticObjectMethodV", m.name, "returned");
    return result;
}

static jsize MSABI w_GetArrayLength(struct bridge_env *env, jarray array)
{
    JNIEnv *r = env->real;
    jsize length = (*r)->GetArrayLength(r, array);
    recordf("GetArrayLength %d", (int)length);
    return length;
}

static jobject MSABI w_GetObjectArrayElement(struct bridge_env *env, jobjectArray array, jsize index)
{
    JNIEnv *r = env->real;
    jobject element = (*r)->GetObjectArrayElement(r, array, index);
    recordf("GetObjectArrayElement %d %s", (int)index, element ? "ok" : "null");
    return element;
}

/* ------------------------------------------------------- JavaVM forwarders */

static jint MSABI w_AttachCurrentThread(struct bridge_vm *vm, void **penv, void *args)
{
    JNIEnv *real = 0;
    jint rc = (*vm->real)->AttachCurrentThread(vm->real, (void **)&real, args);
    if (rc == JNI_OK && real)
        *penv = wrap_env(real);
    else
        *penv = 0;
    recordf("AttachCurrentThread %d", (int)rc);
    return rc;
}

static jint MSABI w_DetachCurrentThread(struct bridge_vm *vm)
{
    jint rc = (*vm->real)->DetachCurrentThread(vm->real);
    recordf("DetachCurrentThread %d", (int)rc);
    return rc;
}

/* ------------------------------------------------------- unbridged slots */

#define ENV_STUB(n, name) \
    static void MSABI env_stub_##name(void) { unbridged("JNIEnv", #name); }
#define VM_STUB(n, name) \
    static void MSABI vm_stub_##name(void) { unbridged("JavaVM", #name); }
JNIENV_SLOTS(ENV_STUB)
JAVAVM_SLOTS(VM_STUB)

#define ENV_FILL(n, name) env_table[n] = (const void *)env_stub_##name;
#define VM_FILL(n, name) vm_table[n] = (const void *)vm_stub_##name;
#define ENV_SLOT(member) (offsetof(struct JNINativeInterface_, member) / sizeof(void *))
#define VM_SLOT(member) (offsetof(struct JNIInvokeInterface_, member) / sizeof(void *))

static SYSV void build_tables(void)
{
    if (tables_ready)
        return;
    JNIENV_SLOTS(ENV_FILL)
    JAVAVM_SLOTS(VM_FILL)
    env_table[ENV_SLOT(FindClass)] = (const void *)w_FindClass;
    env_table[ENV_SLOT(GetStaticMethodID)] = (const void *)w_GetStaticMethodID;
    env_table[ENV_SLOT(NewObjectArray)] = (const void *)w_NewObjectArray;
    env_table[ENV_SLOT(NewStringUTF)] = (const void *)w_NewStringUTF;
    env_table[ENV_SLOT(SetObjectArrayElement)] = (const void *)w_SetObjectArrayElement;
    env_table[ENV_SLOT(ExceptionOccurred)] = (const void *)w_ExceptionOccurred;
    env_table[ENV_SLOT(CallStaticVoidMethod)] = (const void *)w_CallStaticVoidMethod;
    env_table[ENV_SLOT(CallStaticVoidMethodV)] = (const void *)w_CallStaticVoidMethodV;
    env_table[ENV_SLOT(ExceptionClear)] = (const void *)w_ExceptionClear;
    env_table[ENV_SLOT(DeleteLocalRef)] = (const void *)w_DeleteLocalRef;
    env_table[ENV_SLOT(GetObjectClass)] = (const void *)w_GetObjectClass;
    env_table[ENV_SLOT(GetMethodID)] = (const void *)w_GetMethodID;
    env_table[ENV_SLOT(CallObjectMethodV)] = (const void *)w_CallObjectMethodV;
    env_table[ENV_SLOT(CallStaticObjectMethodV)] = (const void *)w_CallStaticObjectMethodV;
    env_table[ENV_SLOT(GetArrayLength)] = (const void *)w_GetArrayLength;
    env_table[ENV_SLOT(GetObjectArrayElement)] = (const void *)w_GetObjectArrayElement;
    env_table[ENV_SLOT(GetStringUTFChars)] = (const void *)w_GetStringUTFChars;
    env_table[ENV_SLOT(ReleaseStringUTFChars)] = (const void *)w_ReleaseStringUTFChars;
    vm_table[VM_SLOT(AttachCurrentThread)] = (const void *)w_AttachCurrentThread;
    vm_table[VM_SLOT(DetachCurrentThread)] = (const void *)w_DetachCurrentThread;
    tables_ready = 1;
}

/* ------------------------------------------------ standard output, error */

/* Wine's server interface (wine/server.h, not installed here); returns an NTSTATUS. */
LONG CDECL wine_server_handle_to_fd(HANDLE handle, unsigned int access, int *unix_fd,
                                    unsigned int *options);

/* HotSpot and the Java class library write to Unix descriptors 1 and 2, which
 * a Wine process has from whatever started its session. On Windows they would
 * write to the process's standard handles; so where a standard handle is a
 * disk file, its Unix descriptor is put onto 1 or 2 before HotSpot starts.
 * O_APPEND: Wine writes through an append-only handle at the end of the file
 * each time, and the descriptor must do the same (the file's offset is shared,
 * and starts at 0 in a new process). Other kinds of handle are left alone. */
/* A pipe (the service's output pump) has no Unix descriptor under Wine 8: a
 * Unix pipe onto the descriptor, and a Windows thread of the bridge copies
 * what comes out of it into the handle. The "exit" hook copies what is left
 * before the service's own hook drains its pipe. */
#define RELAY_CAP (256 * 1024)
#define RELAY_PIPE_BYTES (1024 * 1024)
static int relay_read[3] = {-1, -1, -1};
static HANDLE relay_handle[3];
/* A mutex, not a critical section: the flush waits for it with a bound, and
 * the server hands it to the waiting flush before the relay thread's next
 * piece. */
static HANDLE relay_lock;

/* One piece of at most `limit` bytes from descriptor `target`'s Unix pipe
 * (not blocking) into its handle: the bytes copied, 0 when the pipe is empty
 * or closed. */
static SYSV size_t relay_once(int target, size_t limit)
{
    static char buffer[RELAY_CAP];
    ssize_t got;
    DWORD written;
    got = read(relay_read[target], buffer, limit < sizeof buffer ? limit : sizeof buffer);
    if (got <= 0)
        return 0;
    WriteFile(relay_handle[target], buffer, (DWORD)got, &written, NULL);
    return (size_t)got;
}

static DWORD WINAPI relay_thread(void *parameter)
{
    int target = (int)(intptr_t)parameter;
    /* Waits outside the lock for data, then copies it under the lock: the
     * exit hook's flush takes the same lock, so no piece is read but not
     * yet written when it returns. */
    for (;;) {
        struct pollfd one = {relay_read[target], POLLIN, 0};
        if (poll(&one, 1, -1) < 0 && errno != EINTR)
            return 0;
        if (one.revents & (POLLERR | POLLNVAL))
            return 0;
        WaitForSingleObject(relay_lock, INFINITE);
        relay_once(target, RELAY_CAP);
        ReleaseMutex(relay_lock);
    }
}

/* Copies what the pipes hold now, not what comes in meanwhile: a Java
 * thread that keeps printing would otherwise keep the copy going for ever.
 * The relay thread holds the lock across its write into the handle, which
 * waits while the pipe's reader does (the service's pump, in a file open
 * that blocks): the flush gives up after RELAY_FLUSH_WAIT_MS instead of
 * holding up the stop or System.exit behind it. */
#define RELAY_FLUSH_WAIT_MS 2000
static SYSV void relay_flush(void)
{
    int target, queued;
    size_t got;
    if (!relay_lock)
        return;
    if (WaitForSingleObject(relay_lock, RELAY_FLUSH_WAIT_MS) != WAIT_OBJECT_0) {
        recordf("relay-flush gave up");
        return;
    }
    for (target = 1; target <= 2; target++) {
        if (relay_read[target] < 0 || ioctl(relay_read[target], FIONREAD, &queued) == -1)
            continue;
        for (; queued > 0; queued -= (int)got)
            if ((got = relay_once(target, (size_t)queued)) == 0)
                break;
    }
    ReleaseMutex(relay_lock);
}

static SYSV void follow_pipe(HANDLE handle, int target)
{
    int ends[2];
    HANDLE thread;
    if (!relay_lock && !(relay_lock = CreateMutexW(NULL, FALSE, NULL))) {
        fprintf(stderr, "jvmbridge: cannot relay descriptor %d: no lock\n", target);
        return;
    }
    /* Both descriptors into the one pipe when both handles are one: each
     * write of up to PIPE_BUF bytes stays whole, as a line written through
     * the handle would, instead of two copies cutting across each other. */
    if (target == 2 && relay_read[1] >= 0 && relay_handle[1] == handle) {
        if (dup2(1, 2) == -1)
            fprintf(stderr, "jvmbridge: cannot relay descriptor 2 to its pipe: %s\n", strerror(errno));
        return;
    }
    if (pipe(ends) == -1 || dup2(ends[1], target) == -1) {
        fprintf(stderr, "jvmbridge: cannot relay descriptor %d to its pipe: %s\n", target, strerror(errno));
        return;
    }
    close(ends[1]);
    /* Room for what HotSpot writes while the thread's copy of the last
     * piece waits on Wine's server (a Windows pipe write is a few requests
     * there); a pipe of the default size would hold the writer up. Refused,
     * the pipe keeps its default size: slower, nothing else. */
    fcntl(ends[0], F_SETPIPE_SZ, RELAY_PIPE_BYTES);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    relay_read[target] = ends[0];
    relay_handle[target] = handle;
    thread = CreateThread(NULL, 0, relay_thread, (void *)(intptr_t)target, 0, NULL);
    if (thread)
        CloseHandle(thread);
}

static SYSV void follow_standard_handle(DWORD which, int target)
{
    HANDLE handle = GetStdHandle(which);
    int fd, flags;
    DWORD type = handle == NULL || handle == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(handle);
    if (type == FILE_TYPE_PIPE) {
        follow_pipe(handle, target);
        return;
    }
    if (type != FILE_TYPE_DISK)
        return;
    if (wine_server_handle_to_fd(handle, FILE_APPEND_DATA, &fd, NULL)) {
        fprintf(stderr, "jvmbridge: no Unix descriptor for the standard handle of %d\n", target);
        return;
    }
    flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags | O_APPEND) == -1 || dup2(fd, target) == -1)
        fprintf(stderr, "jvmbridge: cannot put a standard handle onto descriptor %d: %s\n", target,
                strerror(errno));
    close(fd);
}

static SYSV void follow_standard_handles(void)
{
    follow_standard_handle(STD_OUTPUT_HANDLE, 1);
    follow_standard_handle(STD_ERROR_HANDLE, 2);
}

/* ------------------------------------------------------------ hook options */

/* The caller's "exit" and "vfprintf" hooks are Windows functions, and HotSpot
 * calls them on threads of its own, which Wine does not know: no Windows
 * function may run there. So the exit hook runs on a thread of the bridge
 * made by CreateThread, woken through a Unix pipe, while HotSpot's thread
 * waits (at most EXIT_HOOK_WAIT_MS) for its answer. The vfprintf hook's text
 * goes to descriptor 2 instead, which leads where the caller's standard error
 * handle does (above), in order with the rest. The option strings pass
 * unchanged. */
#define EXIT_HOOK_WAIT_MS 10000
typedef void(MSABI *ms_exit_fn)(jint);
static ms_exit_fn caller_exit;
static int exit_request[2] = {-1, -1}, exit_done[2] = {-1, -1};

static DWORD WINAPI exit_hook_thread(void *unused)
{
    jint code;
    char done = 1;
    (void)unused;
    if (read(exit_request[0], &code, sizeof code) != (ssize_t)sizeof code)
        return 0;
    relay_flush();
    caller_exit(code);
    recordf("exit-hook returned");
    /* HotSpot's own ending of the process, which follows the hook, hangs
     * under Wine: the process ends here, with the code, as it would on
     * Windows (TerminateProcess, too, hangs at that point). */
    _exit(code);
    if (write(exit_done[1], &done, 1) != 1)
        return 0;
    return 0;
}

static SYSV void exit_hook(jint code)
{
    struct pollfd answer = {exit_done[0], POLLIN, 0};
    recordf("exit-hook %d", (int)code);
    if (write(exit_request[1], &code, sizeof code) == (ssize_t)sizeof code)
        poll(&answer, 1, EXIT_HOOK_WAIT_MS);
}

static SYSV void *exit_hook_for(void *caller)
{
    HANDLE thread;
    if (pipe(exit_request) == -1 || pipe(exit_done) == -1)
        return NULL;
    caller_exit = (ms_exit_fn)caller;
    thread = CreateThread(NULL, 0, exit_hook_thread, NULL, 0, NULL);
    if (!thread)
        return NULL;
    CloseHandle(thread);
    return (void *)exit_hook;
}

static SYSV jint vfprintf_hook(FILE *stream, const char *format, va_list args)
{
    char text[4096];
    int length;
    (void)stream;
    length = vsnprintf(text, sizeof text, format, args);
    if (length < 0)
        return -1;
    if (length >= (int)sizeof text)
        length = (int)sizeof text - 1;
    return (jint)write(2, text, (size_t)length);
}

static SYSV void *hook_for(const JavaVMOption *option)
{
    const char *s = option->optionString;
    if (s && !strcmp(s, "exit") && option->extraInfo)
        return exit_hook_for(option->extraInfo);
    if (s && !strcmp(s, "vfprintf") && option->extraInfo)
        return (void *)vfprintf_hook;
    return option->extraInfo;
}

/* ----------------------------------------------------------- environment */

/* HotSpot on Windows reads these from the process environment inside
 * JNI_CreateJavaVM; the Linux HotSpot reads the Linux environment, which
 * under Wine is not the Windows one (a service gets the SCM's environment,
 * built from the registry). So the Windows values are copied over, and a
 * variable the Windows environment lacks is removed, before the VM starts. */
static const char *const forwarded_variables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

static SYSV void forward_windows_variable(const char *name)
{
    /* Not on the caller's stack, which is the service's launcher thread's. */
    static WCHAR value[ENV_VALUE_CAP];
    static char utf8[3 * ENV_VALUE_CAP];
    WCHAR wname[64];
    DWORD len;
    int i;

    for (i = 0; name[i] && i < 63; i++)
        wname[i] = (WCHAR)name[i];
    wname[i] = 0;
    len = GetEnvironmentVariableW(wname, value, ENV_VALUE_CAP);
    if (len == 0) {
        unsetenv(name);
        record3("environment-unset", name, 0);
        return;
    }
    if (len >= ENV_VALUE_CAP)
        fatal("environment variable too long:", name);
    if (!WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof(utf8), NULL, NULL))
        fatal("environment variable not convertible:", name);
    setenv(name, utf8, 1);
    record_fields("environment-set", name, utf8, 0);
}

/* ---------------------------------------------------------- entry points */

typedef jint (*create_fn)(JavaVM **, void **, void *);

static SYSV jint create_vm(JavaVM **pvm, void **penv, JavaVMInitArgs *args)
{
    static const char cp_prefix[] = "-Djava.class.path=";
    JavaVMInitArgs hs;
    JavaVMOption *opts;
    JavaVM *real_vm = 0;
    JNIEnv *real_env = 0;
    void *lib;
    create_fn create;
    int i, n = 0;
    jint rc;

    *pvm = 0;
    *penv = 0;
    if (!load_config()) {
        fprintf(stderr, "jvmbridge: JNI_CreateJavaVM fails: jvmbridge.cfg is not valid\n");
        return JNI_ERR;
    }
    if (!args) {
        recordf("JNI_CreateJavaVM args=null");
        recordf("JNI_CreateJavaVM result %d", JNI_EINVAL);
        return JNI_EINVAL;
    }
    recordf("JNI_CreateJavaVM version=0x%08x nOptions=%d ignoreUnrecognized=%d",
            (unsigned)args->version, (int)args->nOptions, (int)args->ignoreUnrecognized);
    for (i = 0; i < args->nOptions; i++)
        record3("option", args->options[i].optionString ? args->options[i].optionString : "", 0);

    if (on_initial_thread()) {
        fprintf(stderr, "jvmbridge: refusing to create HotSpot on the process's main thread\n");
        recordf("JNI_CreateJavaVM refused main-thread");
        recordf("JNI_CreateJavaVM result %d", JNI_ERR);
        return JNI_ERR;
    }

    build_tables();
    follow_standard_handles();

    opts = calloc((size_t)(args->nOptions > 0 ? args->nOptions : 0) + EXTRA_OPTION_CAP,
                  sizeof(JavaVMOption));
    if (!opts)
        return JNI_ENOMEM;
    for (i = 0; i < args->nOptions; i++) {
        const char *s = args->options[i].optionString;
        opts[n] = args->options[i];
        opts[n].extraInfo = hook_for(&args->options[i]);
        if (s && !strncmp(s, cp_prefix, sizeof(cp_prefix) - 1)) {
            char *mapped = map_class_path_option(s);
            if (!mapped) {
                free(opts);
                return JNI_ENOMEM;
            }
            opts[n].optionString = mapped;  /* kept for the life of the process */
        }
        n++;
    }
    for (i = 0; i < cfg_extra_count; i++)
        opts[n++].optionString = cfg_extra[i];
    for (i = 0; i < n; i++)
        record3("hotspot-option", opts[i].optionString ? opts[i].optionString : "", 0);

    lib = dlopen(cfg_libjvm, RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        const char *err = dlerror();
        fprintf(stderr, "jvmbridge: cannot load %s: %s\n", cfg_libjvm, err ? err : "?");
        record3("JNI_CreateJavaVM dlopen-failed", cfg_libjvm, 0);
        recordf("JNI_CreateJavaVM result %d", JNI_ERR);
        return JNI_ERR;
    }
    create = (create_fn)dlsym(lib, "JNI_CreateJavaVM");
    if (!create) {
        fprintf(stderr, "jvmbridge: %s has no JNI_CreateJavaVM\n", cfg_libjvm);
        recordf("JNI_CreateJavaVM result %d", JNI_ERR);
        return JNI_ERR;
    }
    for (i = 0; i < (int)(sizeof(forwarded_variables) / sizeof(forwarded_variables[0])); i++)
        forward_windows_variable(forwarded_variables[i]);
    hs.version = args->version;
    hs.nOptions = n;
    hs.options = opts;
    hs.ignoreUnrecognized = args->ignoreUnrecognized;
    rc = create(&real_vm, (void **)&real_env, &hs);
    recordf("JNI_CreateJavaVM result %d", (int)rc);
    if (rc < 0 || !real_vm || !real_env)
        return rc < 0 ? rc : JNI_ERR;
    the_vm.functions = vm_table;
    the_vm.real = real_vm;
    *penv = wrap_env(real_env);
    *pvm = (JavaVM *)&the_vm;
    return rc;
}

jint MSABI bridge_JNI_CreateJavaVM(JavaVM **pvm, void **penv, void *args)
{
    return create_vm(pvm, penv, (JavaVMInitArgs *)args);
}

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, void *reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        bridge_module = inst;
        DisableThreadLibraryCalls(inst);
    }
    return TRUE;
}
