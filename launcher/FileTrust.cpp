// Reads a file's owner and DACL from Windows for the trust rules (see
// FileTrust.h); the decision itself is portable.
#include "FileTrust.h"

// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <cstring>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "FileTrustRules.h"
#include "Log.h"
#include "Paths.h"
#include "PrivateSecurity.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

std::string sidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return {};
  std::string out = text;
  LocalFree(text);
  return out;
}

std::string tokenUserSid() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  return currentUserSid(sid, sizeof sid) ? sidText(sid) : std::string();
}

std::vector<std::string> trustedPrincipals() {
  std::vector<std::string> trusted = {kSidSystem, kSidAdministrators, kSidTrustedInstaller};
  std::string own = tokenUserSid();
  if (!own.empty()) trusted.push_back(own);
  return trusted;
}

// False when the descriptor cannot be read: then nobody can tell who may write it.
// By name, or from `handle` (open with READ_CONTROL) when one is given.
bool readSecurity(const char* path, HANDLE handle, SecurityView& view, DWORD& error) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  error = handle ? GetSecurityInfo(handle, SE_FILE_OBJECT, wanted, &owner, nullptr, &dacl, nullptr, &descriptor)
                 : GetNamedSecurityInfoA(path, SE_FILE_OBJECT, wanted, &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return false;
  view.owner = sidText(owner);
  view.hasDacl = dacl != nullptr;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    AccessEntry entry;
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      entry.allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
      entry.sid = sidText(&ace->SidStart);
      entry.mask = ace->Mask;
    } else {
      // Kinds these rules do not read (object, callback entries): judged as a grant
      // of everything to nobody trusted.
      entry.sid = "S-1-0-0";
      entry.mask = kChangingRights;
    }
    view.entries.push_back(entry);
  }
  LocalFree(descriptor);
  return true;
}

bool judge(const char* path, char* why, HANDLE handle = nullptr) {
  SecurityView view;
  DWORD error;
  if (!readSecurity(path, handle, view, error)) {
    formatText(why, kTextBufferSize, "the permissions of %s cannot be read (error %lu)", path, error);
    return false;
  }
  TrustVerdict verdict = evaluateTrust(view, trustedPrincipals());
  if (verdict.trusted) return true;
  if (verdict.asOwner)
    formatText(why, kTextBufferSize, "%s is owned by %s", path,
               verdict.principal.empty() ? "an unknown account" : principalName(verdict.principal).c_str());
  else if (verdict.principal.empty())
    formatText(why, kTextBufferSize, "%s has no access list: everyone may change it", path);
  else
    formatText(why, kTextBufferSize, "%s may be changed by %s", path, principalName(verdict.principal).c_str());
  return false;
}

}  // namespace

bool runningPrivileged() {
  static int privileged = -1;
  if (privileged < 0) {
    privileged = tokenUserSid() == kSidSystem;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    if (!privileged && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
        CheckTokenMembership(nullptr, sid, &member))
      privileged = member != FALSE;
  }
  return privileged == 1;
}

bool mayConfigure(const char* path, char* why) {
  if (!runningPrivileged()) return true;
  return judge(path, why);
}

// The form an administrator recognises: long names, as typed.
static const char* shownPath(const char* path) {
  static char longForm[kTextBufferSize];
  DWORD n = getLongPath(path, longForm, sizeof longForm);
  return n > 0 && n < sizeof longForm ? longForm : path;
}

void requireTrusted(const char* path, const char* what) {
  static char why[kTextBufferSize], text[kTextBufferSize];
  path = shownPath(path);
  if (mayConfigure(path, why)) return;
  logError("%s not used: %s", what, why);
  formatText(text, sizeof text,
             "The %s %s is not used, as others may change it: %s. Only SYSTEM, Administrators, TrustedInstaller "
             "and the service's account may own or change what configures this service.",
             what, path, why);
  noteFailureCode(kFailureUntrustedFile);
  fatalError(text);
}

void requireTrustedExecutableFolder() {
  static bool checked = false;
  if (checked) return;
  checked = true;
  static char folder[kTextBufferSize];
  copyText(folder, sizeof folder, getExecutablePath());
  if (char* slash = std::strrchr(folder, '\\')) slash[slash > folder && slash[-1] == ':' ? 1 : 0] = '\0';
  requireTrusted(folder, "executable's folder");
}

bool folderMayHoldService(const char* folder, char* why) { return judge(shownPath(folder), why); }

bool openedMayBeTrusted(void* handle, const char* path, char* why) { return judge(path, why, handle); }

}  // namespace zanto
