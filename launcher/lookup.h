// The main class's static methods, looked up by the launcher (main, and
// shutdown() for the operator's check) and by the stop (shutdown()).
#ifndef VELMORANE_LOOKUP_H
#define VELMORANE_LOOKUP_H

#include <jni.h>

#include "launcher/jvm_result.h"

enum MainClassMethod { LOOK_UP_MAIN, LOOK_UP_SHUTDOWN };

// Looks up the main class and the method on an attached thread, with each
// method's own records. False after the failure's record and the record of
// the Java exception, which is cleared. Marks what it found in result, and
// keeps the exception's text there, unless result is NULL.
bool findMainClassMethod(JNIEnv *env, MainClassMethod which, jclass *mainClass, jmethodID *method, JvmResult *result);

#endif
