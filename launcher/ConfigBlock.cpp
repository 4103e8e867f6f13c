// Reads the configuration block behind the executable's last PE section into the
// settings store (see ConfigBlock.h). Failures are returned as fixed texts; the
// callers report them.
#include "ConfigBlock.h"

#include <cstdio>
#include <cstring>

#include "Log.h"
#include "Paths.h"
#include "ProcessState.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {
ConfigStore store;
int64_t dataOffset = 0;
int64_t dataLimit = INT64_MAX;
char flavor = '\0';
}  // namespace

bool FileSource::seek(int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != 0;
}

int64_t FileSource::position() const {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(file_, zero, &at, FILE_CURRENT)) return -1;
  return at.QuadPart;
}

int64_t FileSource::size() const {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(file_, &s)) return -1;
  return s.QuadPart;
}

int64_t FileSource::read(void* dst, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(file_, dst, count, &got, nullptr)) return -1;
  return got;
}

namespace {

DWORD readError = 0;

}  // namespace

const char kExecutableNotOpened[] = "Error opening media file. Please move this file to an ascii-only path like c:\\";

HANDLE openExecutable() {
  const char* path = getExecutablePath();
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) logError("Could not open %s", path);
  return h;
}

const char* tryReadConfigBlock() {
  HANDLE exe = openExecutable();
  if (exe == INVALID_HANDLE_VALUE) return kExecutableNotOpened;
  FileSource src(exe);
  BlockError error = readConfigBlockFrom(src, store, &dataOffset, &dataLimit);
  // Kept for the report, which comes later and after other calls.
  readError = error == BlockError::ReadInt ? GetLastError() : 0;
  CloseHandle(exe);
  if (error != BlockError::None) {
    logError("configuration block: %s", blockErrorText(error));
    return blockErrorText(error);
  }
  int type = getIntSetting(setting::ExecutableType);
  if (type != 1 && type != 5) useConsoleErrors();
  return nullptr;
}

DWORD configBlockReadError() { return readError; }

bool hasSetting(int32_t id) { return store.narrow.count(id) != 0; }

void loadProductFlavor() {
  char letter[2];
  getStringSetting(setting::ProductFlavor, letter, sizeof letter);
  flavor = letter[0];
}

char productFlavor() { return flavor; }
ConfigStore& configStore() { return store; }
int64_t embeddedDataOffset() { return dataOffset; }
int64_t embeddedDataLimit() { return dataLimit; }

void getStringSetting(int32_t id, char* buffer, size_t size) { zanto::getStringSetting(store, id, buffer, size); }
int getIntSetting(int32_t id) { return zanto::getIntSetting(store, id); }
void getWideStringSetting(int32_t id, wchar_t* buffer) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
  zanto::getWideStringSetting(store, id, reinterpret_cast<char16_t*>(buffer), kTextBufferSize);
}

}  // namespace zanto
