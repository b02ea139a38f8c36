// One lookup for both methods: each keeps its own records, so the log reads
// as it always has (main's lookup names what it found, shutdown()'s is quiet).
#include "launcher/lookup.h"

#include "launcher/java_contract.h"
#include "launcher/records.h"
#include "log/log.h"

struct MethodLookup {
    const char *name;
    const char *signature;
    const char *classFoundRecord;  // NULL: none
    const char *missingRecord;     // takes the class name, when it has a place for one
    const char *foundRecord;       // NULL: none
    bool JvmResult::*found;
};

static const MethodLookup lookups[] = {
    {MAIN_METHOD_NAME, MAIN_METHOD_SIGNATURE, RECORD_CLASS_FOUND, RECORD_NO_MAIN, RECORD_MAIN_FOUND,
     &JvmResult::mainFound},
    {SHUTDOWN_METHOD_NAME, SHUTDOWN_METHOD_SIGNATURE, NULL, RECORD_NO_SHUTDOWN, NULL, &JvmResult::shutdownFound},
};

static bool lookupFailed(JNIEnv *env, const char *record, JvmResult *result)
{
    logWrite(record, MAIN_CLASS_NAME);
    logPendingException(env, NULL, result != NULL ? result->exception : NULL);
    return false;
}

bool findMainClassMethod(JNIEnv *env, MainClassMethod which, jclass *mainClass, jmethodID *method, JvmResult *result)
{
    const MethodLookup *lookup = &lookups[which];
    *mainClass = env->FindClass(MAIN_CLASS_NAME);
    if (*mainClass == NULL)
        return lookupFailed(env, RECORD_NO_CLASS, result);
    if (result != NULL)
        result->classFound = true;
    if (lookup->classFoundRecord != NULL)
        logWrite(lookup->classFoundRecord, MAIN_CLASS_NAME);

    *method = env->GetStaticMethodID(*mainClass, lookup->name, lookup->signature);
    if (*method == NULL)
        return lookupFailed(env, lookup->missingRecord, result);
    if (result != NULL)
        result->*lookup->found = true;
    if (lookup->foundRecord != NULL)
        logWrite("%s", lookup->foundRecord);
    return true;
}
