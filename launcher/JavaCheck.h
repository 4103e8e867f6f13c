// Whether one Java executable is acceptable (exists, its version, the limits), the
// version cache in HKCU keyed by the executable's last-write time, and the two
// registry searches: the JavaSoft keys and the launcher's list of located runtimes.
#pragma once

#include <windows.h>

#include <cstddef>

#include "Settings.h"

namespace zanto {

// Version buffers: the -version line is read up to 99 characters.
constexpr size_t kVersionBufferSize = 100;
constexpr DWORD kJavaVersionTimeoutMs = 60000;

// <home>\jre\bin\java.exe, or <home>\bin\java.exe when the jre form is missing;
// with RequireJdk only a home holding lib\tools.jar qualifies (jre form kept),
// or under the numeric rule one holding bin\javac.exe (bin form).
bool javaExeFromHome(char* javaExe, const char* home);

// javaExe: 8192 bytes, read and rewritten to its full path (javaw.exe for the
// windowed kind); version: kVersionBufferSize bytes.
bool checkJavaExe(char* javaExe, char* version, const char* minVersion, const char* maxVersion,
                  bool allowBeta);

// Where a version was learnt. The cache keeps each in values of its own: "Version"
// and "LastWriteTime" hold only what the classic rule takes from a run, so a
// launcher without the opt-in rules never reads a version it could not have taken.
enum class VersionSource {
  Run,          // a first line the classic rule reads ("java version ...")
  NumericRun,   // a first line only the numeric rule reads ("openjdk version ...")
  ReleaseFile,  // JAVA_VERSION of the runtime's release file
};

// The valid entry of one source; false when missing, stale or damaged.
bool readCachedVersion(const char* javaExe, const FILETIME& lastWrite, char* version, size_t size,
                       VersionSource source = VersionSource::Run);
void writeCachedVersion(const char* javaExe, const FILETIME& lastWrite, const char* version,
                        VersionSource source = VersionSource::Run);
// `source` (may be null) says which rule read the line: Run or NumericRun.
bool runJavaVersion(const char* javaExe, char* version, size_t size, VersionSource* source = nullptr);
HANDLE openInheritableFile(const char* name);

bool searchJavaSoft(char* javaExe, char* version, const char* minVersion, const char* maxVersion);
bool searchLocatedJvms(char* javaExe, char* version, const char* minVersion,
                       const char* maxVersion);

// The opt-in rules of the block (off when a block does not have them).
bool numericVersionRule();
bool releaseFileRule();
bool wideRegistryRule();

// JAVA_VERSION of the `release` file beside the executable's bin directory (for
// <home>\jre\bin also <home>\release). No child process.
bool readReleaseVersion(const char* javaExe, char* version, size_t size);

// One runtime proposed by a registry source, with the key it was found under.
struct RegistryRuntime {
  char javaExe[kTextBufferSize];
  char version[kVersionBufferSize];
  char from[kTextBufferSize];
};

// The registry layouts of the wider search: SOFTWARE\JavaSoft\JDK and \JRE and the
// current vendors' own keys, read in the registry view of the launcher's bitness.
size_t vendorLayoutCount();
// The first acceptable runtime of one layout, newest key first.
bool searchVendorLayout(size_t index, RegistryRuntime* out, const char* minVersion,
                        const char* maxVersion);

}  // namespace zanto
