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

namespace {
// An expansion beyond this is a runaway, not a configuration: ${A} holding ${A}${A}.
constexpr size_t kMaxExpandedText = 64u * 1024 * 1024;
}  // namespace

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

std::string wholeTextSetting(int32_t id) {
  auto it = configStore().narrow.find(id);
  if (it == configStore().narrow.end()) return {};
  return std::string(it->second.data(), strnlen(it->second.data(), it->second.size()));
}

std::string expandWholeText(const std::string& text, const char* what) {
  ExpansionValues values;
  values.exeDir = getExecutableDirectory();
  values.tempDir = extractionDirectory;
  values.jvmHome = jvmHome;
  char* block = GetEnvironmentStringsA();
  // Room for the text and some growth; a fuller expansion starts again with twice as much.
  std::string buffer;
  ExpandStatus status = ExpandStatus::TooLong;
  for (size_t size = text.size() + kTextBufferSize; status != ExpandStatus::Ok; size *= 2) {
    if (size > kMaxExpandedText) break;
    buffer.assign(size, '\0');
    std::memcpy(buffer.data(), text.data(), text.size());
    status = expandVariables(buffer.data(), buffer.size(), values, block);
  }
  if (block) FreeEnvironmentStringsA(block);
  if (status != ExpandStatus::Ok) refuseTooLongText(what);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
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

std::u16string toWideText(const char* text, unsigned codePage, const char* what, size_t maxUnits) {
  int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  if (static_cast<size_t>(n - 1) > maxUnits) refuseTooLongText(what);
  std::u16string wide(static_cast<size_t>(n), u'\0');
  n = MultiByteToWideChar(codePage, 0, text, -1, reinterpret_cast<wchar_t*>(wide.data()), n);
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

std::string toNarrowText(const char16_t* text, size_t units, unsigned codePage) {
  if (units == 0) return {};
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  const int count = static_cast<int>(units);
  const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
  const char* defaultChar = utf8 ? nullptr : "?";
  // No best-fit look-alikes: "e" for "é" would name another file, "?" names none.
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(codePage, flags, wide, count, nullptr, 0, defaultChar, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0 && WideCharToMultiByte(codePage, flags, wide, count, out.data(), n, defaultChar, nullptr) == n)
    return out;
  out.assign(units, '?');
  for (size_t i = 0; i < units; ++i)
    if (text[i] < 0x80) out[i] = static_cast<char>(text[i]);
  return out;
}

unsigned blockCodePage() {
  int recorded = getIntSetting(setting::CodePage);
  return recorded > 0 && IsValidCodePage(static_cast<UINT>(recorded)) ? static_cast<unsigned>(recorded) : CP_ACP;
}

}  // namespace zanto
