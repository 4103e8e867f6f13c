// What JVM location hands to the Java launch: the resolved JNI_CreateJavaVM and the
// chosen runtime's home text. Written once by LoadDLL, read-only afterwards.
#pragma once

#include "JniLaunch.h"

namespace zanto {

extern CreateJavaVmFunction createJavaVmEntry;  // null until LoadDLL succeeds
extern char jvmHome[];                          // 8192 bytes; "<bin dir>\.." once a runtime is chosen

}  // namespace zanto
