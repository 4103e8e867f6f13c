// Choosing and loading the Java runtime: the search sequence and jvm.dll loading.
#pragma once

#include <windows.h>

namespace zanto {

// Where the chosen runtime was found; also picks the message when loading fails.
enum JvmOrigin {
  ORIGIN_NONE = 0,
  ORIGIN_SEARCH_PATH = 1,
  ORIGIN_DEFINED_PATH = 2,
  ORIGIN_ENV_VAR = 3,
  ORIGIN_REGISTRY = 4,
};

// Finds a runtime, loads its jvm.dll and resolves JNI_CreateJavaVM into
// createJavaVmEntry (JvmEntry.h); on failure shows the one message that fits
// where the runtime was found (when showErrors is set) and returns false.
bool LoadDLL(bool showErrors);

// Both buffers 8192 bytes: the chosen Java executable and the text for messages.
JvmOrigin searchJvm(char* javaExe, char* definedLocation);
// suffix: "\\.velmora\\pref_jre.cfg" or "\\.velmora\\inst_jre.cfg" below InstallRoot.
bool readLocationFile(char* line, const char* suffix);
bool checkJavaHome(char* javaExe, const char* home, const char* minVersion, const char* maxVersion,
                   bool noVersionCheck);
bool checkEnvJavaHome(char* javaExe, const char* variable, const char* minVersion,
                      const char* maxVersion);
bool checkPathJava(char* javaExe, const char* minVersion, const char* maxVersion);
bool searchRegistryJvm(char* javaExe, const char* minVersion, const char* maxVersion);

HMODULE loadJvmDll(const char* javaExe);
HMODULE loadJvmFromBinDir(const char* javaExe);
HMODULE tryVmTypeDll(const char* javaExe, const char* vmType);
bool getCreateJavaVm(HMODULE library);
void setJvmHome(const char* javaExe);

}  // namespace zanto
