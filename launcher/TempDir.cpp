// Temporary directory (see TempDir.h). A system temp path whose long form cannot be
// had (a missing directory, say) is passed over like one with unwritable characters.
#include "TempDir.h"

#include <direct.h>
#include <windows.h>

#include <cstring>

#include "ErrorReport.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

bool isWritableDirectory(const char* directory) {
  char probe[kTextBufferSize];
  if (!formatText(probe, sizeof probe, "%s\\zto_w_testdir", directory)) return false;
  _rmdir(probe);
  if (_mkdir(probe) != 0) return false;
  bool exists = fileExists(probe);
  _rmdir(probe);
  return exists;
}

void getTempDirectory(char* out) {
  char system[kTextBufferSize], longForm[kTextBufferSize];
  DWORD n = GetTempPathA(sizeof system, system);
  if (n > 0 && n < sizeof system) {
    DWORD l = getLongPath(system, longForm, sizeof longForm);
    if (l > 0 && l < sizeof longForm && !std::strchr(longForm, '?')) {
      copyText(out, kTextBufferSize, system);
      return;
    }
  }
  char windows[kTextBufferSize];
  UINT w = GetWindowsDirectoryA(windows, sizeof windows);
  if (w == 0 || w >= sizeof windows) windows[0] = '\0';
  char candidate[kTextBufferSize];
  if (windows[0]) {
    formatText(candidate, sizeof candidate, "%s\\temp", windows);
    if (isWritableDirectory(candidate)) return (void)copyText(out, kTextBufferSize, candidate);
  }
  for (const char* fixed : {"c:\\temp", "c:\\tmp"})
    if (isWritableDirectory(fixed)) return (void)copyText(out, kTextBufferSize, fixed);
  if (windows[0] && isWritableDirectory(windows)) return (void)copyText(out, kTextBufferSize, windows);
  if (isWritableDirectory("c:\\")) {
    _mkdir("c:\\tmp");
    if (isWritableDirectory("c:\\tmp")) return (void)copyText(out, kTextBufferSize, "c:\\tmp");
  }
  showMessageBox("I am sorry, but you must be at least Poweruser to run this program.\n", "Error");
  exitLauncher(1);
}

void createTempFile(char* out) {
  char directory[kTextBufferSize];
  getTempDirectory(directory);
  if (!GetTempFileNameA(directory, "zto", 0, out)) out[0] = '\0';
}

void getProcessTempFileName(char* out, int number) {
  char system[kTextBufferSize];
  DWORD n = GetTempPathA(sizeof system, system);
  if (n == 0 || n >= sizeof system) system[0] = '\0';
  formatText(out, kTextBufferSize, "%szto_p%d.tmp", system, number);
}

}  // namespace zanto
