// An exception left pending by a JNI call is described by the throwable's own
// toString(), the first line of a Java stack trace. No other JNI call may be
// made while an exception is pending, so it is cleared first.
#include "launcher/java_exception.h"

#include <windows.h>

#include "launcher/records.h"
#include "launcher/strings.h"
#include "log/log.h"

#define TO_STRING_NAME "toString"
#define TO_STRING_SIGNATURE "()Ljava/lang/String;"

// Clears what toString() itself may have thrown. True when something was pending.
static bool clearPending(JNIEnv *env)
{
    jthrowable pending = env->ExceptionOccurred();
    if (pending == NULL)
        return false;
    env->ExceptionClear();
    env->DeleteLocalRef(pending);
    return true;
}

// The throwable's toString() as modified UTF-8 decoded into wide (capacity
// EXCEPTION_TEXT_CAPACITY). False when there is none: toString() threw or
// returned null.
static bool callToString(JNIEnv *env, jthrowable thrown, wchar_t *wide)
{
    bool described = false;
    jclass throwableClass = env->GetObjectClass(thrown);
    jmethodID toString = env->GetMethodID(throwableClass, TO_STRING_NAME, TO_STRING_SIGNATURE);
    env->DeleteLocalRef(throwableClass);
    if (clearPending(env) || toString == NULL)
        return false;

    jstring description = (jstring)env->CallObjectMethod(thrown, toString);
    if (clearPending(env) || description == NULL)
        return false;
    const char *utf = env->GetStringUTFChars(description, NULL);
    if (utf != NULL) {
        modifiedUtf8ToWide(utf, wide, EXCEPTION_TEXT_CAPACITY);
        env->ReleaseStringUTFChars(description, utf);
        described = true;
    } else {
        clearPending(env);
    }
    env->DeleteLocalRef(description);
    return described;
}

// Every code unit gives at least one ANSI byte, so EXCEPTION_TEXT_CAPACITY
// code units fill the ANSI text as far as it can go.
static void describeThrowable(JNIEnv *env, jthrowable thrown, char *text)
{
    wchar_t wide[EXCEPTION_TEXT_CAPACITY];
    if (!callToString(env, thrown, wide)) {
        lstrcpynA(text, NO_EXCEPTION_DESCRIPTION, EXCEPTION_TEXT_CAPACITY);
        return;
    }
    // One record, one line.
    for (wchar_t *p = wide; *p != L'\0'; p++)
        if (*p == L'\r' || *p == L'\n')
            *p = L' ';
    ansiCopyN(wide, text, EXCEPTION_TEXT_CAPACITY);
}

bool logPendingException(JNIEnv *env, const char *headline, char *text)
{
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == NULL)
        return false;
    env->ExceptionClear();
    if (headline != NULL)
        logWrite("%s", headline);

    // On this thread's stack: the launcher thread and a shutdown thread may
    // both be describing an exception at the same time.
    char described[EXCEPTION_TEXT_CAPACITY];
    describeThrowable(env, thrown, described);
    env->DeleteLocalRef(thrown);
    logWrite(RECORD_JAVA_EXCEPTION, described);
    if (text != NULL)
        lstrcpynA(text, described, EXCEPTION_TEXT_CAPACITY);
    return true;
}
