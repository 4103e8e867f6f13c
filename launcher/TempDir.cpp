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
#include "Extraction.h"
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

bool buildPrivateSecurity(PrivateSecurity& s, bool inheritable) {
  DWORD size = sizeof s.system;
  if (!currentUserSid(s.user, sizeof s.user) || !CreateWellKnownSid(WinLocalSystemSid, nullptr, s.system, &size))
    return false;
  size = sizeof s.administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, s.administrators, &size)) return false;
  ACL* acl = reinterpret_cast<ACL*>(s.acl);
  if (!InitializeAcl(acl, sizeof s.acl, ACL_REVISION)) return false;
  const DWORD inherit = inheritable ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
  for (PSID sid : {static_cast<PSID>(s.system), static_cast<PSID>(s.administrators)})
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, sid)) return false;
  // A service under LocalSystem: the user is SYSTEM, which has its entry already.
  if (!EqualSid(s.user, s.system) && !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, s.user))
    return false;
  return InitializeSecurityDescriptor(&s.descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorOwner(&s.descriptor, s.user, FALSE) &&
         SetSecurityDescriptorDacl(&s.descriptor, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(&s.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

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

// In the shared temporary folder anyone could make such a name first, or read it.
void createTempFile(char* out) {
  const char* directory = ownFilesDirectory();
  if (!directory || !GetTempFileNameA(directory, "zto", 0, out)) out[0] = '\0';
}

bool getProcessTempFileName(char* out, int number) {
  const char* directory = ownFilesDirectory();
  if (directory && formatText(out, kTextBufferSize, "%s\\zto_p%d.tmp", directory, number)) return true;
  out[0] = '\0';
  return false;
}

bool currentUserSid(BYTE* buffer, DWORD size) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) BYTE info[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  bool ok = GetTokenInformation(token, TokenUser, info, sizeof info, &length) != 0;
  CloseHandle(token);
  if (!ok) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(info)->User.Sid;
  return CopySid(size, buffer, sid) != 0;
}

}  // namespace zanto
