// Security for what only the running account may use: its token's user, and
// a descriptor for the launcher's private folders and files. Ground floor: the
// launcher's log needs it before anything else exists.
#pragma once

#include <windows.h>

namespace zanto {

// The SID of the process token's user into `buffer` (SECURITY_MAX_SID_SIZE bytes).
bool currentUserSid(BYTE* buffer, DWORD size);

// Security that lets only SYSTEM, Administrators and the token's user in (full
// control, protected from the parent's entries, owned by the token's user); for a
// folder, `inheritable` hands it on to everything made inside. The buffers live
// as long as the descriptor is used.
struct PrivateSecurity {
  SECURITY_DESCRIPTOR descriptor;
  BYTE user[SECURITY_MAX_SID_SIZE];
  BYTE system[SECURITY_MAX_SID_SIZE];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  BYTE acl[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
};
bool buildPrivateSecurity(PrivateSecurity& security, bool inheritable);

}  // namespace zanto
