// The Java application's console output, kept in a file the operator names.
#ifndef VELMORANE_JAVAOUTPUT_H
#define VELMORANE_JAVAOUTPUT_H

#include <windows.h>
#include <jni.h>

#include "launcher/strings.h"

// The hook options addJavaOutputHooks adds at most.
#define JAVA_OUTPUT_HOOK_OPTIONS 2

extern wchar_t javaOutputPath[PATH_CAPACITY];
extern char javaOutputPathAnsi[ANSI_CAPACITY];
// What the standard handles were set to, kept for the life of the process:
// the file, or with rotation the write end of the pump's pipe;
// INVALID_HANDLE_VALUE when the output is not redirected.
extern HANDLE javaOutputFile;

// When "VLJAVAOUTPUT" is set and not empty (its value given; NULL: not set):
// opens that file for appending and makes it the process's standard output
// and standard error, with one record saying so or why not; with rotation
// (setOutputRotation before), through the pump. Must run before any runtime
// library is loaded.
void redirectJavaOutputTo(const wchar_t *value);

// The invocation interface's "vfprintf" hook (the virtual machine's own
// messages, into the output in order with the application's) when the
// output is redirected, and with rotation its "exit" hook (the pump's pipe
// written out before System.exit ends the process); how many.
int addJavaOutputHooks(JavaVMOption *options);

#endif
