/*
 * The least a program must do to run the Java application: load jvm.dll by
 * full path, create the virtual machine on a thread of its own with the same
 * two options as the service, and call the main class's static main with the
 * same argument. The yardstick of the start-up benchmark.
 *
 * usage: startup_host.exe JVM_DLL BASE_PATH
 *   BASE_PATH ends with a backslash; its lib\*.jar make the class path.
 * Exit code 0 when main was called and returned, 1 otherwise.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <jni.h>

#define PATH_CAP 32767
#define MAIN_CLASS "com/orvenda/calistren/test/lt/nextgen/Velmorane"

typedef jint(JNICALL *create_fn)(JavaVM **, void **, void *);

static create_fn create_vm;
static wchar_t base_path[PATH_CAP];
static char class_path_option[PATH_CAP];
static char argument[PATH_CAP];

/* Appends src to dest (capacity cap, terminated); false when it did not fit. */
static int append(char *dest, size_t cap, const char *src)
{
    size_t used = strlen(dest), n = strlen(src);
    if (used + n + 1 > cap)
        return 0;
    memcpy(dest + used, src, n + 1);
    return 1;
}

static int build_class_path(void)
{
    wchar_t pattern[PATH_CAP];
    WIN32_FIND_DATAW entry;
    char name[MAX_PATH * 3], base[PATH_CAP];
    HANDLE find;

    if (_snwprintf(pattern, PATH_CAP, L"%lslib\\*", base_path) < 0)
        return 0;
    if (WideCharToMultiByte(CP_ACP, 0, base_path, -1, base, sizeof base, NULL, NULL) == 0)
        return 0;
    class_path_option[0] = '\0';
    if (!append(class_path_option, PATH_CAP, "-Djava.class.path="))
        return 0;
    find = FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        size_t n;
        if (WideCharToMultiByte(CP_ACP, 0, entry.cFileName, -1, name, sizeof name, NULL, NULL) == 0)
            continue;
        n = strlen(name);
        if (n <= 4 || strcmp(name + n - 4, ".jar") != 0)
            continue;
        if (!append(class_path_option, PATH_CAP, base) || !append(class_path_option, PATH_CAP, "lib\\") ||
            !append(class_path_option, PATH_CAP, name) || !append(class_path_option, PATH_CAP, ";")) {
            FindClose(find);
            return 0;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return 1;
}

/* installbase=<base path>\n as UTF-8 (for the characters of a path the same as modified UTF-8). */
static int build_argument(void)
{
    size_t used;
    strcpy(argument, "installbase=");
    used = strlen(argument);
    if (WideCharToMultiByte(CP_UTF8, 0, base_path, -1, argument + used, (int)(sizeof argument - used - 1),
                            NULL, NULL) == 0)
        return 0;
    return append(argument, sizeof argument, "\n");
}

static DWORD WINAPI run_main(void *unused)
{
    JavaVMOption options[2];
    JavaVMInitArgs args;
    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    jclass main_class, string_class;
    jmethodID main_method;
    jobjectArray array;
    (void)unused;

    options[0].optionString = "-Djdk.nativeDigest=false";
    options[0].extraInfo = NULL;
    options[1].optionString = class_path_option;
    options[1].extraInfo = NULL;
    args.version = JNI_VERSION_1_6;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    if (create_vm(&vm, (void **)&env, &args) < 0) {
        fprintf(stderr, "startup_host: JNI_CreateJavaVM failed\n");
        return 1;
    }
    main_class = (*env)->FindClass(env, MAIN_CLASS);
    if (main_class == NULL) {
        fprintf(stderr, "startup_host: no main class\n");
        return 1;
    }
    main_method = (*env)->GetStaticMethodID(env, main_class, "main", "([Ljava/lang/String;)V");
    if (main_method == NULL) {
        fprintf(stderr, "startup_host: no main()\n");
        return 1;
    }
    string_class = (*env)->FindClass(env, "java/lang/String");
    array = (*env)->NewObjectArray(env, 1, string_class, NULL);
    (*env)->SetObjectArrayElement(env, array, 0, (*env)->NewStringUTF(env, argument));
    (*env)->CallStaticVoidMethod(env, main_class, main_method, array);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    HMODULE jvm;
    HANDLE thread;
    DWORD result = 1;

    if (argc != 3) {
        fprintf(stderr, "usage: startup_host JVM_DLL BASE_PATH\n");
        return 1;
    }
    if (wcslen(argv[2]) >= PATH_CAP)
        return 1;
    wcscpy(base_path, argv[2]);
    if (!build_class_path() || !build_argument()) {
        fprintf(stderr, "startup_host: cannot build the class path or the argument\n");
        return 1;
    }
    jvm = LoadLibraryW(argv[1]);
    if (jvm == NULL) {
        fprintf(stderr, "startup_host: cannot load %ls\n", argv[1]);
        return 1;
    }
    create_vm = (create_fn)(void *)GetProcAddress(jvm, "JNI_CreateJavaVM");
    if (create_vm == NULL) {
        fprintf(stderr, "startup_host: no JNI_CreateJavaVM\n");
        return 1;
    }
    /* Not on the main thread: HotSpot does not survive being created there under Wine. */
    thread = CreateThread(NULL, 0, run_main, NULL, 0, NULL);
    if (thread == NULL)
        return 1;
    WaitForSingleObject(thread, INFINITE);
    if (!GetExitCodeThread(thread, &result))
        result = 1;
    CloseHandle(thread);
    /* The virtual machine's own threads end with the process. */
    ExitProcess(result);
}
