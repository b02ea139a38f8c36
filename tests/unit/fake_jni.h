// A scripted stand-in for the virtual machine, exported by the test program
// itself as JNI_CreateJavaVM, so the launcher's JNI calls can be followed
// without a Java runtime.
#ifndef VELMORANE_FAKE_JNI_H
#define VELMORANE_FAKE_JNI_H

#include <jni.h>

#include <string>
#include <vector>

struct FakeJvmScript {
    jint createResult;
    bool mainClassFound;
    bool mainMethodFound;
    bool shutdownMethodFound;
    jint attachResult;
    bool shutdownThrows;
};

extern FakeJvmScript fakeScript;
extern JavaVM fakeVm;
// What the fake saw, in order: "create", "FindClass <name>", "main <argument>",
// "shutdown", "attach", "detach", ...
extern std::vector<std::string> fakeCalls;
// The initialisation arguments JNI_CreateJavaVM was given, copied.
extern jint fakeVersion;
extern std::vector<std::string> fakeOptions;
extern jboolean fakeIgnoreUnrecognized;

void resetFakeJvm(void);

#endif
