// With rotation the virtual machine writes its standard output and error
// into a pipe, and a thread of the service writes what comes out of it into
// the current output file: the one point that sees every byte, so a file is
// cut at a line's end and nothing written before a stop or System.exit is
// left in the pipe.
#ifndef VELMORANE_OUTPUT_PUMP_H
#define VELMORANE_OUTPUT_PUMP_H

#include <windows.h>
#include <jni.h>

// A line is kept whole in one file up to this length.
#define OUTPUT_LONGEST_LINE (64 * 1024)
// The hook options addJavaOutputHooks adds at most.
#define JAVA_OUTPUT_HOOK_OPTIONS 2
// How long the stop and System.exit wait for the pipe to be written out: the
// pipe holds at most a megabyte, and a write that fails drops, never waits.
#define OUTPUT_DRAIN_MS 2000

// Takes over the opened output file `*file` (rotated first when it is over
// the size; *file is then the new one) and starts the thread. The pipe's
// write end, for the standard handles, or INVALID_HANDLE_VALUE (the output
// then goes straight into *file, not rotated).
HANDLE startOutputPump(HANDLE *file);
// Ends the thread and closes the pipe (the standard handles could not be set).
void stopOutputPump(void);
// Writes out what is in the pipe now, within timeoutMs; with a record of
// what could not be written. Nothing to do without the pump.
void drainJavaOutput(DWORD timeoutMs);
// Bytes as the pump writes them: the current file, its size, the cut at a
// line's end, the rotation and the count of what could not be written.
void pumpBytes(const char *data, size_t length);
// The invocation interface's "exit" (the pipe drained before System.exit
// ends the process) and "vfprintf" (the virtual machine's own messages, into
// the output in order) hooks, when the output is redirected; how many.
int addJavaOutputHooks(JavaVMOption *options);

#endif
