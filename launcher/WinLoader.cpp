// The JVM search sequence and jvm.dll loading (see WinLoader.h). Every decision is
// logged, since the log is how a user learns why a runtime was taken or refused.
#include "WinLoader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "FileTrust.h"
#include "JavaCheck.h"
#include "JavaVersion.h"
#include "JvmEntry.h"
#include "Log.h"
#include "PackedJre.h"
#include "PathText.h"
#include "Paths.h"
#include "PeLayout.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

const char kPreferredLocation[] = "\\.velmora\\pref_jre.cfg";
const char kInstallerLocation[] = "\\.velmora\\inst_jre.cfg";
const char* const kVmTypes[] = {"hotspot", "client", "server", "classic", "jrockit"};
// The C runtimes HotSpot's jvm.dll imports from its runtime's bin (8u261 and later,
// 11 and later: the first three; older 7 and 8: the last two), preloaded by full
// path where the system cannot add a folder to one load's search.
const char* const kRuntimeDlls[] = {"vcruntime140.dll", "vcruntime140_1.dll", "msvcp140.dll", "msvcr100.dll",
                                    "msvcr120.dll"};

// The first failure of the current loadJvmDll, for the message.
char loadFailure[kTextBufferSize];

// Keeps the first failure of a runtime (and logs it as an error when asked): the
// first is the one its VM type order makes the runtime's own.
void noteLoadFailure(bool log, const char* format, ...) {
  static char text[kTextBufferSize];
  va_list args;
  va_start(args, format);
  formatTextV(text, sizeof text, format, args);
  va_end(args);
  if (log) logError("%s", text);
  if (!loadFailure[0]) copyText(loadFailure, sizeof loadFailure, text);
}

// What a failed load's Windows error tells the one who has to fix it.
const char* loadErrorMeaning(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
      return "a DLL that jvm.dll needs is missing";
    case ERROR_PROC_NOT_FOUND:
      return "a DLL that jvm.dll needs lacks a function (another version of it was found)";
    case ERROR_BAD_EXE_FORMAT:
      return "not a library of this launcher's bitness, or damaged";
    case ERROR_DLL_INIT_FAILED:
      return "jvm.dll or a DLL it needs failed to initialise";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_SXS_CANT_GEN_ACTCTX:
      return "the Visual C++ runtime it was built for is not installed";
    default:
      return "it could not be loaded";
  }
}

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
  noteLoadFailure(false, "%s: machine type 0x%04x does not match this %d-bit launcher", path, info.machine,
                  static_cast<int>(sizeof(void*) * 8));
  return false;
}

}  // namespace

bool readLocationFile(char* line, const char* suffix) {
  static char root[kTextBufferSize], path[kTextBufferSize];
  getStringSetting(setting::InstallRoot, root, sizeof root);
  getFullPath(path, root, false);
  size_t rootLength = std::strlen(path);
  if (rootLength > 0 && path[rootLength - 1] == '\\') path[rootLength - 1] = '\0';
  if (!appendText(path, sizeof path, suffix)) return false;
  FILE* in = std::fopen(path, "r");
  if (!in) return false;
  // It names the runtime whose java.exe, unpack200 and jvm.dll this process runs:
  // the file, the folders it lies in and the executable's folder must be safe.
  std::fclose(in);
  static char folder[kTextBufferSize];
  copyText(folder, sizeof folder, path);
  requireTrusted(path, "Java location file");
  for (int level = 0; level < 2; ++level) {
    char* slash = std::strrchr(folder, '\\');
    if (!slash || slash - folder < 3) break;
    *slash = '\0';
    requireTrusted(folder, "folder of the Java location file");
  }
  requireTrustedExecutableFolder();
  in = std::fopen(path, "r");
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
  // A home relative to the executable's folder is as safe as that folder: its
  // unpack200, java.exe and jvm.dll would run in this process or for it.
  if (isRelativePath(home)) {
    requireTrustedExecutableFolder();
    if (fileExists(full)) requireTrusted(full, "Java home");
  }
  if (!prepareJre(full)) return false;
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
  // PATH itself, its absolute folders only: a system search would look in the
  // executable's folder and the current directory first, and a relative entry
  // names a folder below whatever the current directory is.
  static char path[32768];
  DWORD n = GetEnvironmentVariableA("PATH", path, sizeof path);
  if (n == 0 || n >= sizeof path) return false;
  for (const std::string& folder : absolutePathEntries(path)) {
    if (!formatText(javaExe, kTextBufferSize, "%s\\java.exe", folder.c_str()) || !fileExists(javaExe)) continue;
    // Installers put copies of java.exe on PATH (Oracle's javapath) that only start
    // the runtime they belong to; without a VM library beside it this is not a runtime.
    if (!hasVmLibrary(javaExe)) {
      logMessage("Skipping %s: no VM library beside it", javaExe);
      continue;
    }
    char version[kVersionBufferSize];
    if (checkJavaExe(javaExe, version, minVersion, maxVersion, false)) return true;
  }
  javaExe[0] = '\0';
  return false;
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

JvmOrigin searchJvm(char* javaExe, char* definedLocation, CandidateTry tryCandidate) {
  logMessage("Searching for a JVM");
  // The registry leaves the location alone: its messages name none.
  auto taken = [&](JvmOrigin origin, const char* location) {
    if (tryCandidate && !tryCandidate(javaExe, origin, location)) return false;
    if (origin != ORIGIN_REGISTRY) copyText(definedLocation, kTextBufferSize, location);
    return true;
  };
  static char sequence[kTextBufferSize], minVersion[kTextBufferSize], maxVersion[kTextBufferSize];
  static char line[kTextBufferSize];
  getStringSetting(setting::JvmSearchSequence, sequence, sizeof sequence);
  getStringSetting(setting::MinJavaVersion, minVersion, sizeof minVersion);
  getStringSetting(setting::MaxJavaVersion, maxVersion, sizeof maxVersion);

  if (readLocationFile(line, kPreferredLocation)) {
    logMessage("Has preferred location %s", line);
    if (checkJavaHome(javaExe, line, minVersion, maxVersion, false)) {
      logMessage("Using preferred location");
      if (taken(ORIGIN_DEFINED_PATH, line)) return ORIGIN_DEFINED_PATH;
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
        if (searchRegistryJvm(javaExe, minVersion, maxVersion)) origin = ORIGIN_REGISTRY;
        break;
      default:
        break;
    }
    if (origin != ORIGIN_NONE && taken(origin, value)) return origin;
  }
  logMessage("Search sequence finished");

  const char* productVariable = productFlavor() == 'e'   ? "ZANTO_JAVA_HOME"
                                : productFlavor() == 'i' ? "VELMORA_JAVA_HOME"
                                                         : nullptr;
  if (productVariable && checkEnvJavaHome(javaExe, productVariable, minVersion, maxVersion) &&
      taken(ORIGIN_ENV_VAR, productVariable))
    return ORIGIN_ENV_VAR;

  if (readLocationFile(line, kInstallerLocation)) {
    logMessage("Has installer location %s", line);
    if (checkJavaHome(javaExe, line, minVersion, maxVersion, false)) {
      logMessage("Using installer location");
      if (taken(ORIGIN_DEFINED_PATH, line)) return ORIGIN_DEFINED_PATH;
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
      if (taken(ORIGIN_DEFINED_PATH, value)) return ORIGIN_DEFINED_PATH;
    }
  }
  return ORIGIN_NONE;
}

bool hasVmLibrary(const char* javaExe) {
  static char path[kTextBufferSize], preferred[kTextBufferSize];
  getStringSetting(setting::PreferredVmType, preferred, sizeof preferred);
  for (const char* jre : {"", "..\\jre\\bin\\"}) {
    for (size_t i = 0; i <= sizeof kVmTypes / sizeof kVmTypes[0]; ++i) {
      const char* type = i == 0 ? preferred : kVmTypes[i - 1];
      if (!*type) continue;
      copyBinDirectory(path, javaExe);
      if (formatText(path + std::strlen(path), sizeof path - std::strlen(path), "%s%s\\jvm.dll", jre, type) &&
          fileExists(path))
        return true;
    }
  }
  return false;
}

namespace {

// The folder `levels` names up from a full path, without a trailing backslash.
void parentFolder(char* out, const char* path, int levels) {
  copyText(out, kTextBufferSize, path);
  size_t length = std::strlen(out);
  while (length > 3 && out[length - 1] == '\\') out[--length] = '\0';
  for (int i = 0; i < levels; ++i) {
    char* slash = std::strrchr(out, '\\');
    if (!slash || slash - out < 3) return;
    *slash = '\0';
  }
}

using AddDllDirectoryFn = void*(WINAPI*)(PCWSTR);
using RemoveDllDirectoryFn = BOOL(WINAPI*)(void*);

// Windows 7 without KB2533623 lacks both; there the known C runtimes are preloaded.
HMODULE loadWithPreloads(const char* path, const char* const folders[2]) {
  logMessage("No AddDllDirectory: preloading the runtime's C runtime DLLs");
  static char dll[kTextBufferSize];
  HMODULE preloaded[sizeof kRuntimeDlls / sizeof kRuntimeDlls[0]] = {};
  for (size_t i = 0; i < sizeof kRuntimeDlls / sizeof kRuntimeDlls[0]; ++i) {
    for (int f = 0; f < 2 && !preloaded[i]; ++f) {
      if (!folders[f] || !formatText(dll, sizeof dll, "%s\\%s", folders[f], kRuntimeDlls[i]) || !fileExists(dll))
        continue;
      preloaded[i] = LoadLibraryA(dll);
      logMessage("Preloading %s (%s)", dll, preloaded[i] ? "done" : "failed");
    }
  }
  HMODULE library = LoadLibraryA(path);
  if (!library) {
    // Another runtime's jvm.dll must not bind to this runtime's copies.
    DWORD error = GetLastError();
    for (HMODULE module : preloaded)
      if (module) FreeLibrary(module);
    SetLastError(error);
  }
  return library;
}

}  // namespace

HMODULE loadRuntimeLibrary(const char* jvmPath, const char* javaExe) {
  static char full[kTextBufferSize], vmBin[kTextBufferSize], exeBin[kTextBufferSize];
  static wchar_t wide[kTextBufferSize];
  // The search flags below want a full path without "..".
  DWORD n = GetFullPathNameA(jvmPath, sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  parentFolder(vmBin, full, 2);  // <bin>\<type>\jvm.dll
  static char javaBin[kTextBufferSize];
  copyBinDirectory(javaBin, javaExe);
  n = GetFullPathNameA(javaBin, sizeof exeBin, exeBin, nullptr);
  if (n == 0 || n >= sizeof exeBin) copyText(exeBin, sizeof exeBin, vmBin);
  parentFolder(exeBin, exeBin, 0);
  const char* const folders[2] = {vmBin, _stricmp(vmBin, exeBin) == 0 ? nullptr : exeBin};

  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto addDirectory =
      reinterpret_cast<AddDllDirectoryFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "AddDllDirectory")));
  auto removeDirectory =
      reinterpret_cast<RemoveDllDirectoryFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "RemoveDllDirectory")));
  if (!addDirectory || !removeDirectory) return loadWithPreloads(full, folders);

  void* cookies[2] = {};
  for (int f = 0; f < 2; ++f) {
    if (folders[f] && MultiByteToWideChar(CP_ACP, 0, folders[f], -1, wide, kTextBufferSize) > 0)
      cookies[f] = addDirectory(wide);
  }
  // These flags act on this one load and its imports only: the application's own
  // native libraries later load with the ordinary search, as under the java command.
  HMODULE library = LoadLibraryExA(
      full, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32);
  DWORD error = GetLastError();
  for (void* cookie : cookies)
    if (cookie) removeDirectory(cookie);
  SetLastError(error);
  return library;
}

const char* lastLoadFailure() { return loadFailure; }

HMODULE tryVmTypeDll(const char* javaExe, const char* vmType) {
  static char path[kTextBufferSize];
  copyBinDirectory(path, javaExe);
  if (!appendText(path, sizeof path, vmType) || !appendText(path, sizeof path, "\\jvm.dll"))
    return nullptr;
  const bool present = fileExists(path);
  logMessage("Trying %s (exists %d)", path, present ? 1 : 0);
  // A missing file fails with 126 too, which would blame the runtime's own DLLs.
  if (!present || !machineMatches(path)) return nullptr;
  HMODULE library = loadRuntimeLibrary(path, javaExe);
  if (!library) {
    DWORD error = GetLastError();
    noteLoadFailure(true, "%s: error %lu: %s", path, error, loadErrorMeaning(error));
  }
  return library;
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
  loadFailure[0] = '\0';
  HMODULE library = loadJvmFromBinDir(javaExe);
  if (library) return library;
  // A JDK whose own bin has no VM library: its private runtime in jre\bin.
  static char privateJre[kTextBufferSize];
  copyBinDirectory(privateJre, javaExe);
  if (appendText(privateJre, sizeof privateJre, "..\\jre\\bin\\java.exe")) library = loadJvmFromBinDir(privateJre);
  if (!library && !loadFailure[0]) {
    copyBinDirectory(privateJre, javaExe);
    noteLoadFailure(true, "no jvm.dll in a VM type folder below %s", privateJre);
  }
  return library;
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

namespace {

// The first runtime that did not load: its origin picks the message, as when it
// was the only one, and its failure goes on the message's detail line.
JvmOrigin failedOrigin = ORIGIN_NONE;
char failedLocation[kTextBufferSize], failedDetail[kTextBufferSize];
std::vector<std::string> failedExes;

bool tryToLoad(const char* javaExe, JvmOrigin origin, const char* location) {
  // The relative pass and several entries can name one runtime again.
  for (const std::string& failed : failedExes) {
    if (_stricmp(failed.c_str(), javaExe) == 0) {
      logMessage("Passing over %s: it did not load before", javaExe);
      return false;
    }
  }
  logMessage("Trying to load JVM-DLL from %s", javaExe);
  HMODULE library = loadJvmDll(javaExe);
  if (library || failedOrigin == ORIGIN_NONE) setJvmHome(javaExe);
  if (!library) logError("Could not get DLL-Handle.");
  bool entry = getCreateJavaVm(library);
  if (!entry) logError("Could not load functions");
  if (library && entry) return true;
  static char detail[kTextBufferSize];
  if (library) {
    static char name[kTextBufferSize];
    DWORD n = GetModuleFileNameA(library, name, sizeof name);
    if (n == 0 || n >= sizeof name) copyText(name, sizeof name, "jvm.dll");
    formatText(detail, sizeof detail, "%s: no JNI_CreateJavaVM in it, not a Java VM library", name);
    logError("%s", detail);
    // A later runtime's own DLLs import jvm.dll by name and would bind to this one.
    FreeLibrary(library);
  } else {
    copyText(detail, sizeof detail, lastLoadFailure());
  }
  logMessage("Passing over %s", javaExe);
  failedExes.emplace_back(javaExe);
  if (failedOrigin == ORIGIN_NONE) {
    failedOrigin = origin;
    copyText(failedLocation, sizeof failedLocation, location);
    copyText(failedDetail, sizeof failedDetail, detail);
  }
  return false;
}

}  // namespace

bool LoadDLL(bool showErrors) {
  logMessage("LoadDLL (%d, %s, %d)", showErrors ? 1 : 0, "(null)", 0);
  static char javaExe[kTextBufferSize], definedLocation[kTextBufferSize];
  javaExe[0] = definedLocation[0] = '\0';
  failedOrigin = ORIGIN_NONE;
  failedExes.clear();
  if (searchJvm(javaExe, definedLocation, tryToLoad) != ORIGIN_NONE) {
    logMessage("Loading of JVM-DLL successful");
    return true;
  }
  if (failedOrigin == ORIGIN_NONE) {
    logError("No JVM found");
    if (showErrors) showConfiguredError(message::NoJvm, nullptr, nullptr);
    return false;
  }
  logError("No JVM could be loaded");
  if (showErrors) {
    switch (failedOrigin) {
      case ORIGIN_SEARCH_PATH:
        showConfiguredError(message::SearchPathJvmDamaged, nullptr, nullptr, failedDetail);
        break;
      case ORIGIN_ENV_VAR:
        showConfiguredError(message::EnvVarJvmBroken, "%ENV_VAR_NAME%", failedLocation, failedDetail);
        break;
      case ORIGIN_DEFINED_PATH:
        showConfiguredError(message::DefinedPathJvmDamaged, "%DEFINED_PATH%", failedLocation, failedDetail);
        break;
      default:
        showConfiguredError(message::JvmStartFailed, nullptr, nullptr, failedDetail);
        break;
    }
  }
  return false;
}

}  // namespace zanto
