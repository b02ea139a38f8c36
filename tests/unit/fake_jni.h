// A scripted stand-in for the virtual machine, exported by the test program
// itself as JNI_CreateJavaVM, so the launcher's JNI calls can be followed
// without a Java runtime.
#ifndef VELMORANE_FAKE_JNI_H
#define VELMORANE_FAKE_JNI_H

#include <windows.h>

#include <jni.h>

#include <string>
#include <vector>

#define FAKE_EXCEPTION_TEXT "java.lang.Error: fake"

// What the fake does. The defaults are a virtual machine where everything is
// found and succeeds; a test names only what it changes, in this order:
//   fakeScript = FakeJvmScript{.mainMethodFound = false};
struct FakeJvmScript {
    jint createResult = JNI_OK; // JNI_CreateJavaVM's result
    bool mainClassFound = true; // FindClass of the main class
    bool mainMethodFound = true; // GetStaticMethodID of main
    bool shutdownMethodFound = true; // GetStaticMethodID of shutdown
    jint attachResult = JNI_OK; // AttachCurrentThread's result
    bool shutdownThrows = false; // an exception pending after shutdown()
    bool mainThrows = false; // an exception pending after main
    // What toString() of whatever the fake throws returns (modified UTF-8);
    // NULL: it returns null.
    const char *exceptionText = FAKE_EXCEPTION_TEXT;
    bool toStringThrows = false; // toString() throws instead
    // Thread.getAllStackTraces(): threads "fake-<n>" (RUNNABLE) with frames
    // "fake.Code.f<m>(Code.java:<m>)"; the one at shutdownThreadAt (-1: none)
    // is TIMED_WAITING, its outermost frame the main class's shutdown().
    int dumpThreads = 2;
    int dumpFrames = 3;
    int shutdownThreadAt = 1;
    const char *firstThreadName = NULL; // replaces "fake-0"
    const char *dumpThrowsIn = NULL; // the Java method of the dump that throws
    const char *dumpHoldIn = NULL; // the Java method of the dump that waits ...
    HANDLE dumpHold = NULL; // ... until this event is set
};

extern FakeJvmScript fakeScript;
extern JavaVM fakeVm;
// What the fake saw, in order: "create", "FindClass <name>", "main <argument>",
// "shutdown", "attach", "detach", "ExceptionClear", "toString", ... A call made
// while an exception is pending is recorded with "pending! " before it.
extern std::vector<std::string> fakeCalls;
// The initialisation arguments JNI_CreateJavaVM was given, copied.
extern jint fakeVersion;
extern std::vector<std::string> fakeOptions;
extern jboolean fakeIgnoreUnrecognized;
// Local references and UTF-8 texts handed out and not yet given back.
extern int fakeLiveReferences;

void resetFakeJvm(void);

#endif
