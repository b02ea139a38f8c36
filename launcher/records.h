// Every record the launcher and the shutdown thread write, in one place: the
// stages write them through these names, and the operator's console reads
// the log by them. A record's variable part (a path, a number, a name) comes
// last, after its fixed text; each ends with its own line feed. Where a text
// is misspelt ("direcotry", "mscvr100.dll", "vcruntime.dll", "jvm dll"), the
// spelling is the record's own: it stays as it is.
#ifndef VELMORANE_RECORDS_H
#define VELMORANE_RECORDS_H

#include "launcher/inputs.h"

// Installation paths.
#define RECORD_BANNER "***** Velmorane Windows service starting *****\n"
#define RECORD_EXECUTABLE "Executable file name:\n"
#define RECORD_PATH_LINE "%s\n"
#define RECORD_NAME_SIZE "Name size:  %d\n"
#define RECORD_BASE_PATH "Base path '%s'\n"
#define RECORD_KTR_PATH "KTR path '%s'\n"
#define RECORD_QUOTED_PATH_SUPPORT "Includes support for quoted service path (TP-85987)\n"
#define RECORD_JVM_VARIABLE_TOO_LONG JVM_LIBRARY_VARIABLE_NAME " environment variable is longer than %d characters and is ignored\n"
#define RECORD_JVM_VARIABLE "Will load jvm based on " JVM_LIBRARY_VARIABLE_NAME " environment variable\n"
#define RECORD_JVM_VARIABLE_RELATIVE JVM_LIBRARY_VARIABLE_NAME " environment variable is not a full path, no jvm.dll is loaded from it\n"

// Class path.
#define RECORD_LOOKING_FOR_JARS "Looking for needed jar files in the lib directory\n"
#define RECORD_LIB_FOUND "The lib directory was found\n"
#define RECORD_LIB_NOT_FOUND "The lib directory was not found, trying plugins\n"
#define RECORD_NO_LIB_OR_PLUGINS "Unable to find lib or plugins direcotry so the classpath may be invalid.\n"
#define RECORD_FILE "File:  %s\n"
#define RECORD_EXTENSION "Ext:  '%s'\n"
#define RECORD_NOW_SEARCHING "Now searching %s\n"
#define RECORD_SUB_FILE "Sub file:  %s\n"
#define RECORD_PLUGIN_JAR "*** Jar file:  %s\n"
#define RECORD_CLASS_PATH_UNCONVERTED "Can't convert the " CLASS_PATH_VARIABLE_NAME " environment variable, it is ignored\n"
#define RECORD_JVM_OPTIONS "JVM options:\n"
#define RECORD_OPTION "%s\n"

// The Java output file.
#define RECORD_OUTPUT_VARIABLE_TOO_LONG JAVA_OUTPUT_VARIABLE_NAME " environment variable is longer than %d characters and is ignored\n"
#define RECORD_OUTPUT_UNOPENED "Can't open %s for the Java output, error %lu\n"
#define RECORD_OUTPUT_REFUSED "Can't open %s for the Java output, refused: %s\n"
#define RECORD_OUTPUT_REDIRECTED "Java output goes to %s\n"
// Rotation (VLJAVAOUTPUTSIZE, VLJAVAOUTPUTKEEP) and the pump that writes the file.
#define RECORD_OUTPUT_SIZE_INVALID JAVA_OUTPUT_SIZE_VARIABLE_NAME " environment variable is not a size, the Java output is not rotated\n"
#define RECORD_OUTPUT_KEEP_INVALID JAVA_OUTPUT_KEEP_VARIABLE_NAME " environment variable is not a number from 0 to %d, %d older files are kept\n"
#define RECORD_OUTPUT_NOT_ROTATED "Can't rotate %s, error %lu; the Java output goes on into it\n"
#define RECORD_OUTPUT_NOT_WRITTEN "%llu bytes of the Java output could not be written to %s, error %lu\n"

// Library probing: the runtime libraries, each candidate with lines of its own.
#define RECORD_TRYING_MSVCR120 "Trying to load msvcr120.dll at %s\n"
#define RECORD_LOADED_MSVCR120 "Success loading msvcr120.dll at %s\n"
#define RECORD_FAILED_MSVCR120 "Failed to load msvcr120.dll at %s\n"
#define RECORD_TRYING_MSVCR100 "Trying to load msvcr100.dll at %s\n"
#define RECORD_TRYING_MSVCR100_ORACLE "Trying to load msvcr100.dll at Oracle location %s\n"
#define RECORD_LOADED_MSVCR100 "Success loading msvcr100.dll at %s\n"
#define RECORD_FAILED_MSVCR100 "Failed to load msvcr100.dll at %s\n"
#define RECORD_FAILED_MSCVR100 "Failed to load mscvr100.dll at %s\n"
#define RECORD_TRYING_VCRUNTIME140 "Trying to load vcruntime140.dll at %s\n"
#define RECORD_LOADED_VCRUNTIME140 "Success loading vcruntime140.dll at %s\n"
#define RECORD_FAILED_VCRUNTIME140 "Failed to load vcruntime140.dll at %s\n"
#define RECORD_FAILED_VCRUNTIME "Failed to load vcruntime.dll at %s\n"
// The virtual machine library.
#define RECORD_TRYING_JVM_FIRST "Trying to load jvm dll at %s\n"
#define RECORD_TRYING_JVM "Trying to load jvm.dll at %s\n"
#define RECORD_TRYING_JVM_ORACLE "Trying to load jvm.dll at Oracle location %s\n"
#define RECORD_TRYING_JVM_OPENJ9 "Trying to load jvm.dll at OpenJ9 location %s\n"
#define RECORD_TRYING_JVM_OPENJ9_17 "Trying to load jvm.dll at OpenJ9 VM 17 location %s\n"
#define RECORD_FAILED_JVM "Failed to load jvm.dll at %s\n"
#define RECORD_LOADED_JVM "Success loading jvm.dll at %s\n"

// The virtual machine and main.
#define RECORD_NO_OPTIONS "Can't allocate the JVM options\n"
#define RECORD_LOOKING_UP_CREATE "GetProcAddress for JNI_CreateJavaVM\n"
#define RECORD_NO_CREATE_EXPORT "Can't find JNI_CreateJavaVM in jvm.dll\n"
#define RECORD_CALLING_CREATE "Calling createJVM\n"
#define RECORD_CREATE_RETURNED "Completed call to createJVM\n"
#define RECORD_CREATE_FAILED "Can't create Java VM.  Return code %d\n"
#define RECORD_JVM_CREATED "Successfully created JVM\n"
#define RECORD_NO_CLASS "Can't find class %s\n"
#define RECORD_CLASS_FOUND "Found class %s\n"
#define RECORD_NO_MAIN "Can't find main()\n"
#define RECORD_MAIN_FOUND "Found static method main()\n"
#define RECORD_INVOKING_MAIN "Invoking main()\n"
#define RECORD_MAIN_THREW "Call to main() resulted in exception\n"

// The virtual machine's "exit" hook: System.exit or Runtime.halt ends the
// process with this exit code once the hook returns.
#define RECORD_JVM_EXIT "The JVM is ending the process (System.exit or Runtime.halt) with exit code %d\n"

// The shutdown thread (it writes RECORD_NO_CLASS too).
#define RECORD_NO_JVM_AT_STOP "No Java VM was created, shutdown() not called\n"
// After a start that stopped the service because it found no main class.
#define RECORD_NO_CLASS_AT_STOP "The main class was not found, shutdown() not called\n"
#define RECORD_ATTACH_FAILED "AttachCurrentThread failed\n"
#define RECORD_NO_SHUTDOWN "No shutdown() method found for %s\n"
#define RECORD_SHUTDOWN_THREW "Call to shutdown() resulted in exception\n"
#define RECORD_SHUTDOWN_CALLED "Shutdown method called on class %s\n"
#define RECORD_DETACHED "Detached thread\n"

// The launcher, when a failed start stops the service (VLSTOPONFAILURE).
#define RECORD_STOP_ON_FAILURE "The start failed and " STOP_ON_FAILURE_VARIABLE_NAME " is set: the service stops with exit code %d\n"

// The Java threads' stacks, when shutdown() is still running some seconds
// after the stop (a thread of its own writes them; the stop itself writes the
// record of a dump not taken or cut off). Seconds, then the number of threads.
#define RECORD_DUMP_BEGIN "shutdown() has not returned after %d s, Java threads: %d\n"
// The thread that runs shutdown(), first; then the others. Name, then state.
#define RECORD_DUMP_SHUTDOWN_THREAD "Shutdown thread \"%s\" %s\n"
#define RECORD_DUMP_THREAD "Java thread \"%s\" %s\n"
// One frame, its innermost first.
#define RECORD_DUMP_FRAME "    at %s\n"
#define RECORD_DUMP_FRAMES_LEFT_OUT "    frames left out: %d\n"
#define RECORD_DUMP_THREADS_LEFT_OUT "Java threads left out: %d\n"
#define RECORD_DUMP_NOT_TAKEN "The Java threads could not be dumped\n"
#define RECORD_DUMP_CUT "The dump of the Java threads was cut off\n"

// After any failed Java call: the throwable's toString().
#define RECORD_JAVA_EXCEPTION "Java exception: %s\n"

#endif
