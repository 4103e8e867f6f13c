// What install needs for the account a service runs as: the account text (the
// setting, or ZANTO_SERVICE_ACCOUNT), its password (the environment or the
// console, never the block) and the "Log on as a service" right.
#pragma once

// clang-format off
#include <windows.h>
#include <ntsecapi.h>  // needs <windows.h> first
// clang-format on

#include <cstddef>

#include "ServiceAccount.h"

namespace zanto {

// The account text: ZANTO_SERVICE_ACCOUNT when set and not empty, else
// ServiceAccount. False when the variable does not fit `units`.
bool serviceAccountText(wchar_t* out, size_t units);

// The password from ZANTO_SERVICE_PASSWORD, else read from the console without
// echo after a prompt naming `account`. False (and `out` empty) when there is
// none: the variable is unset and standard input is no console, or nothing or
// too much was entered. The variable is removed from the environment once read,
// whatever it held.
bool servicePassword(const wchar_t* account, wchar_t* out, size_t units);

// The calls that grant the right, the system's by default; tests put recorders
// here, as Wine implements no account rights.
struct LogonRightCalls {
  BOOL(WINAPI* lookupAccountName)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
  NTSTATUS(NTAPI* openPolicy)(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
  NTSTATUS(NTAPI* addAccountRights)(LSA_HANDLE, PSID, PLSA_UNICODE_STRING, ULONG);
  NTSTATUS(NTAPI* close)(LSA_HANDLE);
};
extern LogonRightCalls logonRightCalls;

// Grants SeServiceLogonRight to `account` (a ".\" domain means this computer);
// 0 or the Win32 error of the call that failed.
DWORD grantServiceLogonRight(const wchar_t* account);
// The same for an account already looked up.
DWORD grantServiceLogonRightToSid(void* sid);

// The SID of the account a service of `kind` runs as (`account` as the control
// manager was given it) into `sid` (SECURITY_MAX_SID_SIZE bytes); 0 or the Win32
// error. LocalSystem has none to give: ERROR_NONE_MAPPED. Accounts with a name
// are looked up through logonRightCalls.
DWORD serviceAccountSid(AccountKind kind, const wchar_t* account, BYTE* sid);

}  // namespace zanto
