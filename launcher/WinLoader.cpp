// The JVM search sequence and jvm.dll loading (see WinLoader.h). Every decision is
// logged, since the log is how a user learns why a runtime was taken or refused.
#include "WinLoader.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "JavaCheck.h"
#include "JavaVersion.h"
#include "JvmEntry.h"
#include "Log.h"
#include "PackedJre.h"
#include "Paths.h"
#include "PeLayout.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

const char kPreferredLocation[] = "\\.velmora\\pref_jre.cfg";
const char kInstallerLocation[] = "\\.velmora\\inst_jre.cfg";
const char* const kVmTypes[] = {"hotspot", "client", "server", "classic", "jrockit"};

bool isAbsoluteValue(const char* value) {
  return std::strlen(value) >= 2 && (value[1] == ':' || (value[0] == '\\' && value[1] == '\\'));
}

// Length of the Java executable path without its file name (javaw.exe or java.exe).
size_t binDirectoryLength(const char* javaExe) {
  size_t length = std::strlen(javaExe);
  size_t cut = length >= 9 && std::strcmp(javaExe + length - 9, "javaw.exe") == 0 ? 9 : 8;
  return length >= cut ? length - cut : 0;
}

void copyBinDirectory(char* out, const char* javaExe) {
  size_t keep = binDirectoryLength(javaExe);
  if (keep >= kTextBufferSize) keep = kTextBufferSize - 1;
  std::memcpy(out, javaExe, keep);
  out[keep] = '\0';
}

// A library of the other bitness cannot load; say so instead of a bare error 193.
bool machineMatches(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;  // LoadLibraryA reports what is wrong
  FileSource source(file);
  PeInfo info;
  bool readable = readPeInfo(source, &info);
  CloseHandle(file);
  const uint16_t own = sizeof(void*) == 8 ? kMachineAmd64 : kMachineI386;
  if (!readable || info.machine == own) return true;
  logMessage("Skipping %s: machine type 0x%04x does not match this %d-bit launcher", path,
             info.machine, static_cast<int>(sizeof(void*) * 8));
  return false;
}

}  // namespace

bool readLocationFile(char* line, const char* suffix) {
  static char root[kTextBufferSize], path[kTextBufferSize];
  getStringSetting(setting::InstallRoot, root, sizeof root);
  getFullPath(path, root, false);
  if (!appendText(path, sizeof path, suffix)) return false;
  FILE* in = std::fopen(path, "r");
  if (!in) return false;
  bool read = std::fgets(line, kTextBufferSize, in) != nullptr;
  std::fclose(in);
  if (!read) return false;
  size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n'))
    line[--length] = '\0';
  return true;
}

bool checkJavaHome(char* javaExe, const char* home, const char* minVersion, const char* maxVersion,
                   bool noVersionCheck) {
  static char full[kTextBufferSize];
  getFullPath(full, home, false);
  prepareJre(full);
  bool found = javaExeFromHome(javaExe, full);
  if (noVersionCheck) return true;
  char version[kVersionBufferSize];
  return found && checkJavaExe(javaExe, version, minVersion, maxVersion, true);
}

bool checkEnvJavaHome(char* javaExe, const char* variable, const char* minVersion,
                      const char* maxVersion) {
  static char value[kTextBufferSize];
  DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
  // A value that does not fit is refused rather than cut: a cut path names another place.
  if (n == 0 || n >= sizeof value) return false;
  for (char* p = value; *p; ++p)
    if (*p == '/') *p = '\\';
  if (!javaExeFromHome(javaExe, value)) return false;
  char version[kVersionBufferSize];
  return checkJavaExe(javaExe, version, minVersion, maxVersion, false);
}

bool checkPathJava(char* javaExe, const char* minVersion, const char* maxVersion) {
  DWORD n = SearchPathA(nullptr, "java.exe", nullptr, kTextBufferSize, javaExe, nullptr);
  if (n == 0 || n >= kTextBufferSize) return false;
  char version[kVersionBufferSize];
  return checkJavaExe(javaExe, version, minVersion, maxVersion, false);
}

namespace {

// The classic JavaSoft search, then every layout of the wider search: the newest
// acceptable runtime wins, the first of equal versions stays.
bool searchWideRegistry(RegistryRuntime* best, const char* minVersion, const char* maxVersion) {
  static RegistryRuntime candidate;
  const bool numeric = numericVersionRule();
  bool found = false;
  for (size_t layout = 0; layout <= vendorLayoutCount(); ++layout) {
    bool ok;
    if (layout == 0) {
      ok = searchJavaSoft(candidate.javaExe, candidate.version, minVersion, maxVersion);
      copyText(candidate.from, sizeof candidate.from, "SOFTWARE\\JavaSoft");
    } else {
      ok = searchVendorLayout(layout - 1, &candidate, minVersion, maxVersion);
    }
    if (!ok) continue;
    logMessage("Registry candidate %s (version %s) from %s", candidate.javaExe, candidate.version,
               candidate.from);
    if (!found || compareVersions(numeric, candidate.version, best->version) > 0) {
      std::memcpy(best, &candidate, sizeof candidate);
      found = true;
    }
  }
  return found;
}

}  // namespace

bool searchRegistryJvm(char* javaExe, const char* minVersion, const char* maxVersion) {
  static RegistryRuntime soft;
  static char locatedExe[kTextBufferSize];
  char locatedVersion[kVersionBufferSize];
  const bool wide = wideRegistryRule();
  bool found = wide ? searchWideRegistry(&soft, minVersion, maxVersion)
                    : searchJavaSoft(soft.javaExe, soft.version, minVersion, maxVersion);
  bool located = searchLocatedJvms(locatedExe, locatedVersion, minVersion, maxVersion);
  if (!found && !located) return false;
  bool takeSoft = found && (!located || compareVersions(numericVersionRule(), soft.version,
                                                        locatedVersion) > 0);
  copyText(javaExe, kTextBufferSize, takeSoft ? soft.javaExe : locatedExe);
  if (wide)
    logMessage("Using registry runtime %s from %s", javaExe,
               takeSoft ? soft.from : "the located runtimes");
  return true;
}

JvmOrigin searchJvm(char* javaExe, char* definedLocation) {
  logMessage("Searching for a JVM");
  static char sequence[kTextBufferSize], minVersion[kTextBufferSize], maxVersion[kTextBufferSize];
  static char line[kTextBufferSize];
  getStringSetting(setting::JvmSearchSequence, sequence, sizeof sequence);
  getStringSetting(setting::MinJavaVersion, minVersion, sizeof minVersion);
  getStringSetting(setting::MaxJavaVersion, maxVersion, sizeof maxVersion);

  if (readLocationFile(line, kPreferredLocation)) {
    logMessage("Has preferred location %s", line);
    if (checkJavaHome(javaExe, line, minVersion, maxVersion, false)) {
      logMessage("Using preferred location");
      copyText(definedLocation, kTextBufferSize, line);
      return ORIGIN_DEFINED_PATH;
    }
  }

  std::vector<std::string> entries;
  for (const char* p = sequence; *p;) {
    const char* end = std::strchr(p, ';');
    size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (length > 0) entries.emplace_back(p, length);
    p += length + (end ? 1 : 0);
  }

  for (const std::string& entry : entries) {
    const char letter = entry[0];
    const char* value = entry.c_str() + 1;
    logMessage("Testing location %s (type %c)", value, letter);
    JvmOrigin origin = ORIGIN_NONE;
    switch (letter) {
      case 'A':
      case 'B':
      case 'R':
        if (checkJavaHome(javaExe, value, minVersion, maxVersion, false))
          origin = ORIGIN_DEFINED_PATH;
        break;
      case 'E':
        if (checkEnvJavaHome(javaExe, value, minVersion, maxVersion)) origin = ORIGIN_ENV_VAR;
        break;
      case 'S':
        if (checkPathJava(javaExe, minVersion, maxVersion)) origin = ORIGIN_SEARCH_PATH;
        break;
      case 'Y':
        if (searchRegistryJvm(javaExe, minVersion, maxVersion)) return ORIGIN_REGISTRY;
        break;
      default:
        break;
    }
    if (origin != ORIGIN_NONE) {
      copyText(definedLocation, kTextBufferSize, value);
      return origin;
    }
  }
  logMessage("Search sequence finished");

  const char* productVariable = productFlavor() == 'e'   ? "ZANTO_JAVA_HOME"
                                : productFlavor() == 'i' ? "VELMORA_JAVA_HOME"
                                                         : nullptr;
  if (productVariable && checkEnvJavaHome(javaExe, productVariable, minVersion, maxVersion)) {
    copyText(definedLocation, kTextBufferSize, productVariable);
    return ORIGIN_ENV_VAR;
  }

  if (readLocationFile(line, kInstallerLocation)) {
    logMessage("Has installer location %s", line);
    if (checkJavaHome(javaExe, line, minVersion, maxVersion, false)) {
      logMessage("Using installer location");
      copyText(definedLocation, kTextBufferSize, line);
      return ORIGIN_DEFINED_PATH;
    }
  }

  for (const std::string& entry : entries) {
    const char letter = entry[0];
    const char* value = entry.c_str() + 1;
    if (letter != 'A' && letter != 'B' && letter != 'R') continue;
    if (letter != 'B' && isAbsoluteValue(value)) continue;
    logMessage("Testing relative location %s", value);
    if (checkJavaHome(javaExe, value, minVersion, maxVersion, true) && fileExists(javaExe)) {
      logMessage("%s exists", javaExe);
      copyText(definedLocation, kTextBufferSize, value);
      return ORIGIN_DEFINED_PATH;
    }
  }
  return ORIGIN_NONE;
}

HMODULE tryVmTypeDll(const char* javaExe, const char* vmType) {
  static char path[kTextBufferSize];
  copyBinDirectory(path, javaExe);
  if (!appendText(path, sizeof path, vmType) || !appendText(path, sizeof path, "\\jvm.dll"))
    return nullptr;
  logMessage("Trying %s (exists %d)", path, fileExists(path) ? 1 : 0);
  if (!machineMatches(path)) return nullptr;
  return LoadLibraryA(path);
}

HMODULE loadJvmFromBinDir(const char* javaExe) {
  char preferred[kTextBufferSize];
  getStringSetting(setting::PreferredVmType, preferred, sizeof preferred);
  HMODULE library = preferred[0] ? tryVmTypeDll(javaExe, preferred) : nullptr;
  for (const char* type : kVmTypes) {
    if (library) break;
    library = tryVmTypeDll(javaExe, type);
  }
  return library;
}

HMODULE loadJvmDll(const char* javaExe) {
  HMODULE library = loadJvmFromBinDir(javaExe);
  if (library) return library;
  // A JDK whose own bin has no VM library: its private runtime in jre\bin.
  static char privateJre[kTextBufferSize];
  copyBinDirectory(privateJre, javaExe);
  if (!appendText(privateJre, sizeof privateJre, "..\\jre\\bin\\java.exe")) return nullptr;
  return loadJvmFromBinDir(privateJre);
}

bool getCreateJavaVm(HMODULE library) {
  if (!library) return false;
  FARPROC entry = GetProcAddress(library, "JNI_CreateJavaVM");
#if !defined(_WIN64)
  // Built without --kill-at, a 32-bit jvm.dll exports only the stdcall name.
  if (!entry) entry = GetProcAddress(library, "_JNI_CreateJavaVM@12");
#endif
  if (!entry) return false;
  createJavaVmEntry = reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(entry));
  return true;
}

void setJvmHome(const char* javaExe) {
  copyBinDirectory(jvmHome, javaExe);
  appendText(jvmHome, kTextBufferSize, "..");
}

bool LoadDLL(bool showErrors) {
  logMessage("LoadDLL (%d, %s, %d)", showErrors ? 1 : 0, "(null)", 0);
  static char javaExe[kTextBufferSize], definedLocation[kTextBufferSize];
  javaExe[0] = definedLocation[0] = '\0';
  JvmOrigin origin = searchJvm(javaExe, definedLocation);
  if (origin == ORIGIN_NONE) {
    logError("No JVM found");
    if (showErrors) showConfiguredError(message::NoJvm, nullptr, nullptr);
    return false;
  }
  logMessage("Trying to load JVM-DLL from %s", javaExe);
  HMODULE library = loadJvmDll(javaExe);
  setJvmHome(javaExe);
  if (!library) logError("Could not get DLL-Handle.");
  bool entry = getCreateJavaVm(library);
  if (!entry) logError("Could not load functions");
  if (library && entry) {
    logMessage("Loading of JVM-DLL successful");
    return true;
  }
  if (showErrors) {
    switch (origin) {
      case ORIGIN_SEARCH_PATH:
        showConfiguredError(message::SearchPathJvmDamaged, nullptr, nullptr);
        break;
      case ORIGIN_ENV_VAR:
        showConfiguredError(message::EnvVarJvmBroken, "%ENV_VAR_NAME%", definedLocation);
        break;
      case ORIGIN_DEFINED_PATH:
        showConfiguredError(message::DefinedPathJvmDamaged, "%DEFINED_PATH%", definedLocation);
        break;
      default:
        showConfiguredError(message::JvmStartFailed, nullptr, nullptr);
        break;
    }
  }
  return false;
}

}  // namespace zanto
