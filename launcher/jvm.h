// The launcher's last stage: the virtual machine, the main class and its main.
#ifndef VELMORANE_JVM_H
#define VELMORANE_JVM_H

#include <windows.h>

#include "launcher/java_contract.h"
#include "launcher/java_exception.h"
#include "launcher/jvm_result.h"
#include "launcher/strings.h"

// Big enough for "installbase=", the longest base path in modified UTF-8
// (up to three bytes per UTF-16 code unit), the line feed and the terminator.
#define MAIN_ARGUMENT_CAPACITY (3 * PATH_CAPACITY + 16)

struct JavaOutput;

// One launch's virtual machine: what it is created with, and its handle.
struct LaunchVm {
    // Published only once it has been created, for the threads that reach
    // it beside the launcher's (the stop, the dump): read it through
    // getJvmHandle().
    JavaVM *volatile jvmHandle;
    CreateJavaVMFunction createJavaVM;
    JavaVMOption *vmOptions; // on the heap, never released: the JVM may keep it
    JavaVMInitArgs vmInitArgs;
    // The class path option as the virtual machine gets it: without the line
    // feed that ends the logged form.
    char vmClassPathOption[ANSI_CAPACITY];
    char mainArgument[MAIN_ARGUMENT_CAPACITY];
};

JavaVM *getJvmHandle(LaunchVm *vm);

void clearJvmResult(JvmResult *result);

// The hook options the launch may add after the two.
#define VM_HOOK_OPTIONS_MOST 2

// Builds the virtual machine's options: the native digest's and the class
// path's (from the logged class path option), then the launch's `hookCount`
// hooks (addLaunchHooks), up to four in all. Returns false (after a log
// line) when they can't be allocated.
bool assembleVmOptions(const char *classPathOption, const JavaVMOption *hooks, int hookCount, LaunchVm *vm);
// Fills vm->mainArgument: "installbase=", the base path and a line feed.
void formatMainArgument(const wchar_t *basePath, LaunchVm *vm);
// Creates the virtual machine from the loaded library, this thread attached
// to it. Returns the thread's environment, or NULL after the failure's log line.
JNIEnv *createJvm(HMODULE jvmModule, LaunchVm *vm, JvmResult *result);
// Creates the virtual machine from the loaded library and looks up the main
// class, main and shutdown() without calling anything; detaches after.
// True when all three were found.
bool lookUpApplication(HMODULE jvmModule, LaunchVm *vm, JvmResult *result);
// Creates the virtual machine from the loaded library and runs the main
// class's main on this thread with the base path in its argument; the
// result says how far it came.
void startJvmAndRunMain(HMODULE jvmModule, const wchar_t *basePath, LaunchVm *vm, JvmResult *result);

#endif
