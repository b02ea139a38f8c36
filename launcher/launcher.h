// The launcher thread: finds the installation, builds the class path, loads
// the virtual machine and runs the Java application's main.
#ifndef VELMORANE_LAUNCHER_H
#define VELMORANE_LAUNCHER_H

#include <windows.h>

#include "launcher/classpath.h"
#include "launcher/inputs.h"
#include "launcher/javaoutput.h"
#include "launcher/jvm.h"
#include "launcher/paths.h"
#include "launcher/probe.h"
#include "log/logfile.h"

// What every stage of one launch found.
struct LaunchResults {
    PathsResult paths;
    ClassPathResult classPath;
    ProbeResult probe;
    JvmResult jvm;
};

// How a start failed, when it did; each kind's number is the service's
// exit code when VLSTOPONFAILURE stops it.
enum LaunchFailure {
    LAUNCH_NOT_FAILED = 0,
    FAILURE_NO_JVM_LIBRARY = 1,  // no jvm.dll loads
    FAILURE_NO_CREATE_EXPORT = 2, // the library has no JNI_CreateJavaVM
    FAILURE_JVM_NOT_CREATED = 3, // JNI_CreateJavaVM failed
    FAILURE_NO_MAIN_CLASS = 4,
    FAILURE_NO_MAIN = 5,
    FAILURE_MAIN_THREW = 6,
    FAILURE_NO_OPTIONS = 7,      // no memory for the JVM's options
};
#define LAUNCH_FAILURE_LAST FAILURE_NO_OPTIONS
#define LAUNCH_FAILURE_RECORD_CAPACITY 256

// The launcher thread's result when it asks the service to stop: this plus
// the failure's number.
#define STOP_ON_FAILURE_RESULT 0x100

// The failure the results tell of (a main that returned normally is none).
LaunchFailure launchFailure(const LaunchResults *results);
// The record with which the failed stage ended the start, as the log has it
// (its variable part from the results, its line feed), into text (capacity
// bytes; LAUNCH_FAILURE_RECORD_CAPACITY holds any). Returns the record's format, NULL when there is no failure or the
// kind has no record of its own (no jvm.dll: one record per candidate).
const char *launchFailureRecord(const LaunchResults *results, char *text, size_t capacity);
// The same for a failure already told (failure_record.cpp, which the event
// log shares with the launcher).
const char *failureRecordOf(LaunchFailure failure, const LaunchResults *results, char *text, size_t capacity);
// Whether the main class's shutdown() may be called after a start that
// failed so: not when the start never found the class (nor created the
// virtual machine), since a stop would only repeat the start's failure.
bool failureLeavesShutdown(DWORD failure);
// What a failure number means, in a few words; NULL for no such number.
const char *launchFailureText(DWORD failure);

// Empty results that keep no folder entries or candidate paths.
void clearLaunchResults(LaunchResults *results);

struct LaunchContext;

// Who is told what a launch and its log meet; each may be NULL (no one is
// told). The service points them at its event log; the console's run and
// check leave them empty. None is called while the log's lock is held.
struct LaunchObserver {
    // The log file refused (its owner's text for someone else's file).
    LogRefusedNotice logRefused;
    // Every launch of launcherThread, with its failure's kind
    // (LAUNCH_NOT_FAILED for a good start).
    void (*launchOutcome)(const LaunchContext *launch, LaunchFailure failure);
    // Each frame of the thread in shutdown() as the stop's dump writes it
    // (index from the innermost).
    void (*shutdownFrame)(int index, const char *frame);
    // System.exit or Runtime.halt, with its exit code, from the virtual
    // machine's "exit" hook after RECORD_JVM_EXIT: the process ends as soon
    // as this returns, so it must not wait without a bound.
    void (*jvmExit)(const LaunchContext *launch, int code);
};

// One launch: what it is given, the buffers its stages work in, what they
// found, and who is told. Owned by whoever launches (the service, the
// console's check and run), handed by pointer to every stage and to every
// thread the launch starts; it must live as long as those threads do, which
// for the service is until the process ends. About 1.5 MiB: on the heap.
struct LaunchContext {
    LaunchInputs inputs;
    LaunchObserver observer;
    LaunchPaths paths;
    ClassPathBuffers classPath;
    JavaOutput output;
    LaunchVm vm;
    LaunchResults results;
    // Where the stop's thread dump stands (ThreadDumpState).
    volatile LONG threadDumpState;
    // The failed start's kind whose stop the shutdown thread runs
    // (LAUNCH_NOT_FAILED for a STOP); set before the thread starts.
    DWORD stopFailure;
};

// The virtual machine's hooks, into hooks (VM_HOOK_OPTIONS_MOST); how many.
// The Java output's "vfprintf" hook when the output is redirected; the
// "exit" hook when the output is redirected or VLSTOPONFAILURE is "1", which
// on System.exit or Runtime.halt finishes the output (finishJavaOutput),
// writes RECORD_JVM_EXIT and tells the observer (jvmExit) before the process
// ends. Without either variable the virtual machine gets its two options
// alone, as ever. The hooks reach this launch from then on.
int addLaunchHooks(LaunchContext *launch, JavaVMOption *hooks);

// A new context on the heap: no inputs, no observer, empty results; NULL when
// out of memory. The caller fills the inputs (and the results' rooms).
LaunchContext *newLaunchContext(void);

// Runs the stages once, in order, with no retries, as far as
// context->inputs.depth, into context->results. Returns launchFailure's kind
// for them: LAUNCH_NOT_FAILED once main has returned normally
// (LAUNCH_TO_MAIN), once the main class and main were found
// (LAUNCH_TO_LOOKUPS), once the virtual machine library loaded
// (LAUNCH_TO_PROBE).
LaunchFailure launch(LaunchContext *context);

// Thread routine; the parameter is the LaunchContext, its inputs filled.
// Ends with the launch's failure (LAUNCH_NOT_FAILED for none), or, when the
// start failed and VLSTOPONFAILURE is "1", STOP_ON_FAILURE_RESULT plus the
// failure's number after a record saying the service stops.
DWORD WINAPI launcherThread(LPVOID parameter);

#endif
