// The launcher thread: finds the installation, builds the class path, loads
// the virtual machine and runs the Java application's main.
#ifndef VELMORANE_LAUNCHER_H
#define VELMORANE_LAUNCHER_H

#include <windows.h>

#include "launcher/classpath.h"
#include "launcher/inputs.h"
#include "launcher/jvm.h"
#include "launcher/paths.h"
#include "launcher/probe.h"

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

// Runs the stages once, in order, with no retries, as far as inputs->depth.
// Returns 1 once main was called and has returned, or thrown (LAUNCH_TO_MAIN:
// a main that threw is FAILURE_MAIN_THREW all the same), or once the main
// class, main and shutdown() were all found (LAUNCH_TO_LOOKUPS); 0 on any
// other failure, and always 0 for LAUNCH_TO_PROBE.
DWORD launch(const LaunchInputs *inputs, LaunchResults *results);

// Told of every launch of launcherThread, with its failure's kind
// (LAUNCH_NOT_FAILED for a good start); NULL: no one is told. The service
// points it at its event log.
typedef void (*LaunchOutcomeNotice)(const LaunchResults *results, LaunchFailure failure);
extern LaunchOutcomeNotice launchOutcomeNotice;

// Thread routine; the parameter is not used. Launches with the process's own
// inputs. Its result is launch's, or, when the start failed and
// VLSTOPONFAILURE is "1", STOP_ON_FAILURE_RESULT plus the failure's number
// after a record saying the service stops.
DWORD WINAPI launcherThread(LPVOID parameter);

#endif
