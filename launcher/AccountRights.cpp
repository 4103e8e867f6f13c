// Account text, password and logon right for install (see AccountRights.h).
// The password lives only in the caller's buffer; nothing here logs or keeps it.
#include "AccountRights.h"

#include <cstdio>
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

bool servicePassword(const wchar_t* account, wchar_t* out, size_t units) {
  int from = readVariable(L"ZANTO_SERVICE_PASSWORD", out, units);
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

DWORD grantServiceLogonRight(const wchar_t* account) {
  // LookupAccountName takes no ".": the local accounts are this computer's.
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
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid, domainSize = kTextBufferSize;
  static wchar_t domain[kTextBufferSize];
  SID_NAME_USE use;
  if (!logonRightCalls.lookupAccountName(nullptr, name, sid, &sidSize, domain, &domainSize, &use))
    return GetLastError();
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
