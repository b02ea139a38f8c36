// What the launcher takes from outside: the executable it works from and the
// environment variables the operator sets. The service reads them from its
// own process; the operator's console hands over the service's.
#ifndef VELMORANE_INPUTS_H
#define VELMORANE_INPUTS_H

#include <wchar.h>

// Each variable's name, once: as the texts that name it spell it (NAME), and
// as the environment is read by it (VARIABLE, the same name made wide).
// The launcher's own variables.
#define JVM_LIBRARY_NAME "VLJVMDLL"
#define CLASS_PATH_NAME "VLCLASSPATH"
#define JAVA_OUTPUT_NAME "VLJAVAOUTPUT"
// The output file's size at which it is rotated, and how many older ones are kept.
#define JAVA_OUTPUT_SIZE_NAME "VLJAVAOUTPUTSIZE"
#define JAVA_OUTPUT_KEEP_NAME "VLJAVAOUTPUTKEEP"
// "1": a start that fails stops the service with an exit code of its own.
#define STOP_ON_FAILURE_NAME "VLSTOPONFAILURE"
// "1": the service accepts PRESHUTDOWN too and stops on it (read by the
// service main routine, not the launcher).
#define PRESHUTDOWN_NAME "VLPRESHUTDOWN"
// Read by the virtual machine itself, not by the launcher.
#define JAVA_TOOL_OPTIONS_NAME "JAVA_TOOL_OPTIONS"
#define JAVA_OPTIONS_NAME "_JAVA_OPTIONS"

#define JVM_LIBRARY_VARIABLE L"" JVM_LIBRARY_NAME
#define CLASS_PATH_VARIABLE L"" CLASS_PATH_NAME
#define JAVA_OUTPUT_VARIABLE L"" JAVA_OUTPUT_NAME
#define JAVA_OUTPUT_SIZE_VARIABLE L"" JAVA_OUTPUT_SIZE_NAME
#define JAVA_OUTPUT_KEEP_VARIABLE L"" JAVA_OUTPUT_KEEP_NAME
#define STOP_ON_FAILURE_VARIABLE L"" STOP_ON_FAILURE_NAME
#define PRESHUTDOWN_VARIABLE L"" PRESHUTDOWN_NAME
#define JAVA_TOOL_OPTIONS_VARIABLE L"" JAVA_TOOL_OPTIONS_NAME
#define JAVA_OPTIONS_VARIABLE L"" JAVA_OPTIONS_NAME

// How far a launch goes: the service's goes to main; the operator's check
// stops before it.
enum LaunchDepth {
    LAUNCH_TO_MAIN,    // create the virtual machine and call main
    LAUNCH_TO_LOOKUPS, // create it, look up the main class, main and shutdown()
    LAUNCH_TO_PROBE,   // load the libraries only
};

// Every pointer is NULL when the thing is not given (a variable not set);
// an empty string is a value of its own.
struct LaunchInputs {
    const wchar_t *executable; // NULL: the process's own executable
    const wchar_t *jvmLibrary; // VLJVMDLL
    const wchar_t *classPath;  // VLCLASSPATH
    const wchar_t *javaOutput; // VLJAVAOUTPUT
    LaunchDepth depth;
    bool stopOnFailure;        // VLSTOPONFAILURE is "1"
    const wchar_t *javaOutputSize; // VLJAVAOUTPUTSIZE
    const wchar_t *javaOutputKeep; // VLJAVAOUTPUTKEEP
};

// A variable's value as someone has it (the process, or the service's
// environment as the console reads it); NULL when it is not set.
typedef const wchar_t *(*LaunchVariableReader)(const wchar_t *name, const void *context);

// The inputs for `executable` (NULL: the process's own) from the variables
// as `read` gives them, going to main.
void launchInputsFrom(const wchar_t *executable, LaunchVariableReader read, const void *context, LaunchInputs *inputs);
// The process's own executable and environment, as the service has them.
void readLaunchInputs(LaunchInputs *inputs);
// Whether a value of VLSTOPONFAILURE turns it on (NULL: not set).
bool stopOnFailureValue(const wchar_t *value);

#endif
