// What the launcher relies on from the Java side: the virtual machine's
// invocation interface and the application's main class.
#ifndef VELMORANE_JAVA_CONTRACT_H
#define VELMORANE_JAVA_CONTRACT_H

#include <jni.h>

#define MAIN_CLASS_NAME "com/orvenda/calistren/test/lt/nextgen/Velmorane"
#define MAIN_METHOD_NAME "main"
#define MAIN_METHOD_SIGNATURE "([Ljava/lang/String;)V"
#define SHUTDOWN_METHOD_NAME "shutdown"
#define SHUTDOWN_METHOD_SIGNATURE "()V"
#define STRING_CLASS_NAME "java/lang/String"
#define MAIN_ARGUMENT_PREFIX "installbase="
#define CREATE_JVM_EXPORT "JNI_CreateJavaVM"

// How long the service waits for the application's shutdown() at a stop.
#define SHUTDOWN_WAIT_MS 20000

typedef jint(JNICALL *CreateJavaVMFunction)(JavaVM **vm, void **env, void *args);

#endif
