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

// The virtual machine, published only once it has been created; the shutdown
// thread reads it. Use getJvmHandle() to read it.
extern JavaVM *volatile jvmHandle;
extern CreateJavaVMFunction createJavaVM;
extern JavaVMOption *vmOptions;
extern JavaVMInitArgs vmInitArgs;
// The class path option as the virtual machine gets it: without the line feed
// that ends the logged form.
extern char vmClassPathOption[ANSI_CAPACITY];
extern char mainArgument[MAIN_ARGUMENT_CAPACITY];

JavaVM *getJvmHandle(void);

void clearJvmResult(JvmResult *result);

// Builds the virtual machine's options: the native digest's and the class
// path's, then the Java output's hooks when it goes to a file (vfprintf, and
// exit when the output is rotated), up to four in all. Returns false (after
// a log line) when they can't be allocated.
bool assembleVmOptions(void);
// Fills mainArgument: "installbase=", the base path and a line feed.
void formatMainArgument(void);
// Creates the virtual machine from the loaded library, this thread attached
// to it. Returns the thread's environment, or NULL after the failure's log line.
JNIEnv *createJvm(HMODULE jvmModule, JvmResult *result);
// Creates the virtual machine from the loaded library and looks up the main
// class, main and shutdown() without calling anything; detaches after.
DWORD lookUpApplication(HMODULE jvmModule, JvmResult *result);
// Creates the virtual machine from the loaded library and runs the main
// class's main on this thread. Returns 1 once main has returned, 0 on failure.
DWORD startJvmAndRunMain(HMODULE jvmModule, JvmResult *result);

#endif
