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

// The throwable's toString() as a line of the log (javaTextForLog). False
// when there is none: toString() threw or returned null.
static bool callToString(JNIEnv *env, jthrowable thrown, char *text)
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
        javaTextForLog(utf, text);
        env->ReleaseStringUTFChars(description, utf);
        described = true;
    } else {
        clearPending(env);
    }
    env->DeleteLocalRef(description);
    return described;
}

// A control character in a record would act on whatever shows the log: a
// terminal's escape sequences, a bell, a backspace over earlier text, an
// end-of-file mark. C0 and C1 controls, DEL and the Unicode line and
// paragraph separators count.
static bool isControl(wchar_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029;
}

// One record, one line, nothing that acts: every control character and
// every format character (which would reorder or hide what a reader sees)
// becomes a blank, and a NUL (which Java strings may hold) the visible mark
// "^@", so the text after it is kept. Stops when shown (capacity code units)
// is full.
void makePrintable(const wchar_t *wide, size_t length, wchar_t *shown, size_t capacity)
{
    size_t used = 0;
    for (size_t at = 0; at < length && used + 1 < capacity; at++) {
        size_t format = formatCharacterLength(wide + at, length - at);
        if (wide[at] == L'\0') {
            if (used + 2 >= capacity)
                break;
            shown[used++] = L'^';
            shown[used++] = L'@';
        } else if (format > 0) {
            shown[used++] = L' ';
            at += format - 1;
        } else {
            shown[used++] = isControl(wide[at]) ? L' ' : wide[at];
        }
    }
    shown[used] = L'\0';
}

// Every code unit gives at least one ANSI byte, so EXCEPTION_TEXT_CAPACITY
// code units fill the ANSI text as far as it can go.
void javaTextForLog(const char *modifiedUtf8, char *text)
{
    wchar_t wide[EXCEPTION_TEXT_CAPACITY];
    size_t length = modifiedUtf8ToWide(modifiedUtf8, wide, EXCEPTION_TEXT_CAPACITY);
    wchar_t shown[EXCEPTION_TEXT_CAPACITY];
    makePrintable(wide, length, shown, EXCEPTION_TEXT_CAPACITY);
    ansiCopyN(shown, text, EXCEPTION_TEXT_CAPACITY);
}

static void describeThrowable(JNIEnv *env, jthrowable thrown, char *text)
{
    if (!callToString(env, thrown, text))
        lstrcpynA(text, NO_EXCEPTION_DESCRIPTION, EXCEPTION_TEXT_CAPACITY);
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
