// The JNI side of launching: the JVM start arguments, the first-run hook, the call
// of the launcher class's main and the JVM's shutdown. Portable (only <jni.h>), so
// the same code runs against a real JVM on Linux in the tests; the Win32 caller
// maps the results to its log lines and configured messages.
#pragma once

#include <jni.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zanto {

// Called by the JVM with the exit status when it exits (the "exit" option).
using JniExitHook = void(JNICALL*)(jint status);
// JNI_CreateJavaVM as exported by the JVM library.
using CreateJavaVmFunction = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

// The caller's log. Any member may be null: that output is dropped.
struct LaunchLogger {
  void (*message)(const char* format, ...) = nullptr;
  void (*error)(const char* format, ...) = nullptr;
  // 8-bit form of a main argument for the log line, "?" for what does not map;
  // always terminated within `size` bytes.
  void (*narrowForLog)(const char16_t* text, char* buffer, size_t size) = nullptr;
};

// Replaces everything outside ASCII by "?", cutting at the buffer's end; the
// fallback when the logger brings no conversion of its own.
void narrowAsciiForLog(const char16_t* text, char* buffer, size_t size);

enum class JniResult {
  Ok,
  ClassNotFound,          // launcher class (or java/lang/System on shutdown) missing
  MethodNotFound,         // its main (or System.exit) missing
  FirstRunClassMissing,   // internal error 14
  FirstRunMethodMissing,  // internal error 15
  OutOfMemory,            // no java/lang/String, array or string object: internal error 21
  Exception,              // an exception escaped the called method
  StoppedByFirstRun,      // firstRun returned false
  FirstRunThrew,          // firstRun threw (the exception is described)
  NotAttached,            // the JVM refused to attach the calling thread
};

// The code shown in the internal-error message for a result, 0 when the result is
// not an internal error.
int internalErrorCode(JniResult result);

// Start arguments with their storage; the JVM keeps pointers into it, so the
// object lives as long as the JVM (for the launcher: the process).
struct VmStartArguments {
  std::vector<std::string> texts;
  std::vector<JavaVMOption> options;
  JavaVMInitArgs initArgs{};
};

// Fills `start` with the option texts in order, then (when given) the "exit" hook
// option; JNI 1.2, unknown options ignored. Logs "vmoption count %d" and
// "vmoption %d: %s" for every option.
void buildVmInitArgs(VmStartArguments& start, const std::vector<std::string>& optionTexts, JniExitHook exitHook,
                     const LaunchLogger& log);

// Creates the JVM; true exactly when the entry returned 0.
bool createJvm(CreateJavaVmFunction entry, VmStartArguments& start, JavaVM** vm, JNIEnv** env);

// Runs com.velmora.runtime.FirstRun.firstRun(). Ok when the launch may go on,
// StoppedByFirstRun when it returned false, FirstRunThrew when it threw (the
// exception is described), FirstRunClassMissing / FirstRunMethodMissing when it
// cannot be called.
JniResult checkFirstRun(JNIEnv* env);

// Calls the static main(String[]) of `launcherClass` (dotted or slashed name) with
// `arguments`. Logs "main class: %s", "param count: %d", "param %d: %s",
// "calling main", "main returned", and the error "an exception occured" before the
// exception is described. Returns Ok, ClassNotFound, MethodNotFound, OutOfMemory or
// Exception.
JniResult callMain(JNIEnv* env, const char* launcherClass, const std::vector<std::u16string>& arguments,
                   const LaunchLogger& log);
// The same with the arguments built by `buildArguments(context)` after the class
// and its main were found. (A plain function pointer: std::function would link the
// exception runtime into the launcher.)
using MainArgumentsBuilder = std::vector<std::u16string> (*)(const void* context);
JniResult callMain(JNIEnv* env, const char* launcherClass, MainArgumentsBuilder buildArguments, const void* context,
                   const LaunchLogger& log);

// System.exit(0) inside the JVM, which normally ends the process; then
// DestroyJavaVM. Returns only when the exit did not end the process: Ok when it ran,
// ClassNotFound / MethodNotFound / Exception when System.exit could not be called.
JniResult shutdownJvm(JavaVM* vm, JNIEnv* env);

// System.exit(0) on the calling thread, which need not be the JVM's creator (a stop
// while main still runs on that one): the thread is attached first. Returns only
// when the exit did not end the process: NotAttached, or as shutdownJvm. The JVM is
// not destroyed, since its creator may still be inside it.
JniResult exitJvmFromThread(JavaVM* vm);

}  // namespace zanto
