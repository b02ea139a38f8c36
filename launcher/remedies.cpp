// The failure records' causes and remedies, keyed by the records themselves.
#include "launcher/remedies.h"

#include <stdlib.h>
#include <string.h>

#include "launcher/inputs.h"
#include "launcher/records.h"
#include "launcher/runtime_layout.h"
#include "log/service_name.h"

struct FailureRemedy {
    const char *record;
    int code; // for RECORD_CREATE_FAILED; ANY_CODE: every other
    const char *sentence;
};

static const FailureRemedy failureRemedies[] = {
    {RECORD_LIB_NOT_FOUND, ANY_CODE,
     "There is no Velmorane\\lib\\: create it and put the application's jar files in it."},
    {RECORD_NO_LIB_OR_PLUGINS, ANY_CODE,
     "Neither lib\\ nor plugins\\ is below the base path, often because the executable or its folder was renamed: restore Velmorane\\" EXECUTABLE_NAME " with the jars in lib\\."},
    {RECORD_CLASS_PATH_UNCONVERTED, ANY_CODE,
     "The value of " CLASS_PATH_VARIABLE_NAME " could not be converted: shorten it; the class path from lib\\ is used meanwhile."},
    {RECORD_JVM_VARIABLE_TOO_LONG, ANY_CODE, JVM_LIBRARY_VARIABLE_NAME " is far too long: set it to the full path of jvm.dll."},
    {RECORD_JVM_VARIABLE_RELATIVE, ANY_CODE,
     JVM_LIBRARY_VARIABLE_NAME " names no full path, and the service loads jvm.dll from full paths only: set it to the full path of jvm.dll."},
    {RECORD_FAILED_JVM, ANY_CODE,
     "No jvm.dll loaded at any place (none there, a 32-bit runtime, its C runtime library not loaded, or a Java 9+ runtime in " JDK_FOLDER SERVER_VM_FOLDER "): lay a 64-bit runtime out as " JRE_FOLDER " or set " JVM_LIBRARY_VARIABLE_NAME "; VelmoraneConsole check shows which."},
    {RECORD_NO_CREATE_EXPORT, ANY_CODE,
     "The file that loaded is not a JVM: point " JVM_LIBRARY_VARIABLE_NAME " (or the places) at the runtime's real jvm.dll."},
    {RECORD_NO_OPTIONS, ANY_CODE, "The service ran out of memory at start: free memory and restart the service."},
    {RECORD_CREATE_FAILED, -1,
     "The JVM could not start (an option in " JAVA_TOOL_OPTIONS_VARIABLE_NAME " or " JAVA_OPTIONS_VARIABLE_NAME " it does not know, an incomplete or damaged runtime, or not enough memory for its heap): check the variables, the runtime (" JRE_FOLDER BIN_FOLDER "java -version) and the machine's memory."},
    {RECORD_CREATE_FAILED, -3, "The runtime does not offer JNI version 1.6: use Java 8 or later."},
    {RECORD_CREATE_FAILED, -4, "The JVM ran out of memory while starting: free memory, or use a smaller -Xmx."},
    {RECORD_CREATE_FAILED, -6,
     "The JVM rejected an option, a bad value in " JAVA_TOOL_OPTIONS_VARIABLE_NAME " or " JAVA_OPTIONS_VARIABLE_NAME " or an unusual runtime: correct the variable, or use a standard Java runtime."},
    {RECORD_CREATE_FAILED, ANY_CODE, "The JVM could not start: check the runtime with " JDK_FOLDER BIN_FOLDER "java -version."},
    {RECORD_NO_CLASS, ANY_CODE,
     "The main class is in no jar of the class path (no jar in lib\\, jars named .JAR, or classes compiled for a newer Java): put the application jar in lib\\ and compile for the runtime's version (javac --release N) or use a newer runtime."},
    {RECORD_NO_MAIN, ANY_CODE, "The main class has no public static void main(String[]): add it."},
    {RECORD_MAIN_THREW, ANY_CODE,
     "main ended by throwing the exception on the next line: fix the application, then stop and start the service."},
    {RECORD_NO_JVM_AT_STOP, ANY_CODE,
     "A stop came while no JVM existed, because the start failed earlier or was still under way: fix the start failure."},
    {RECORD_ATTACH_FAILED, ANY_CODE,
     "The JVM could not take the stop thread: the service stops all the same; check the application's own log."},
    {RECORD_NO_SHUTDOWN, ANY_CODE,
     "The main class has no public static void shutdown(): add it; until then the application is ended without warning."},
    {RECORD_SHUTDOWN_THREW, ANY_CODE,
     "The application's shutdown() threw the exception on the next line: fix it; the service stops all the same."},
};

const char *failureRemedy(const char *record, int code)
{
    for (const FailureRemedy &entry : failureRemedies)
        if (entry.record == record || strcmp(entry.record, record) == 0)
            if (entry.code == ANY_CODE || entry.code == code)
                return entry.sentence;
    return NULL;
}

const char *logRecordRemedy(const char *text)
{
    for (const FailureRemedy &entry : failureRemedies) {
        const char *rest = recordRest(text, entry.record);
        if (rest != NULL && (entry.code == ANY_CODE || entry.code == atoi(rest)))
            return entry.sentence;
    }
    return NULL;
}

bool isNewerJavaException(const char *text)
{
    return strstr(text, "UnsupportedClassVersionError") != NULL;
}

const char *recordRest(const char *text, const char *format)
{
    size_t fixed = strcspn(format, "%\n");
    return strncmp(text, format, fixed) == 0 ? text + fixed : NULL;
}
