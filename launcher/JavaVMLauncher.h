// Running the Java application in process: JVM options and class path, the JVM's
// creation, and the call of the Java-side launcher class's main.
#pragma once

#include <string>
#include <vector>

#include "JniLaunch.h"

namespace zanto {

enum class LaunchResult { Started, Failed, Stopped };

// Creates the JVM with createJavaVmEntry (JvmEntry.h) and calls
// com/zanto/runtime/WinLauncher.main. `exitHook`, when not null, is passed as the
// JNI "exit" option: the JVM calls it on System.exit. Stopped: stopJvm came
// before the JVM was created, and none was. `jvmCreated`, when not null, is
// called right after the JVM's creation, before main; `beforeMain` right before
// main is called (after the first-run step and the argument list).
LaunchResult launchProgram(const std::vector<std::wstring>& launchArguments, bool destroyAfterMain,
                           JniExitHook exitHook, void (*jvmCreated)() = nullptr, void (*beforeMain)() = nullptr);
// System.exit(0) inside the JVM, then DestroyJavaVM.
void shutdownJvm();
// A stop from any thread, once per process. Before the JVM exists it only keeps
// the launch from creating one (the launch ends it itself if creation is under
// way). With the JVM running, main included, it calls System.exit(0) on the
// calling thread, attached for it; true then when the call returned, which
// means the exit did not happen.
bool stopJvm();
// DestroyJavaVM on the creating thread after main returned: it waits for the
// application's last non-daemon thread. False when a stop took the JVM first.
bool destroyJvmAfterMain();

// The launcher's system properties, in their order: zanto.isVelmora (flavour "i"),
// zanto.moduleName, zanto.processCommFile (setting 10005), zanto.tempDir.
std::vector<std::string> buildSystemProperties();
// The argument list of the launcher class's main: the five leading arguments, the
// first launch argument, the expanded and split Arguments, the other launch
// arguments (without "-J" ones when PassVmArguments is set).
std::vector<std::u16string> buildMainArguments(const std::vector<std::wstring>& launchArguments);

}  // namespace zanto
