// Running the Java application in process: JVM options and class path, the JVM's
// creation, and the call of the Java-side launcher class's main.
#pragma once

#include <string>
#include <vector>

#include "JniLaunch.h"

namespace zanto {

// Creates the JVM with createJavaVmEntry (JvmEntry.h) and calls
// com/zanto/runtime/WinLauncher.main. `exitHook`, when not null, is passed as the
// JNI "exit" option: the JVM calls it on System.exit.
bool launchProgram(const std::vector<std::wstring>& launchArguments, bool destroyAfterMain, JniExitHook exitHook);
// System.exit(0) inside the JVM, then DestroyJavaVM.
void shutdownJvm();

}  // namespace zanto
