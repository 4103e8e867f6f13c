// Temporary directory (see TempDir.h). A system temp path whose long form cannot be
// had (a missing directory, say) is passed over like one with unwritable characters.
#include "TempDir.h"

#include <direct.h>
#include <windows.h>
// RtlGenRandom (advapi32's SystemFunction036): the system's random source.
#include <ntsecapi.h>

#include <cstring>

#include "ErrorReport.h"
#include "EventLog.h"
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
  static const char kNoTempDirectory[] = "I am sorry, but you must be at least Poweruser to run this program.\n";
  if (isEventLogMode()) {
    // A service has no desktop for the box: the report goes where its others go.
    noteFailureCode(kFailureNoTempDirectory);
    fatalError(kNoTempDirectory);
  }
  showMessageBox(kNoTempDirectory, "Error");
  exitLauncher(1);
}

namespace {

BOOL WINAPI systemCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  return CreateDirectoryA(path, attributes);
}

// A name that is taken already is tried this often with new random digits;
// beyond that something other than chance is at work.
constexpr int kNameAttempts = 64;

}  // namespace


PrivateDirectoryCalls privateDirectoryCalls = {&RtlGenRandom, &systemCreateDirectory};

bool createPrivateDirectory(char* out) {
  out[0] = '\0';
  static PrivateSecurity security;
  if (!buildPrivateSecurity(security, true)) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &security.descriptor, FALSE};
  char directory[kTextBufferSize];
  getTempDirectory(directory);
  size_t length = std::strlen(directory);
  const char* separator = length > 0 && directory[length - 1] == '\\' ? "" : "\\";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    unsigned long unique[2] = {0, 0};
    if (!privateDirectoryCalls.genRandom(unique, sizeof unique)) break;
    if (!formatText(out, kTextBufferSize, "%s%szto%08lx%08lx_dir", directory, separator, unique[0], unique[1]))
      break;
    if (privateDirectoryCalls.createDirectory(out, &attributes)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  out[0] = '\0';
  return false;
}

}  // namespace zanto
