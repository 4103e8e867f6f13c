// Whether one Java executable is acceptable (exists, its version, the limits), the
// version cache in HKCU keyed by the executable's last-write time, and the two
// registry searches: the JavaSoft keys and the launcher's list of located runtimes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zanto {

// Version buffers: the -version line is read up to 99 characters.
constexpr size_t kVersionBufferSize = 100;
constexpr DWORD kJavaVersionTimeoutMs = 60000;

// <home>\jre\bin\java.exe, or <home>\bin\java.exe when the jre form is missing;
// with RequireJdk only a home holding lib\tools.jar qualifies (jre form kept).
bool javaExeFromHome(char* javaExe, const char* home);

// javaExe: 8192 bytes, read and rewritten to its full path (javaw.exe for the
// windowed kind); version: kVersionBufferSize bytes.
bool checkJavaExe(char* javaExe, char* version, const char* minVersion, const char* maxVersion,
                  bool allowBeta);

bool readCachedVersion(const char* javaExe, const FILETIME& lastWrite, char* version, size_t size);
void writeCachedVersion(const char* javaExe, const FILETIME& lastWrite, const char* version);
bool runJavaVersion(const char* javaExe, char* version, size_t size);
HANDLE openInheritableFile(const char* name);

bool searchJavaSoft(char* javaExe, char* version, const char* minVersion, const char* maxVersion);
bool searchLocatedJvms(char* javaExe, char* version, const char* minVersion,
                       const char* maxVersion);

}  // namespace zanto
