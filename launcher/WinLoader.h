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
// createJavaVmEntry (JvmEntry.h). A runtime that does not load is passed over and
// the search goes on; when none loads, shows the one message that fits where the
// first failed runtime was found, with what failed (when showErrors is set), and
// returns false.
bool LoadDLL(bool showErrors);

// Asked for each runtime the search would take (origin and the entry's value);
// false passes it over and the search goes on with the next source.
using CandidateTry = bool (*)(const char* javaExe, JvmOrigin origin, const char* location);

// Both buffers 8192 bytes: the chosen Java executable and the text for messages.
// Without tryCandidate the first acceptable runtime is taken.
JvmOrigin searchJvm(char* javaExe, char* definedLocation, CandidateTry tryCandidate = nullptr);
// suffix: "\\.velmora\\pref_jre.cfg" or "\\.velmora\\inst_jre.cfg" below InstallRoot.
bool readLocationFile(char* line, const char* suffix);
bool checkJavaHome(char* javaExe, const char* home, const char* minVersion, const char* maxVersion,
                   bool noVersionCheck);
bool checkEnvJavaHome(char* javaExe, const char* variable, const char* minVersion,
                      const char* maxVersion);
bool checkPathJava(char* javaExe, const char* minVersion, const char* maxVersion);
bool searchRegistryJvm(char* javaExe, const char* minVersion, const char* maxVersion);

// Whether <bin>\<type>\jvm.dll or <bin>\..\jre\bin\<type>\jvm.dll exists for any
// VM type: a java.exe without one is a copy that only starts another runtime.
bool hasVmLibrary(const char* javaExe);

// Loads jvm.dll with its imports searched in the runtime's own bin folders (the
// one above its VM type folder and that of javaExe), its own folder and System32:
// never the current directory or PATH, and no process-wide search change.
HMODULE loadRuntimeLibrary(const char* jvmPath, const char* javaExe);
// What went wrong with the last loadJvmDll (empty when it loaded): the file and
// the Windows error, for the log and the message.
const char* lastLoadFailure();

HMODULE loadJvmDll(const char* javaExe);
HMODULE loadJvmFromBinDir(const char* javaExe);
HMODULE tryVmTypeDll(const char* javaExe, const char* vmType);
bool getCreateJavaVm(HMODULE library);
void setJvmHome(const char* javaExe);

}  // namespace zanto
