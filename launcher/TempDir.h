// The temporary directory: the first usable of the system's temp path and a fixed
// list of fall-backs, named temporary files, and the per-process file name.
#pragma once

#include <windows.h>

namespace zanto {

// The system calls that make a private directory, replaceable so that tests can
// see their exact arguments (Wine keeps only part of a file's security) and force
// name collisions.
struct PrivateDirectoryCalls {
  BOOLEAN(WINAPI* genRandom)(PVOID buffer, ULONG length);
  BOOL(WINAPI* createDirectory)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
};
extern PrivateDirectoryCalls privateDirectoryCalls;

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

// A new directory below the temporary directory that only SYSTEM, Administrators
// and the launching account may use (full control, nothing inherited, owned by the
// launching account), named "zto" + 16 random hex digits + "_dir"; a name that
// exists already is passed over for another. False (out empty) when it cannot be
// made; the directory is never made with weaker security.
bool createPrivateDirectory(char* out);  // 8192 bytes

bool isWritableDirectory(const char* directory);
void getTempDirectory(char* out);  // 8192 bytes; does not return when none is usable
// Both in the private directory of the launcher's own files (see Extraction.h);
// empty (false) when there is none.
void createTempFile(char* out);  // MAX_PATH bytes at least
bool getProcessTempFileName(char* out, int number);  // 8192 bytes

// The SID of the process token's user into `buffer` (SECURITY_MAX_SID_SIZE bytes).
bool currentUserSid(BYTE* buffer, DWORD size);

}  // namespace zanto
