// The in-process launch (see JavaVMLauncher.h): system properties, the JVM's
// creation with the assembled options, the first-run hook of the velmora flavour,
// main's arguments and the call of the Java-side launcher class. The JNI calls
// themselves are in JniLaunch; this file maps their results to log lines and
// configured messages.
#include "JavaVMLauncher.h"

#include <windows.h>

#include <cstring>

#include "ClassPath.h"
#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "Extraction.h"
#include "JvmEntry.h"
#include "LaunchText.h"
#include "Log.h"
#include "ParameterSplitter.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

constexpr char kLauncherClass[] = "com/zanto/runtime/WinLauncher";
// The code of an extraction directory that cannot be made: the same private directory.
constexpr int kNoCommFileDirectory = 7;

JavaVM* javaVm = nullptr;
JNIEnv* jniEnv = nullptr;
bool jvmCreated = false;
// After DestroyJavaVM no JNI call is allowed, so a later shutdown does nothing.
bool jvmDestroyed = false;
// Where the JVM stands for a stop from another thread; moved only by compare and
// exchange, so that exactly one thread ends the JVM.
enum JvmPhase : LONG { NoJvm, Creating, Alive, Exiting, Destroyed };
volatile LONG jvmPhase = NoJvm;

bool movePhase(LONG from, LONG to) { return InterlockedCompareExchange(&jvmPhase, to, from) == from; }
// The JVM keeps pointers into the option texts: they live as long as the process.
VmStartArguments startArguments;

void narrowForLog(const char16_t* text, char* buffer, size_t size) {
  // Only the log line is cut; the argument itself goes to the JVM whole.
  copyText(buffer, size, toNarrowText(text, wideLength(text), fileApiCodePage()).c_str());
}

const LaunchLogger kLogger{&logMessage, &logError, &narrowForLog};

std::string property(const char* name, const char* value) {
  static char text[kTextBufferSize];
  bool fits = value ? formatText(text, sizeof text, "-D%s=%s", name, value)
                    : formatText(text, sizeof text, "-D%s=true", name);
  if (!fits) refuseTooLongText(name);
  return text;
}

std::u16string redirectionFile(int32_t flagId, int32_t fileId, const char* what) {
  if (getIntSetting(flagId) == 0) return {};
  static char configured[kTextBufferSize];
  static char full[kTextBufferSize];
  readTextSetting(fileId, configured, what);
  fullLaunchPath(full, configured, true, what);
  return toWideText(full, fileApiCodePage(), what);
}

// True when the launch may go on; the marker below InstallRoot asks for the hook.
bool checkFirstRun() {
  static char root[kTextBufferSize];
  static char marker[kTextBufferSize];
  readTextSetting(setting::InstallRoot, root, "InstallRoot");
  fullLaunchPath(marker, root, false, "InstallRoot");
  size_t length = std::strlen(marker);
  const char* suffix = length > 0 && marker[length - 1] == '\\' ? ".velmora\\firstrun" : "\\.velmora\\firstrun";
  if (!appendText(marker, sizeof marker, suffix)) refuseTooLongText("first-run marker");
  if (!fileExists(marker)) return true;
  JniResult result = zanto::checkFirstRun(jniEnv);
  if (int code = internalErrorCode(result)) fatalInternalError(code);
  // An administrator must learn why the service did not start; the JVM stays
  // idle otherwise, and the next start repeats the same.
  if (result != JniResult::Ok) noteFailureCode(kFailureFirstRun);
  if (result == JniResult::FirstRunThrew) showError("The first-run step failed: FirstRun.firstRun threw an exception.");
  if (result == JniResult::StoppedByFirstRun)
    showError("The first-run step stopped the start: FirstRun.firstRun returned false.");
  return result == JniResult::Ok;
}

struct MainCall {
  const std::vector<std::wstring>* launchArguments;
  void (*beforeMain)();
};

bool callMain(const std::vector<std::wstring>& launchArguments, void (*beforeMain)()) {
  if (productFlavor() == 'i' && !checkFirstRun()) {
    logMessage("checkFirstRun stopped further execution");
    return false;
  }
  const MainCall call{&launchArguments, beforeMain};
  JniResult result = zanto::callMain(
      jniEnv, kLauncherClass,
      [](const void* context) {
        const MainCall& call = *static_cast<const MainCall*>(context);
        std::vector<std::u16string> arguments = buildMainArguments(*call.launchArguments);
        if (call.beforeMain) call.beforeMain();
        return arguments;
      },
      &call, kLogger);
  switch (result) {
    case JniResult::Ok: return true;
    case JniResult::ClassNotFound:
      logError("could not find main class");
      fatalConfiguredError(message::MainClassNotFound, nullptr, nullptr);
    case JniResult::MethodNotFound:
      logError("could not find main method");
      fatalConfiguredError(message::MainMethodNotFound, nullptr, nullptr);
    default:
      if (int code = internalErrorCode(result)) fatalInternalError(code);
      return false;
  }
}

}  // namespace

std::vector<std::string> buildSystemProperties() {
  std::vector<std::string> properties;
  if (productFlavor() == 'i') properties.push_back(property("zanto.isVelmora", nullptr));
  properties.push_back(property("zanto.moduleName", getExecutablePath()));
  if (getIntSetting(setting::ProcessCommFile) != 0) {
    static char commFile[kTextBufferSize];
    if (!getProcessTempFileName(commFile, static_cast<int>(GetCurrentProcessId()))) {
      logError("no place for the process comm file");
      fatalInternalError(kNoCommFileDirectory);
    }
    properties.push_back(property("zanto.processCommFile", commFile));
  }
  properties.push_back(property("zanto.tempDir", extractionDirectory));
  return properties;
}

std::vector<std::u16string> buildMainArguments(const std::vector<std::wstring>& launchArguments) {
  LauncherPrefixValues prefix;
  prefix.windowed = getIntSetting(setting::ExecutableType) == 1;
  static char text[kTextBufferSize];
  readTextSetting(setting::MainClass, text, "MainClass");
  prefix.mainClass = toWideText(text, blockCodePage(), "MainClass");
  prefix.stderrFile = redirectionFile(setting::RedirectStderr, setting::StderrFile, "StderrFile");
  prefix.stdoutFile = redirectionFile(setting::RedirectStdout, setting::StdoutFile, "StdoutFile");
  prefix.append = getIntSetting(setting::RedirectAppend) != 0;

  readTextSetting(setting::Arguments, text, "Arguments");
  expandLaunchText(text, "Arguments");
  std::u16string wide = toWideText(text, blockCodePage(), "Arguments");
  std::vector<std::u16string> configured;
  switch (splitParameters(wide.c_str(), configured)) {
    case SplitStatus::Ok: break;
    case SplitStatus::UnmatchedQuote: fatalConfiguredError(message::WrongParameterUsage, nullptr, nullptr);
    case SplitStatus::TooLong: refuseTooLongText("Arguments");
  }

  std::vector<std::u16string> launch;
  for (const auto& arg : launchArguments)
    launch.emplace_back(reinterpret_cast<const char16_t*>(arg.data()), arg.size());
  return buildMainArgumentList(prefix, launch, configured, getIntSetting(setting::PassVmArguments) != 0);
}

LaunchResult launchProgram(const std::vector<std::wstring>& launchArguments, bool destroyAfterMain,
                           JniExitHook exitHook, void (*afterCreation)(), void (*beforeMain)()) {
  logMessage("launching program");
  std::vector<std::string> options = buildSystemProperties();
  buildVmOptionList(options, launchArguments);
  buildVmInitArgs(startArguments, options, exitHook, kLogger);
  if (!movePhase(NoJvm, Creating)) {
    logMessage("stop requested before the JVM was created");
    return LaunchResult::Stopped;
  }
  logMessage("Creating JVM");
  if (!createJavaVmEntry || !createJvm(createJavaVmEntry, startArguments, &javaVm, &jniEnv)) {
    logError("could not initialize JVM");
    // Without a report the administrator would see only exit code 1.
    showConfiguredError(message::JvmStartFailed, nullptr, nullptr);
    return LaunchResult::Failed;
  }
  logMessage("JVM created");
  jvmCreated = true;
  if (afterCreation) afterCreation();
  if (!movePhase(Creating, Alive)) {
    // A stop came while the JVM was being created: end it here, main never runs.
    logMessage("stop requested while the JVM was created");
    shutdownJvm(javaVm, jniEnv);
    return LaunchResult::Stopped;
  }

  if (!callMain(launchArguments, beforeMain)) {
    logError("could not call main");
    return LaunchResult::Failed;
  }
  if (destroyAfterMain) {
    logMessage("dest JVM");
    javaVm->DestroyJavaVM();
    jvmDestroyed = true;
  }
  logMessage("launch done");
  return LaunchResult::Started;
}

void shutdownJvm() {
  if (!jvmCreated || jvmDestroyed) return;
  JniResult result = shutdownJvm(javaVm, jniEnv);
  if (result != JniResult::Ok) logError("could not call System.exit");
}

bool stopJvm() {
  for (;;) {
    LONG phase = jvmPhase;
    if (phase == Exiting || phase == Destroyed) return false;
    if (!movePhase(phase, Exiting)) continue;
    if (phase != Alive) return false;  // the launch sees Exiting and creates or keeps no JVM
    logMessage("stopping the JVM: System.exit(0)");
    JniResult result = exitJvmFromThread(javaVm);
    logError(result == JniResult::NotAttached ? "could not attach to the JVM" : "could not call System.exit");
    return true;
  }
}

bool destroyJvmAfterMain() {
  logMessage("main returned: waiting for the application's threads (DestroyJavaVM)");
  javaVm->DestroyJavaVM();
  logMessage("DestroyJavaVM returned");
  jvmDestroyed = true;
  return movePhase(Alive, Destroyed);
}

}  // namespace zanto
