/*
 * Machine-dependent JNI types for 64-bit Windows.
 *
 * The JDK packaged for Linux ships only the Linux variant of this header;
 * jni.h includes "jni_md.h" and finds this one on the include path instead.
 * As JNI defines them: jint is 32 bits, jlong 64 bits.
 */
#ifndef VELMORANE_JNI_MD_H
#define VELMORANE_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
