// What the virtual machine stage found, and the lookups of the main class's
// methods that the stage and the operator's check make.
#ifndef VELMORANE_JVM_RESULT_H
#define VELMORANE_JVM_RESULT_H

#include "launcher/java_exception.h"

struct JvmResult {
    bool optionsAssembled; // the option array could be allocated
    bool exportFound;      // jvm.dll exports JNI_CreateJavaVM
    bool createCalled;
    jint createResult;     // JNI_CreateJavaVM's result, once called
    bool created;
    bool classFound;
    bool mainFound;
    bool shutdownFound;
    bool mainInvoked;
    bool mainThrew;
    char exception[EXCEPTION_TEXT_CAPACITY]; // the last Java exception's text; empty: none
};

#endif
