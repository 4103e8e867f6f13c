// Path utilities on Win32 (see Paths.h). Conversions through UTF-16 replace a path
// only when they lose no character, so a path is never silently damaged.
#include "Paths.h"

#include <cstring>
#include <cwchar>

#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {
char executablePath[kTextBufferSize];
bool executablePathDone = false;
char executableDirectory[kTextBufferSize];
bool executableDirectoryDone = false;
}  // namespace

UINT fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool toWidePath(const char* path, wchar_t* out, int units) {
  return MultiByteToWideChar(fileApiCodePage(), 0, path, -1, out, units) > 0;
}

bool toNarrowPathLossless(const wchar_t* path, char* out, int size) {
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(fileApiCodePage(), 0, path, -1, out, size, "?", &usedDefault);
  return n > 0 && !usedDefault;
}

bool isNtPlatform() {
  OSVERSIONINFOA info;
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

const char* getExecutablePath() {
  if (executablePathDone) return executablePath;
  bool accepted = false;
  if (isNtPlatform()) {
    static wchar_t longName[kTextBufferSize], shortName[kTextBufferSize];
    DWORD n = GetModuleFileNameW(nullptr, longName, kTextBufferSize);
    if (n > 0 && n < kTextBufferSize) {
      DWORD s = GetShortPathNameW(longName, shortName, kTextBufferSize);
      if (s > 0 && s < kTextBufferSize &&
          toNarrowPathLossless(shortName, executablePath, sizeof executablePath)) {
        size_t len = std::strlen(executablePath);
        accepted = len > 3 && _stricmp(executablePath + len - 4, ".exe") == 0;
      }
    }
  }
  if (!accepted) {
    static char narrowName[kTextBufferSize];
    executablePath[0] = '\0';
    DWORD n = GetModuleFileNameA(nullptr, narrowName, sizeof narrowName);
    if (n > 0 && n < sizeof narrowName) {
      DWORD s = GetShortPathNameA(narrowName, executablePath, sizeof executablePath);
      if (s == 0 || s >= sizeof executablePath) copyText(executablePath, sizeof executablePath, narrowName);
    }
  }
  lowerCasePath(executablePath);
  collapseBackslashes(executablePath);
  executablePathDone = true;
  return executablePath;
}

const char* getExecutableLongPath() {
  static char path[kTextBufferSize];
  static bool done = false;
  if (done) return path;
  done = true;
  static wchar_t module[kTextBufferSize];
  DWORD n = GetModuleFileNameW(nullptr, module, kTextBufferSize);
  if (n > 0 && n < kTextBufferSize && !std::wcschr(module, L'~') &&
      toNarrowPathLossless(module, path, sizeof path))
    return path;
  longPathOr(getExecutablePath(), path, sizeof path);
  return path;
}

void lowerCasePath(char* path) {
  static wchar_t wide[kTextBufferSize];
  static char back[kTextBufferSize];
  if (!toWidePath(path, wide, kTextBufferSize)) return;
  _wcslwr(wide);
  if (toNarrowPathLossless(wide, back, sizeof back) && std::strlen(back) <= std::strlen(path))
    std::strcpy(path, back);
}

void collapseBackslashes(char* path) {
  static wchar_t wide[kTextBufferSize];
  static char back[kTextBufferSize];
  if (!toWidePath(path, wide, kTextBufferSize)) return;
  collapseBackslashRuns(reinterpret_cast<char16_t*>(wide));
  if (toNarrowPathLossless(wide, back, sizeof back)) std::strcpy(path, back);
}

const char* getExecutableDirectory() {
  if (executableDirectoryDone) return executableDirectory;
  char* filePart = nullptr;
  DWORD n = GetFullPathNameA(getExecutablePath(), sizeof executableDirectory, executableDirectory, &filePart);
  if (n == 0 || n >= sizeof executableDirectory) {
    copyText(executableDirectory, sizeof executableDirectory, getExecutablePath());
    filePart = std::strrchr(executableDirectory, '\\');
    if (filePart) ++filePart;
  }
  if (filePart) *filePart = '\0';
  executableDirectoryDone = true;
  return executableDirectory;
}

void resolvePath(char* destination, const char* path) {
  destination[0] = '\0';
  if (isRelativePath(path)) copyText(destination, kTextBufferSize, getExecutableDirectory());
  appendText(destination, kTextBufferSize, path);
  collapseBackslashes(destination);
}

void getFullPath(char* destination, const char* path, bool keepCase) {
  static char work[kTextBufferSize];
  resolvePath(work, path);
  DWORD n = GetFullPathNameA(work, kTextBufferSize, destination, nullptr);
  if (n == 0 || n >= kTextBufferSize) copyText(destination, kTextBufferSize, work);
  if (!keepCase) lowerCasePath(destination);
  collapseBackslashes(destination);
}

bool findFile(const char* path, FILETIME* lastWriteTime) {
  // One query of the file itself; a folder listing only for a name with wildcards.
  // As for a listing, a name that ends in a separator names nothing.
  const size_t length = std::strlen(path);
  if (length == 0 || path[length - 1] == '\\' || path[length - 1] == '/') return false;
  if (!std::strpbrk(path, "*?")) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &attributes)) return false;
    if (lastWriteTime) *lastWriteTime = attributes.ftLastWriteTime;
    return true;
  }
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  if (lastWriteTime) *lastWriteTime = data.ftLastWriteTime;
  return true;
}

bool fileExists(const char* path) {
  if (isDriveRootText(path)) return true;
  return findFile(path, nullptr);
}

void resolvePathList(char* destination, const char* list) {
  static char copy[kTextBufferSize], entry[kTextBufferSize];
  destination[0] = '\0';
  copyText(copy, sizeof copy, list);
  bool first = true;
  for (char* token = std::strtok(copy, ";"); token; token = std::strtok(nullptr, ";")) {
    if (!first) appendText(destination, kTextBufferSize, ";");
    resolvePath(entry, token);
    appendText(destination, kTextBufferSize, entry);
    first = false;
  }
}

size_t listFiles(const char* directory, const char* extension, std::vector<std::string>& names) {
  char pattern[kTextBufferSize];
  formatText(pattern, sizeof pattern, "%s\\*%s%s", directory, extension[0] == '.' ? "" : ".", extension);
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return 0;
  size_t before = names.size();
  do names.emplace_back(data.cFileName);
  while (FindNextFileA(h, &data));
  FindClose(h);
  return names.size() - before;
}

DWORD getLongPath(const char* path, char* destination, DWORD size) {
  return GetLongPathNameA(path, destination, size);
}

void longPathOr(const char* path, char* destination, DWORD size) {
  DWORD n = getLongPath(path, destination, size);
  if (n == 0 || n >= size) copyText(destination, size, path);
}

}  // namespace zanto
