// Application: the virtual machine created as the service creates it, the
// main class, main(String[]) and shutdown() looked up; main is never called.
#include "console/check.h"

#include <string.h>

#include "console/remedies.h"
#include "console/report.h"
#include "launcher/java_contract.h"
#include "launcher/java_exception.h"
#include "launcher/jvm.h"

#define JAVA_EXCEPTION_PREFIX "Java exception: "

// The service's JVM creation and lookups; NULL after the failure's records.
static JNIEnv *createJvmAndFindMain(HMODULE jvmModule, jclass *mainClass, jmethodID *mainMethod)
{
    JNIEnv *env = createJvm(jvmModule);
    return env != NULL && findMain(env, mainClass, mainMethod) ? env : NULL;
}

// The failure line the stage wrote last, with the Java exception's text
// when one was recorded.
static void reportStageFailure(void)
{
    const char *failure = "the JVM stage stopped without a record";
    for (int index = collectedCount() - 1; index >= 0; index--)
        if (strncmp(collectedRecord(index), JAVA_EXCEPTION_PREFIX, strlen(JAVA_EXCEPTION_PREFIX)) != 0) {
            failure = collectedRecord(index);
            break;
        }
    int exception = collectedFind(JAVA_EXCEPTION_PREFIX);
    reportFinding(FINDING_PROBLEM, "%s", failure);
    if (exception >= 0) {
        const char *text = collectedRecord(exception);
        reportFinding(FINDING_PROBLEM, "%s", text);
        if (isNewerJavaException(text)) {
            reportRemedy("%s", NEWER_JAVA_REMEDY);
            return;
        }
    }
    const char *remedy = failureRemedy(failure);
    if (remedy != NULL)
        reportRemedy("%s", remedy);
}

static DWORD WINAPI applicationThread(LPVOID parameter)
{
    HMODULE jvmModule = (HMODULE)parameter;
    collectorStart();
    jclass mainClass = NULL;
    jmethodID mainMethod = NULL;
    JNIEnv *env = assembleVmOptions() ? createJvmAndFindMain(jvmModule, &mainClass, &mainMethod) : NULL;
    collectorStop();
    if (env == NULL) {
        if (collectedFind("Successfully created JVM") >= 0)
            reportFinding(FINDING_OK, "JVM created with the service's options");
        reportStageFailure();
        return 0;
    }
    reportFinding(FINDING_OK, "JVM created with the service's options");
    reportFinding(FINDING_OK, "main class %s found", MAIN_CLASS_NAME);
    reportFinding(FINDING_OK, "main(String[]) found; not called");
    jmethodID shutdownMethod = env->GetStaticMethodID(mainClass, SHUTDOWN_METHOD_NAME, SHUTDOWN_METHOD_SIGNATURE);
    if (shutdownMethod == NULL) {
        collectorStart();
        logPendingException(env, NULL);
        collectorStop();
        reportFinding(FINDING_WARNING, "no shutdown() method in %s", MAIN_CLASS_NAME);
        if (collectedCount() > 0)
            reportFinding(FINDING_WARNING, "%s", collectedRecord(0));
        reportRemedy("%s", failureRemedy("No shutdown() method found for "));
    } else {
        reportFinding(FINDING_OK, "shutdown() found");
    }
    return 0;
}

void checkApplication(HMODULE jvmModule, bool withJvm)
{
    reportSection("Application");
    if (!withJvm) {
        reportFinding(FINDING_OK, "not checked (--no-jvm)");
        return;
    }
    if (jvmModule == NULL) {
        reportFinding(FINDING_PROBLEM, "not checked: no jvm.dll loads");
        return;
    }
    // On a thread of its own, as the service creates it: a JVM may refuse
    // the process's main thread.
    HANDLE thread = CreateThread(NULL, 0, applicationThread, jvmModule, 0, NULL);
    if (thread == NULL) {
        reportFinding(FINDING_WARNING, "not checked: no thread for the JVM (error %lu)", GetLastError());
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
