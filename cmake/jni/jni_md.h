/* Machine-dependent JNI types for Windows (32-bit and 64-bit), used with the OpenJDK jni.h. */
#ifndef MORIX_JNI_MD_H
#define MORIX_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* The JNI calling convention on Windows is __stdcall; on x64 the compiler ignores it. */
#define JNICALL __stdcall

/* Windows is LLP64: long is 32 bits on both targets. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
