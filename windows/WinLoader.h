// Choosing and loading the Java runtime: the search sequence and jvm.dll loading.
#pragma once

namespace zanto {

// Finds a runtime, loads its jvm.dll and resolves JNI_CreateJavaVM into
// createJavaVmEntry (JvmEntry.h); on failure shows the one message that fits
// where the runtime was found (when showErrors is set) and returns false.
bool LoadDLL(bool showErrors);

}  // namespace zanto
