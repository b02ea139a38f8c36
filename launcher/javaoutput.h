// The Java application's console output, kept in a file the operator names.
#ifndef VELMORANE_JAVAOUTPUT_H
#define VELMORANE_JAVAOUTPUT_H

#include <windows.h>
#include <jni.h>

#include "launcher/output_pump.h"
#include "launcher/strings.h"

// The Java output of one launch, kept for the life of the process.
struct JavaOutput {
    wchar_t javaOutputPath[PATH_CAPACITY];
    char javaOutputPathAnsi[ANSI_CAPACITY];
    // What the standard handles were set to: the file, or with rotation the
    // write end of the pump's pipe; INVALID_HANDLE_VALUE when the output is
    // not redirected.
    HANDLE javaOutputFile;
    // With rotation (pump.rotation.size above 0) the pump writes the file.
    OutputPump pump;
};

// Not redirected, not rotated.
void clearJavaOutput(JavaOutput *output);

// When "VLJAVAOUTPUT" is set and not empty (its value given; NULL: not set):
// opens that file for appending and makes it the process's standard output
// and standard error, with one record saying so or why not; with rotation
// (setOutputRotation into output->pump.rotation before), through the pump.
// Must run before any runtime library is loaded.
void redirectJavaOutputTo(const wchar_t *value, JavaOutput *output);

// The invocation interface's "vfprintf" hook (the virtual machine's own
// messages, into the output in order with the application's) into `option`
// when the output is redirected; how many (0 or 1). The hook writes to this
// output from then on: there is one virtual machine a process.
int addJavaOutputHook(JavaOutput *output, JavaVMOption *option);

// The process is about to end: with rotation, the pump's finish
// (finishOutputPump); nothing to do otherwise.
void finishJavaOutput(JavaOutput *output, DWORD timeoutMs);

#endif
