// Security for the running account's own folders and files (see PrivateSecurity.h).
#include "PrivateSecurity.h"

#include <initializer_list>

namespace zanto {

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

}  // namespace zanto
