// Java installation check and version detection (see JavaCheck.h). The version is
// learnt by running "<java.exe>" -version (or, opted in, from the runtime's release
// file) once per executable and then kept in HKCU until the file's last-write time
// changes.
#include "JavaCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ConfigBlock.h"
#include "Extraction.h"
#include "JavaVersion.h"
#include "Log.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

const char kVersionCacheKey[] = "SOFTWARE\\harnwick\\zanto\\jvms\\";
const char kLocatedJvmsKey[] = "SOFTWARE\\harnwick\\zanto\\locatedjvms";
const char kJreKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char kJdkKey[] = "SOFTWARE\\JavaSoft\\Java Development Kit";

// release files are a few kilobytes; JAVA_VERSION comes early in every one seen.
constexpr DWORD kReleaseReadLimit = 16384;

// Where Java 9 and later and the current vendors' installers register a runtime:
// one subkey per runtime below `key` (named by its version, or for Zulu by a name
// holding the major version), the home in `value` of that subkey's `below` key.
struct VendorLayout {
  const char* key;
  const char* below;
  const char* value;
  bool jre;  // runtimes without development tools: skipped when a JDK is required
};

const VendorLayout kVendorLayouts[] = {
    {"SOFTWARE\\JavaSoft\\JDK", "", "JavaHome", false},
    {"SOFTWARE\\JavaSoft\\JRE", "", "JavaHome", true},
    {"SOFTWARE\\Eclipse Adoptium\\JDK", "hotspot\\MSI", "Path", false},
    {"SOFTWARE\\Eclipse Adoptium\\JRE", "hotspot\\MSI", "Path", true},
    {"SOFTWARE\\AdoptOpenJDK\\JDK", "hotspot\\MSI", "Path", false},
    {"SOFTWARE\\AdoptOpenJDK\\JRE", "hotspot\\MSI", "Path", true},
    {"SOFTWARE\\Microsoft\\JDK", "hotspot\\MSI", "Path", false},
    {"SOFTWARE\\Azul Systems\\Zulu", "", "InstallationPath", false},
};

// A 32-bit launcher can only load a 32-bit runtime, so it reads the 32-bit view.
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

void replaceChar(char* text, char from, char to) {
  for (; *text; ++text)
    if (*text == from) *text = to;
}

// The value pair of each version source; the first is the one the classic rule
// fills and trusts.
struct CacheValues {
  const char* version;
  const char* lastWrite;
};

const CacheValues& cacheValues(VersionSource source) {
  static const CacheValues kValues[] = {{"Version", "LastWriteTime"},
                                        {"NumericVersion", "NumericLastWriteTime"},
                                        {"ReleaseVersion", "ReleaseLastWriteTime"}};
  return kValues[static_cast<int>(source)];
}

// False when the key name would have been cut: a cut name is another file's key.
bool cacheKeyName(char* key, size_t size, const char* javaExe) {
  if (!formatText(key, size, "%s%s", kVersionCacheKey, javaExe)) return false;
  replaceChar(key + sizeof(kVersionCacheKey) - 1, '\\', '/');
  return true;
}

// A string value, always terminated within size; false when missing or not a text.
bool readRegistryText(HKEY key, const char* name, char* out, size_t size) {
  out[0] = '\0';
  DWORD type = 0, bytes = static_cast<DWORD>(size - 1);
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    out[0] = '\0';
    return false;
  }
  out[bytes] = '\0';
  return true;
}

bool readMachineText(const char* keyName, const char* name, char* out, size_t size,
                     REGSAM view = 0) {
  HKEY key;
  out[0] = '\0';
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  bool ok = readRegistryText(key, name, out, size);
  RegCloseKey(key);
  return ok;
}

bool requireJdk() { return getIntSetting(setting::RequireJdk) != 0; }

// A version run that ends before the child does says which step failed and why.
bool versionRunFailed(const char* step) {
  logError("version run failed: %s (error %lu)", step, GetLastError());
  return false;
}

// JavaHome of one JavaSoft key, then the home's executable and its check.
bool checkJavaSoftKey(const char* keyName, char* javaExe, char* version, const char* minVersion,
                      const char* maxVersion) {
  static char home[kTextBufferSize];
  if (!readMachineText(keyName, "JavaHome", home, sizeof home)) return false;
  if (!javaExeFromHome(javaExe, home)) return false;
  return checkJavaExe(javaExe, version, minVersion, maxVersion, false);
}

bool checkCurrentVersions(char* javaExe, char* version, const char* minVersion,
                          const char* maxVersion) {
  char jdk[kVersionBufferSize], jre[kVersionBufferSize];
  const bool numeric = numericVersionRule();
  if (!readMachineText(kJdkKey, "CurrentVersion", jdk, sizeof jdk) ||
      !keyAccepted(numeric, jdk, minVersion, maxVersion))
    jdk[0] = '\0';
  jre[0] = '\0';
  if (!requireJdk() && (!readMachineText(kJreKey, "CurrentVersion", jre, sizeof jre) ||
                        !keyAccepted(numeric, jre, minVersion, maxVersion)))
    jre[0] = '\0';
  static char keyName[kTextBufferSize];
  if (compareVersions(numeric, jdk, jre) > 0)
    formatText(keyName, sizeof keyName, "%s\\%s", kJdkKey, jdk);
  else
    formatText(keyName, sizeof keyName, "%s\\%s", kJreKey, jre);
  return checkJavaSoftKey(keyName, javaExe, version, minVersion, maxVersion);
}

// The classic rule reads a subkey's whole name as its version; the numeric one
// skips a vendor's prefix ("zulu-17").
const char* versionPart(bool numeric, const char* name) {
  return numeric ? keyVersionText(name) : name;
}

// The subkey names of a key whose version part passes the limits, oldest first by
// the rule in force (byte order for the classic one; equal versions by bytes).
bool versionSubkeys(const char* productKey, REGSAM view, const char* minVersion,
                    const char* maxVersion, std::vector<std::string>& names) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, productKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  const bool numeric = numericVersionRule();
  static char name[kTextBufferSize];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    LONG r = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA) continue;
    if (r != ERROR_SUCCESS) break;
    if (keyAccepted(numeric, versionPart(numeric, name), minVersion, maxVersion))
      names.emplace_back(name, length);
  }
  RegCloseKey(key);
  std::sort(names.begin(), names.end(), [numeric](const std::string& a, const std::string& b) {
    int c = compareVersions(numeric, versionPart(numeric, a.c_str()), versionPart(numeric, b.c_str()));
    return c != 0 ? c < 0 : a < b;
  });
  return true;
}

bool scanJavaSoftVersions(const char* productKey, char* javaExe, char* version,
                          const char* minVersion, const char* maxVersion) {
  std::vector<std::string> names;
  if (!versionSubkeys(productKey, 0, minVersion, maxVersion, names)) return false;
  static char keyName[kTextBufferSize];
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!formatText(keyName, sizeof keyName, "%s\\%s", productKey, it->c_str())) continue;
    if (checkJavaSoftKey(keyName, javaExe, version, minVersion, maxVersion)) return true;
  }
  return false;
}

bool scanLocatedJvms(HKEY root, char* javaExe, char* version, const char* minVersion,
                     const char* maxVersion) {
  version[0] = '\0';
  HKEY key;
  if (RegOpenKeyExA(root, kLocatedJvmsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  static char candidate[kTextBufferSize];
  char candidateVersion[kVersionBufferSize];
  bool found = false;
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof candidate;
    LONG r = RegEnumKeyExA(key, index, candidate, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA) continue;
    if (r != ERROR_SUCCESS) break;
    replaceChar(candidate, '/', '\\');
    if (!checkJavaExe(candidate, candidateVersion, minVersion, maxVersion, true)) continue;
    if (!found || compareVersions(numericVersionRule(), candidateVersion, version) > 0) {
      copyText(javaExe, kTextBufferSize, candidate);
      copyText(version, kVersionBufferSize, candidateVersion);
      found = true;
    }
  }
  RegCloseKey(key);
  return found;
}

}  // namespace

bool javaExeFromHome(char* javaExe, const char* home) {
  if (!formatText(javaExe, kTextBufferSize, "%s\\jre\\bin\\java.exe", home)) return false;
  if (requireJdk()) {
    static char marker[kTextBufferSize];
    if (formatText(marker, sizeof marker, "%s\\lib\\tools.jar", home) && fileExists(marker))
      return true;
    // Since Java 9 a JDK has neither tools.jar nor a jre directory; its compiler
    // tells it from a runtime. Only under today's rules: other blocks keep theirs.
    return numericVersionRule() &&
           formatText(marker, sizeof marker, "%s\\bin\\javac.exe", home) && fileExists(marker) &&
           formatText(javaExe, kTextBufferSize, "%s\\bin\\java.exe", home);
  }
  if (fileExists(javaExe)) return true;
  return formatText(javaExe, kTextBufferSize, "%s\\bin\\java.exe", home);
}

bool checkJavaExe(char* javaExe, char* version, const char* minVersion, const char* maxVersion,
                  bool allowBeta) {
  logMessage("checkJavaExe (%s, [out], %s, %s, %d)", javaExe, minVersion, maxVersion,
             allowBeta ? 1 : 0);
  static char full[kTextBufferSize];
  getFullPath(full, javaExe, false);
  copyText(javaExe, kTextBufferSize, full);
  FILETIME lastWrite;
  if (!findFile(javaExe, &lastWrite)) {
    logMessage("file doesn't exist");
    logMessage("checkJavaExe returning 0");
    return false;
  }
  logMessage("file exists");
  version[0] = '\0';
  VersionSource source = VersionSource::Run;
  if (readCachedVersion(javaExe, lastWrite, version, kVersionBufferSize) ||
      (numericVersionRule() &&
       readCachedVersion(javaExe, lastWrite, version, kVersionBufferSize, VersionSource::NumericRun)) ||
      (releaseFileRule() &&
       readCachedVersion(javaExe, lastWrite, version, kVersionBufferSize, VersionSource::ReleaseFile))) {
    logMessage("got version from registry %s", version);
  } else if (releaseFileRule() && readReleaseVersion(javaExe, version, kVersionBufferSize)) {
    logMessage("got version from release file %s", version);
    writeCachedVersion(javaExe, lastWrite, version, VersionSource::ReleaseFile);
  } else if (runJavaVersion(javaExe, version, kVersionBufferSize, &source)) {
    logMessage("got version from execution %s", version);
    writeCachedVersion(javaExe, lastWrite, version, source);
  } else {
    logMessage("couldn't get version");
    logMessage("checkJavaExe returning 0");
    return false;
  }
  bool accepted = versionAccepted(numericVersionRule(), version, minVersion, maxVersion, allowBeta,
                                  getIntSetting(setting::AllowBetaJava) != 0);
  if (accepted && getIntSetting(setting::ExecutableType) == 1) {
    size_t length = std::strlen(javaExe);
    if (length < 4 || !copyText(javaExe + length - 4, kTextBufferSize - (length - 4), "w.exe"))
      return false;
    return fileExists(javaExe);
  }
  logMessage("checkJavaExe returning %d", accepted ? 1 : 0);
  return accepted;
}

bool readCachedVersion(const char* javaExe, const FILETIME& lastWrite, char* version, size_t size,
                       VersionSource source) {
  const CacheValues& values = cacheValues(source);
  static char keyName[kTextBufferSize];
  version[0] = '\0';
  if (!cacheKeyName(keyName, sizeof keyName, javaExe)) return false;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  BYTE stored[16];
  DWORD type = 0, bytes = sizeof stored;
  bool valid =
      RegQueryValueExA(key, values.lastWrite, nullptr, &type, stored, &bytes) == ERROR_SUCCESS &&
      bytes == sizeof(FILETIME) && std::memcmp(stored, &lastWrite, bytes) == 0;
  // The text is stored without a terminator; an empty one is no version.
  valid = valid && readRegistryText(key, values.version, version, size) && version[0] != '\0';
  RegCloseKey(key);
  if (!valid) version[0] = '\0';
  return valid;
}

void writeCachedVersion(const char* javaExe, const FILETIME& lastWrite, const char* version,
                        VersionSource source) {
  const CacheValues& values = cacheValues(source);
  static char keyName[kTextBufferSize];
  if (!cacheKeyName(keyName, sizeof keyName, javaExe)) return;
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, values.lastWrite, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&lastWrite),
                 sizeof lastWrite);
  RegSetValueExA(key, values.version, 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                 static_cast<DWORD>(std::strlen(version)));
  RegCloseKey(key);
}

namespace {

// The one handle a child is to inherit. Where the list cannot be made the child
// inherits every inheritable handle, as before such lists existed.
class InheritedHandles {
 public:
  explicit InheritedHandles(HANDLE handle) : handle_(handle) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0 || size > sizeof buffer_) return;
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_);
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_, nullptr,
                                   nullptr)) {
      DeleteProcThreadAttributeList(list);
      logMessage("handle list not supported: the child inherits every inheritable handle");
      return;
    }
    list_ = list;
  }
  ~InheritedHandles() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  HANDLE handle_;
  alignas(8) BYTE buffer_[256];
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

HANDLE openInheritableFile(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE inheritable = nullptr;
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, file, self, &inheritable, 0, TRUE, DUPLICATE_SAME_ACCESS))
    inheritable = nullptr;
  CloseHandle(file);
  return inheritable;
}

bool runJavaVersion(const char* javaExe, char* version, size_t size, VersionSource* source) {
  version[0] = '\0';
  static char shortPath[kTextBufferSize], commandLine[kTextBufferSize];
  DWORD n = GetShortPathNameA(javaExe, shortPath, sizeof shortPath);
  if (n == 0 || n >= sizeof shortPath) copyText(shortPath, sizeof shortPath, javaExe);
  // Quoted: short names can be switched off, and a blank would let Windows start
  // another program (such as C:\Program.exe) in the service's account.
  if (!formatText(commandLine, sizeof commandLine, "\"%s\" -version", shortPath)) return false;

  char tempFile[MAX_PATH + 1];
  createTempFile(tempFile);
  if (!tempFile[0]) return versionRunFailed("temporary file");
  HANDLE output = openInheritableFile(tempFile);
  if (!output) {
    DWORD error = GetLastError();
    DeleteFileA(tempFile);
    SetLastError(error);
    return versionRunFailed("inheritable handle");
  }
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdError = output;
  InheritedHandles inherited(output);
  DWORD flags = NORMAL_PRIORITY_CLASS;
  if (inherited.list()) {
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup.StartupInfo,
                      &process)) {
    DWORD error = GetLastError();
    CloseHandle(output);
    DeleteFileA(tempFile);
    SetLastError(error);
    return versionRunFailed("CreateProcess");
  }
  WaitForSingleObject(process.hProcess, kJavaVersionTimeoutMs);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = 1;
  logMessage("Exit Code %d", static_cast<int>(exitCode));
  if (exitCode == STILL_ACTIVE) {
    logMessage("Terminating process");
    TerminateProcess(process.hProcess, 1);
    // Until it is gone the child still holds the file that is deleted below.
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(output);

  bool taken = false;
  if (exitCode == 0) {
    if (FILE* in = std::fopen(tempFile, "r")) {
      char line[kVersionBufferSize];
      if (std::fgets(line, sizeof line, in) &&
          parseVersionLineBy(numericVersionRule(), line, version, size)) {
        logMessage("Java version: %s", version);
        taken = true;
        if (source) {
          char classic[kVersionBufferSize];
          // Shared with the classic rule only when it reads the same line the same way.
          *source = parseVersionLine(line, classic, sizeof classic) && std::strcmp(classic, version) == 0
                        ? VersionSource::Run
                        : VersionSource::NumericRun;
        }
      }
      std::fclose(in);
    }
  }
  DeleteFileA(tempFile);
  return taken;
}

bool searchJavaSoft(char* javaExe, char* version, const char* minVersion, const char* maxVersion) {
  if (checkCurrentVersions(javaExe, version, minVersion, maxVersion)) return true;
  if (!requireJdk() && scanJavaSoftVersions(kJreKey, javaExe, version, minVersion, maxVersion))
    return true;
  return scanJavaSoftVersions(kJdkKey, javaExe, version, minVersion, maxVersion);
}

bool searchLocatedJvms(char* javaExe, char* version, const char* minVersion,
                       const char* maxVersion) {
  static char userExe[kTextBufferSize], machineExe[kTextBufferSize];
  char userVersion[kVersionBufferSize], machineVersion[kVersionBufferSize];
  bool user = scanLocatedJvms(HKEY_CURRENT_USER, userExe, userVersion, minVersion, maxVersion);
  bool machine =
      scanLocatedJvms(HKEY_LOCAL_MACHINE, machineExe, machineVersion, minVersion, maxVersion);
  if (!user && !machine) return false;
  bool takeUser =
      user && (!machine || compareVersions(numericVersionRule(), userVersion, machineVersion) > 0);
  copyText(javaExe, kTextBufferSize, takeUser ? userExe : machineExe);
  copyText(version, kVersionBufferSize, takeUser ? userVersion : machineVersion);
  return true;
}

bool numericVersionRule() { return getIntSetting(setting::NumericVersionCheck) != 0; }
bool releaseFileRule() { return getIntSetting(setting::ReleaseFileVersion) != 0; }
bool wideRegistryRule() { return getIntSetting(setting::WideRegistrySearch) != 0; }

namespace {

// Reads at most kReleaseReadLimit bytes; a line cut by the limit is dropped, since
// an unquoted value cut short would be another version.
bool readReleaseFile(const char* path, char* version, size_t size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  static char content[kReleaseReadLimit];
  DWORD length = 0;
  bool read = ReadFile(file, content, sizeof content, &length, nullptr) != 0;
  CloseHandle(file);
  if (!read) return false;
  if (length == sizeof content) {
    while (length > 0 && content[length - 1] != '\n') --length;
  }
  return parseReleaseFileVersion(content, length, version, size);
}

}  // namespace

bool readReleaseVersion(const char* javaExe, char* version, size_t size) {
  version[0] = '\0';
  const char* slash = std::strrchr(javaExe, '\\');
  if (!slash) return false;
  static char path[kTextBufferSize];
  const size_t binLength = static_cast<size_t>(slash - javaExe) + 1;  // with the backslash
  if (binLength >= sizeof path) return false;
  std::memcpy(path, javaExe, binLength);
  path[binLength] = '\0';
  if (!appendText(path, sizeof path, "..\\release")) return false;
  if (readReleaseFile(path, version, size)) return true;
  // A JDK 8 keeps release in its home, above the jre directory.
  static const char kJreBin[] = "\\jre\\bin\\";
  const size_t suffix = sizeof kJreBin - 1;
  if (binLength < suffix || _strnicmp(javaExe + binLength - suffix, kJreBin, suffix) != 0)
    return false;
  path[binLength] = '\0';
  return appendText(path, sizeof path, "..\\..\\release") && readReleaseFile(path, version, size);
}

size_t vendorLayoutCount() { return sizeof kVendorLayouts / sizeof kVendorLayouts[0]; }

bool searchVendorLayout(size_t index, RegistryRuntime* out, const char* minVersion,
                        const char* maxVersion) {
  if (index >= vendorLayoutCount()) return false;
  const VendorLayout& layout = kVendorLayouts[index];
  if (layout.jre && requireJdk()) return false;
  std::vector<std::string> names;
  if (!versionSubkeys(layout.key, kOwnView, minVersion, maxVersion, names)) return false;
  static char home[kTextBufferSize];
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!formatText(out->from, sizeof out->from, "%s\\%s%s%s", layout.key, it->c_str(),
                    layout.below[0] ? "\\" : "", layout.below))
      continue;
    logMessage("Testing registry key %s", out->from);
    if (!readMachineText(out->from, layout.value, home, sizeof home, kOwnView)) continue;
    // Installers write the home with a trailing backslash; the derived paths add their own.
    size_t length = std::strlen(home);
    while (length > 3 && home[length - 1] == '\\') home[--length] = '\0';
    if (!javaExeFromHome(out->javaExe, home)) continue;
    if (checkJavaExe(out->javaExe, out->version, minVersion, maxVersion, false)) return true;
  }
  return false;
}

}  // namespace zanto
