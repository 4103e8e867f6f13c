// Checked text steps of the Java launch (see LaunchText.h).
#include "LaunchText.h"

#include <windows.h>

#include <cstring>

#include "ConfigBlock.h"
#include "ErrorReport.h"
#include "Extraction.h"
#include "JvmEntry.h"
#include "Log.h"
#include "PathText.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"
#include "VariableExpansion.h"

namespace zanto {

void refuseTooLongText(const char* what) {
  logError("text too long: %s", what);
  fatalInternalError(kTextTooLong);
}

void readTextSetting(int32_t id, char* buffer, const char* what) {
  auto it = configStore().narrow.find(id);
  if (it != configStore().narrow.end() && strnlen(it->second.data(), it->second.size()) >= kTextBufferSize)
    refuseTooLongText(what);
  getStringSetting(id, buffer, kTextBufferSize);
}

void expandLaunchText(char* text, const char* what) {
  ExpansionValues values;
  values.exeDir = getExecutableDirectory();
  values.tempDir = extractionDirectory;
  values.jvmHome = jvmHome;
  char* block = GetEnvironmentStringsA();
  ExpandStatus status = expandVariables(text, kTextBufferSize, values, block);
  if (block) FreeEnvironmentStringsA(block);
  if (status != ExpandStatus::Ok) refuseTooLongText(what);
}

namespace {
// resolvePath cuts at 8192 bytes; merging backslashes only shortens, so the joined
// length before merging decides.
void checkResolvable(const char* path, const char* what) {
  size_t length = std::strlen(path);
  if (isRelativePath(path)) length += std::strlen(getExecutableDirectory());
  if (length >= kTextBufferSize) refuseTooLongText(what);
}
}  // namespace

void resolveLaunchPath(char* destination, const char* path, const char* what) {
  checkResolvable(path, what);
  resolvePath(destination, path);
}

void fullLaunchPath(char* destination, const char* path, bool keepCase, const char* what) {
  checkResolvable(path, what);
  getFullPath(destination, path, keepCase);
}

std::u16string toWideText(const char* text, unsigned codePage, const char* what) {
  static wchar_t wide[kTextBufferSize];
  int n = MultiByteToWideChar(codePage, 0, text, -1, wide, kTextBufferSize);
  if (n <= 0) {
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) refuseTooLongText(what);
    return {};
  }
  return std::u16string(reinterpret_cast<const char16_t*>(wide), static_cast<size_t>(n - 1));
}

std::string toNarrowText(const char16_t* text, size_t units) {
  if (units == 0) return {};
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units), nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units), out.data(), n, "?", nullptr);
  return out;
}

}  // namespace zanto
