// The JNI side of launching (see JniLaunch.h).
#include "JniLaunch.h"

#include <climits>

namespace zanto {

// The JVM's ABI fixes these widths; a wrong jni_md.h shows here, not as a crash.
static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8 && sizeof(jchar) == sizeof(char16_t));

namespace {

constexpr size_t kLogTextSize = 8192;

// A failed look-up leaves an error pending; the JVM must not be called with it.
// ExceptionOccurred rather than ExceptionCheck: the same few JNI functions serve
// every check here, which keeps the set the launcher needs of a JVM small.
void clearPending(JNIEnv* env) {
  jthrowable thrown = env->ExceptionOccurred();
  if (!thrown) return;
  env->DeleteLocalRef(thrown);
  env->ExceptionClear();
}

bool exceptionPending(JNIEnv* env) {
  jthrowable thrown = env->ExceptionOccurred();
  if (!thrown) return false;
  env->DeleteLocalRef(thrown);
  return true;
}

}  // namespace

void narrowAsciiForLog(const char16_t* text, char* buffer, size_t size) {
  if (size == 0) return;
  size_t n = 0;
  for (; text[n] && n + 1 < size; ++n) buffer[n] = text[n] < 0x80 ? static_cast<char>(text[n]) : '?';
  buffer[n] = '\0';
}

int internalErrorCode(JniResult result) {
  switch (result) {
    case JniResult::FirstRunClassMissing: return 14;
    case JniResult::FirstRunMethodMissing: return 15;
    case JniResult::OutOfMemory: return 21;
    default: return 0;
  }
}

void buildVmInitArgs(VmStartArguments& start, const std::vector<std::string>& optionTexts, JniExitHook exitHook,
                     const LaunchLogger& log) {
  start.texts = optionTexts;
  if (exitHook) start.texts.emplace_back("exit");
  start.options.assign(start.texts.size(), JavaVMOption{});
  for (size_t i = 0; i < start.texts.size(); ++i) {
    start.options[i].optionString = start.texts[i].data();
    start.options[i].extraInfo = nullptr;
  }
  if (exitHook) start.options.back().extraInfo = reinterpret_cast<void*>(exitHook);

  start.initArgs.version = JNI_VERSION_1_2;
  start.initArgs.nOptions = static_cast<jint>(start.options.size());
  start.initArgs.options = start.options.data();
  start.initArgs.ignoreUnrecognized = JNI_TRUE;

  if (log.message) {
    log.message("vmoption count %d", static_cast<int>(start.options.size()));
    for (size_t i = 0; i < start.options.size(); ++i)
      log.message("vmoption %d: %s", static_cast<int>(i), start.options[i].optionString);
  }
}

bool createJvm(CreateJavaVmFunction entry, VmStartArguments& start, JavaVM** vm, JNIEnv** env) {
  return entry(vm, reinterpret_cast<void**>(env), &start.initArgs) == 0;
}

JniResult checkFirstRun(JNIEnv* env) {
  jclass cls = env->FindClass("com/velmora/runtime/FirstRun");
  if (!cls) {
    clearPending(env);
    return JniResult::FirstRunClassMissing;
  }
  jmethodID method = env->GetStaticMethodID(cls, "firstRun", "()Z");
  if (!method) {
    clearPending(env);
    env->DeleteLocalRef(cls);
    return JniResult::FirstRunMethodMissing;
  }
  jboolean goOn = env->CallStaticBooleanMethod(cls, method);
  JniResult result = goOn ? JniResult::Ok : JniResult::StoppedByFirstRun;
  if (exceptionPending(env)) {
    env->ExceptionDescribe();
    result = JniResult::FirstRunThrew;
  }
  env->DeleteLocalRef(cls);
  return result;
}

JniResult callMain(JNIEnv* env, const char* launcherClass, const std::vector<std::u16string>& arguments,
                   const LaunchLogger& log) {
  return callMain(
      env, launcherClass,
      [](const void* list) { return *static_cast<const std::vector<std::u16string>*>(list); }, &arguments, log);
}

JniResult callMain(JNIEnv* env, const char* launcherClass, MainArgumentsBuilder buildArguments, const void* context,
                   const LaunchLogger& log) {
  std::string className(launcherClass);
  for (char& c : className) {
    if (c == '.') c = '/';
  }
  if (log.message) log.message("main class: %s", className.c_str());

  jclass cls = env->FindClass(className.c_str());
  if (!cls) {
    clearPending(env);
    return JniResult::ClassNotFound;
  }
  jmethodID mainMethod = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  if (!mainMethod) {
    clearPending(env);
    return JniResult::MethodNotFound;
  }

  // Built only now: a fault in them (an unmatched quote) must not hide a missing class.
  const std::vector<std::u16string> arguments = buildArguments(context);
  if (log.message) log.message("param count: %d", static_cast<int>(arguments.size()));
  if (arguments.size() > static_cast<size_t>(INT_MAX)) return JniResult::OutOfMemory;
  jclass stringClass = env->FindClass("java/lang/String");
  if (!stringClass) {
    clearPending(env);
    return JniResult::OutOfMemory;
  }
  jobjectArray paramArray = env->NewObjectArray(static_cast<jsize>(arguments.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (!paramArray) {
    clearPending(env);
    return JniResult::OutOfMemory;
  }

  char logText[kLogTextSize];
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& arg = arguments[i];
    if (log.message) {
      if (log.narrowForLog)
        log.narrowForLog(arg.c_str(), logText, sizeof logText);
      else
        narrowAsciiForLog(arg.c_str(), logText, sizeof logText);
      log.message("param %d: %s", static_cast<int>(i), logText);
    }
    if (arg.size() > static_cast<size_t>(INT_MAX)) return JniResult::OutOfMemory;
    jstring jstr = env->NewString(reinterpret_cast<const jchar*>(arg.data()), static_cast<jsize>(arg.size()));
    if (!jstr) {
      clearPending(env);
      return JniResult::OutOfMemory;
    }
    env->SetObjectArrayElement(paramArray, static_cast<jsize>(i), jstr);
    // One local reference per argument would pile up in this frame, which is never
    // popped: a long argument list could exhaust the JVM's local reference table.
    env->DeleteLocalRef(jstr);
  }

  if (log.message) log.message("calling main");
  env->CallStaticVoidMethod(cls, mainMethod, paramArray);
  if (log.message) log.message("main returned");
  JniResult result = JniResult::Ok;
  if (exceptionPending(env)) {
    if (log.error) log.error("an exception occured");
    env->ExceptionDescribe();
    result = JniResult::Exception;
  }
  env->DeleteLocalRef(paramArray);
  env->DeleteLocalRef(cls);
  return result;
}

namespace {

// System.exit(status); returns only when the exit was refused or not found.
JniResult callSystemExit(JNIEnv* env, jint status) {
  jclass systemClass = env->FindClass("java/lang/System");
  if (!systemClass) {
    clearPending(env);
    return JniResult::ClassNotFound;
  }
  jmethodID exitMethod = env->GetStaticMethodID(systemClass, "exit", "(I)V");
  JniResult result = JniResult::Ok;
  if (!exitMethod) {
    clearPending(env);
    result = JniResult::MethodNotFound;
  } else {
    env->CallStaticVoidMethod(systemClass, exitMethod, status);
    // Reached only when the exit was refused (a security manager, for one).
    if (exceptionPending(env)) {
      env->ExceptionDescribe();
      result = JniResult::Exception;
    }
  }
  env->DeleteLocalRef(systemClass);
  return result;
}

}  // namespace

JniResult shutdownJvm(JavaVM* vm, JNIEnv* env) {
  JniResult result = callSystemExit(env, 0);
  vm->DestroyJavaVM();
  return result;
}

JniResult exitJvmFromThread(JavaVM* vm) {
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK &&
      vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
    return JniResult::NotAttached;
  return callSystemExit(env, 0);
}

}  // namespace zanto
