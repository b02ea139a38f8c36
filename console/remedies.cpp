// The records are matched by their beginning: the variable part of a failure
// line (a path, a return code) comes at its end.
#include "console/remedies.h"

#include <string.h>

struct FailureRemedy {
    const char *prefix;
    const char *sentence;
};

static const FailureRemedy failureRemedies[] = {
    {"The lib directory was not found, trying plugins",
     "There is no Velmorane\\lib\\: create it and put the application's jar files in it."},
    {"Unable to find lib or plugins direcotry",
     "Neither lib\\ nor plugins\\ is below the base path, often because the executable or its folder was renamed: restore Velmorane\\VelmoraneService.exe with the jars in lib\\."},
    {"Can't convert the VLCLASSPATH environment variable",
     "The value of VLCLASSPATH could not be converted: shorten it; the class path from lib\\ is used meanwhile."},
    {"VLJVMDLL environment variable is longer than",
     "VLJVMDLL is far too long: set it to the full path of jvm.dll."},
    {"Failed to load jvm.dll at ",
     "No jvm.dll loaded at any place (none there, a 32-bit runtime, its C runtime library not loaded, or a Java 9+ runtime in jdk\\bin\\server\\): lay a 64-bit runtime out as jdk\\jre\\ or set VLJVMDLL; VelmoraneConsole check shows which."},
    {"Can't find JNI_CreateJavaVM in jvm.dll",
     "The file that loaded is not a JVM: point VLJVMDLL (or the places) at the runtime's real jvm.dll."},
    {"Can't allocate the JVM options", "The service ran out of memory at start: free memory and restart the service."},
    {"Can't create Java VM.  Return code -1",
     "The JVM could not start (an option in JAVA_TOOL_OPTIONS or _JAVA_OPTIONS it does not know, an incomplete or damaged runtime, or not enough memory for its heap): check the variables, the runtime (jdk\\jre\\bin\\java -version) and the machine's memory."},
    {"Can't create Java VM.  Return code -3",
     "The runtime does not offer JNI version 1.6: use Java 8 or later."},
    {"Can't create Java VM.  Return code -4", "The JVM ran out of memory while starting: free memory, or use a smaller -Xmx."},
    {"Can't create Java VM.  Return code -6",
     "The JVM rejected an option, a bad value in JAVA_TOOL_OPTIONS or _JAVA_OPTIONS or an unusual runtime: correct the variable, or use a standard Java runtime."},
    {"Can't create Java VM.  Return code",
     "The JVM could not start: check the runtime with jdk\\bin\\java -version."},
    {"Can't find class ",
     "The main class is in no jar of the class path (no jar in lib\\, jars named .JAR, or classes compiled for a newer Java): put the application jar in lib\\ and compile for the runtime's version (javac --release N) or use a newer runtime."},
    {"Can't find main()", "The main class has no public static void main(String[]): add it."},
    {"Call to main() resulted in exception",
     "main ended by throwing the exception on the next line: fix the application, then stop and start the service."},
    {"No Java VM was created, shutdown() not called",
     "A stop came while no JVM existed, because the start failed earlier or was still under way: fix the start failure."},
    {"AttachCurrentThread failed",
     "The JVM could not take the stop thread: the service stops all the same; check the application's own log."},
    {"No shutdown() method found for ",
     "The main class has no public static void shutdown(): add it; until then the application is ended without warning."},
    {"Call to shutdown() resulted in exception",
     "The application's shutdown() threw the exception on the next line: fix it; the service stops all the same."},
};

const char *failureRemedy(const char *record)
{
    for (const FailureRemedy &entry : failureRemedies)
        if (strncmp(record, entry.prefix, strlen(entry.prefix)) == 0)
            return entry.sentence;
    return NULL;
}

bool isNewerJavaException(const char *text)
{
    return strstr(text, "UnsupportedClassVersionError") != NULL;
}
