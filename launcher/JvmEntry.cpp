// Storage of the JVM entry point and home (see JvmEntry.h).
#include "JvmEntry.h"

#include "Settings.h"

namespace zanto {

CreateJavaVmFunction createJavaVmEntry = nullptr;
char jvmHome[kTextBufferSize];

}  // namespace zanto
