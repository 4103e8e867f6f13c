/* Machine-dependent JNI types for Windows targets (i686 and x86_64), for the
 * mingw-w64 builds that take jni.h from a Linux JDK, which ships only its own
 * platform's variant of this header. Matches the Windows JDK ABI. */
#ifndef ZANTO_WINDOWS_JNI_MD_H
#define ZANTO_WINDOWS_JNI_MD_H

#ifndef _WIN32
#error "core/jni/jni_md.h is for Windows targets only"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* Entry points and function tables use stdcall; on x86_64 it is the one convention. */
#define JNICALL __stdcall

/* long is 32 bits on Windows in both widths. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !ZANTO_WINDOWS_JNI_MD_H */
