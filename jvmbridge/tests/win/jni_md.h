/* Machine-dependent JNI types of 64-bit Windows, for the test host: the
 * JDK on the build machine ships only the Linux variant of this header. */
#ifndef JVMBRIDGE_TEST_JNI_MD_H
#define JVMBRIDGE_TEST_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
