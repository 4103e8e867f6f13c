// Account text, password and logon right for install (see AccountRights.h).
// The password lives only in the caller's buffer; nothing here logs or keeps it.
#include "AccountRights.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "ConfigBlock.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

LogonRightCalls logonRightCalls = {LookupAccountNameW, LsaOpenPolicy, LsaAddAccountRights, LsaClose};

namespace {

// 0: unset or empty, 1: read, -1: longer than the buffer.
int readVariable(const wchar_t* name, wchar_t* out, size_t units) {
  out[0] = L'\0';
  DWORD n = GetEnvironmentVariableW(name, out, static_cast<DWORD>(units));
  if (n >= units) {
    SecureZeroMemory(out, units * sizeof(wchar_t));
    return -1;
  }
  return n ? 1 : 0;
}

LSA_UNICODE_STRING lsaText(const wchar_t* text) {
  USHORT bytes = static_cast<USHORT>(std::wcslen(text) * sizeof(wchar_t));
  return LSA_UNICODE_STRING{bytes, bytes, const_cast<wchar_t*>(text)};
}

}  // namespace

bool serviceAccountText(wchar_t* out, size_t units) {
  int from = readVariable(L"ZANTO_SERVICE_ACCOUNT", out, units);
  if (from != 0) return from > 0;
  static char configured[kTextBufferSize];
  getStringSetting(setting::ServiceAccount, configured, sizeof configured);
  if (!configured[0]) return true;
  return MultiByteToWideChar(CP_ACP, 0, configured, -1, out, static_cast<int>(units)) > 0;
}

namespace {

// Read once, then gone from this process's environment (and the C runtime's copy,
// overwritten first): nothing started later inherits it.
void forgetPasswordVariable() {
  if (char* value = std::getenv("ZANTO_SERVICE_PASSWORD")) SecureZeroMemory(value, std::strlen(value));
  _putenv("ZANTO_SERVICE_PASSWORD=");
  SetEnvironmentVariableW(L"ZANTO_SERVICE_PASSWORD", nullptr);
}

}  // namespace

bool servicePassword(const wchar_t* account, wchar_t* out, size_t units) {
  int from = readVariable(L"ZANTO_SERVICE_PASSWORD", out, units);
  forgetPasswordVariable();
  if (from != 0) return from > 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return false;  // redirected: nobody to ask
  char shown[kTextBufferSize];
  if (WideCharToMultiByte(CP_ACP, 0, account, -1, shown, sizeof shown, nullptr, nullptr) <= 0) shown[0] = '\0';
  printTo(stdout, "Password for '%s': ", shown);
  std::fflush(stdout);
  SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
  DWORD read = 0;
  bool got = ReadConsoleW(input, out, static_cast<DWORD>(units - 1), &read, nullptr) != 0;
  SetConsoleMode(input, mode);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  // A whole line ends with its line break; without one it did not fit.
  if (!got || read < 1 || out[read - 1] != L'\n') {
    SecureZeroMemory(out, units * sizeof(wchar_t));
    return false;
  }
  while (read > 0 && (out[read - 1] == L'\n' || out[read - 1] == L'\r')) --read;
  out[read] = L'\0';
  return read > 0;
}

namespace {

// LookupAccountName takes no ".": the local accounts are this computer's.
DWORD lookupSid(const wchar_t* account, BYTE* sid) {
  static wchar_t name[kTextBufferSize];
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  const wchar_t* rest = account;
  if (account[0] == L'.' && account[1] == L'\\') {
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &size)) return GetLastError();
    rest = account + 1;
  }
  size_t head = std::wcslen(computer), tail = std::wcslen(rest);
  if (head + tail >= kTextBufferSize) return ERROR_INSUFFICIENT_BUFFER;
  std::wmemcpy(name, computer, head);
  std::wmemcpy(name + head, rest, tail + 1);
  DWORD sidSize = SECURITY_MAX_SID_SIZE, domainSize = kTextBufferSize;
  static wchar_t domain[kTextBufferSize];
  SID_NAME_USE use;
  if (!logonRightCalls.lookupAccountName(nullptr, name, sid, &sidSize, domain, &domainSize, &use))
    return GetLastError();
  return 0;
}

// A virtual account's SID is the service's: S-1-5-80 and the SHA-1 of the
// upper-case service name (UTF-16) as five sub-authorities. Computed, as the
// name may not resolve before the service has run once.
DWORD virtualAccountSid(const wchar_t* account, BYTE* sid) {
  const wchar_t* name = std::wcschr(account, L'\\');
  name = name ? name + 1 : account;
  static wchar_t upper[kTextBufferSize];
  int units = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name, -1, upper, kTextBufferSize);
  if (units <= 1) return ERROR_INVALID_NAME;
  HCRYPTPROV provider;
  HCRYPTHASH hash;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return GetLastError();
  DWORD error = 0;
  DWORD parts[5] = {};
  DWORD size = sizeof parts;
  if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
    error = GetLastError();
  } else {
    if (!CryptHashData(hash, reinterpret_cast<const BYTE*>(upper), static_cast<DWORD>(units - 1) * sizeof(wchar_t),
                       0) ||
        !CryptGetHashParam(hash, HP_HASHVAL, reinterpret_cast<BYTE*>(parts), &size, 0))
      error = GetLastError();
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  if (error) return error;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID built = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, SECURITY_SERVICE_ID_BASE_RID, parts[0], parts[1], parts[2], parts[3],
                                parts[4], 0, 0, &built))
    return GetLastError();
  BOOL copied = CopySid(SECURITY_MAX_SID_SIZE, sid, built);
  FreeSid(built);
  return copied ? 0 : GetLastError();
}

}  // namespace

DWORD serviceAccountSid(AccountKind kind, const wchar_t* account, BYTE* sid) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  switch (kind) {
    case AccountKind::LocalService:
      return CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &size) ? 0 : GetLastError();
    case AccountKind::NetworkService:
      return CreateWellKnownSid(WinNetworkServiceSid, nullptr, sid, &size) ? 0 : GetLastError();
    case AccountKind::Virtual: return account ? virtualAccountSid(account, sid) : ERROR_NONE_MAPPED;
    case AccountKind::ManagedGroup:
    case AccountKind::User: return account ? lookupSid(account, sid) : ERROR_NONE_MAPPED;
    default: return ERROR_NONE_MAPPED;
  }
}

DWORD grantServiceLogonRight(const wchar_t* account) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  if (DWORD error = lookupSid(account, sid)) return error;
  return grantServiceLogonRightToSid(sid);
}

DWORD grantServiceLogonRightToSid(void* sid) {
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  NTSTATUS status =
      logonRightCalls.openPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, &policy);
  if (status != 0) return LsaNtStatusToWinError(status);
  LSA_UNICODE_STRING right = lsaText(L"SeServiceLogonRight");
  status = logonRightCalls.addAccountRights(policy, sid, &right, 1);
  logonRightCalls.close(policy);
  return status == 0 ? 0 : LsaNtStatusToWinError(status);
}

}  // namespace zanto
