// Application: the virtual machine created as the service creates it, the
// main class, main(String[]) and shutdown() looked up; main is never called.
#include "console/check/check.h"

#include <stdio.h>
#include <string.h>

#include "console/report.h"
#include "launcher/records.h"
#include "launcher/remedies.h"

// The record the virtual machine stage stopped at (the launcher's own
// verdict on the results), with the Java exception that came with it and
// the remedy.
static void reportStageFailure(const LaunchResults *launch)
{
    const JvmResult *jvm = &launch->jvm;
    char text[LAUNCH_FAILURE_RECORD_CAPACITY];
    const char *record = launchFailureRecord(launch, text, sizeof text);
    reportRecord(FINDING_PROBLEM, "%s", text);
    if (jvm->exception[0] != '\0') {
        reportRecord(FINDING_PROBLEM, RECORD_JAVA_EXCEPTION, jvm->exception);
        if (isNewerJavaException(jvm->exception)) {
            reportRemedy("%s", NEWER_JAVA_REMEDY);
            return;
        }
    }
    const char *remedy = record != NULL ? failureRemedy(record, (int)jvm->createResult) : NULL;
    if (remedy != NULL)
        reportRemedy("%s", remedy);
}

// What the virtual machine printed, one report line each, after the
// findings it explains; they count as no finding.
static void reportJvmOutput(const Snapshot *snapshot)
{
    for (const char *line = snapshot->jvmOutput; *line != '\0';) {
        size_t length = strcspn(line, "\r\n");
        if (length > 0)
            printf("  jvm      %.*s\n", (int)length, line);
        line += length;
        line += strspn(line, "\r\n");
    }
    fflush(stdout);
}

static void checkLookups(const Snapshot *snapshot);

void checkApplication(const Snapshot *snapshot)
{
    checkLookups(snapshot);
    reportJvmOutput(snapshot);
}

static void checkLookups(const Snapshot *snapshot)
{
    reportSection("Application");
    const JvmResult *jvm = &snapshot->stages->results.jvm;
    if (!snapshot->withJvm) {
        reportFinding(FINDING_OK, "not checked (--no-jvm)");
        return;
    }
    if (snapshot->stages->results.probe.jvmLoaded < 0) {
        reportFinding(FINDING_PROBLEM, "not checked: no jvm.dll loads");
        return;
    }
    if (snapshot->launchThreadError != 0) {
        reportFinding(FINDING_WARNING, "not checked: no thread for the JVM (error %lu)", snapshot->launchThreadError);
        return;
    }
    if (jvm->created)
        reportFinding(FINDING_OK, "JVM created with the service's options");
    if (!jvm->mainFound) {
        reportStageFailure(&snapshot->stages->results);
        return;
    }
    reportFinding(FINDING_OK, "main class %s found", MAIN_CLASS_NAME);
    reportFinding(FINDING_OK, "main(String[]) found; not called");
    if (jvm->shutdownFound) {
        reportFinding(FINDING_OK, "shutdown() found");
        return;
    }
    reportFinding(FINDING_WARNING, "no shutdown() method in %s", MAIN_CLASS_NAME);
    if (jvm->exception[0] != '\0')
        reportRecord(FINDING_WARNING, RECORD_JAVA_EXCEPTION, jvm->exception);
    reportRemedy("%s", failureRemedy(RECORD_NO_SHUTDOWN, ANY_CODE));
}
