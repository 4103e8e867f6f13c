// Start-up preparation from the configuration: the PATH prefix and the working
// directory (see Preparation.h).
#include "Preparation.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

void applyPathPrefix(const char* prefix) {
  static char path[kTextBufferSize];
  if (!prefix[0]) return;
  resolvePathList(path, prefix);
  size_t used = std::strlen(path);
  if (used && path[used - 1] != ';') appendText(path, sizeof path, ";");
  used = std::strlen(path);
  // PATH itself goes behind the prefix; one too long for the rest of the buffer is
  // read into a buffer of its own size instead of being dropped.
  DWORD need = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (need > 0) {
    char* current = static_cast<char*>(std::malloc(need));
    if (current && GetEnvironmentVariableA("PATH", current, need) < need) {
      size_t total = used + std::strlen(current) + 1;
      char* joined = static_cast<char*>(std::malloc(total));
      if (joined) {
        std::memcpy(joined, path, used);
        std::strcpy(joined + used, current);
        SetEnvironmentVariableA("PATH", joined);
        size_t putLength = total + 5;
        char* put = static_cast<char*>(std::malloc(putLength));
        if (put) {
          std::strcpy(put, "PATH=");
          std::strcat(put, joined);
          _putenv(put);  // the runtime keeps this string; it lives until exit
        }
        std::free(joined);
        std::free(current);
        return;
      }
    }
    std::free(current);
  }
  SetEnvironmentVariableA("PATH", path);
  static char put[kTextBufferSize + 8];
  formatText(put, sizeof put, "PATH=%s", path);
  _putenv(put);
}

void applyWorkingDirectory(const char* configured) {
  static char full[kTextBufferSize];
  if (!configured[0]) return;
  getFullPath(full, configured, false);
  SetCurrentDirectoryA(full);
}

}  // namespace zanto
