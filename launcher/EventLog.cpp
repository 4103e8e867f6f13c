// The event log and the last failure (see EventLog.h). A name that is empty,
// does not fit a key path or holds a backslash (no service name does) is
// refused: nothing is written rather than another key.
#include "EventLog.h"

#include <aclapi.h>

#include <cstring>

#include "ProcessState.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

constexpr char kLastFailure[] = "LastFailure";
constexpr DWORD kPathSize = kTextBufferSize + 128;

bool keyPath(char* path, const char* format, const char* name, const char* tail = "") {
  return *name && !std::strchr(name, '\\') && formatText(path, kPathSize, format, name, tail);
}

bool serviceKeyPath(const char* name, char* path, const char* tail) {
  return keyPath(path, "SYSTEM\\CurrentControlSet\\Services\\%s%s", name, tail);
}

bool eventSourceKeyPath(const char* name, char* path) {
  return keyPath(path, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s%s", name);
}

void keepLastFailure(const char* text) {
  static char path[kPathSize];
  HKEY service, key;
  // The key install made, which the service's account may write even where it may
  // not create keys.
  if (serviceKeyPath(serviceName, path, "\\Parameters") &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, kLastFailure, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    return;
  }
  // Only below the key of an installed service: a start outside the control
  // manager must not make a key for a service that does not exist.
  if (!serviceKeyPath(serviceName, path, "")) return;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_CREATE_SUB_KEY, &service) != ERROR_SUCCESS) return;
  if (RegCreateKeyExA(service, "Parameters", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, kLastFailure, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
  }
  RegCloseKey(service);
}

void reportEvent(WORD type, const char* text) {
  static wchar_t wideName[kTextBufferSize], wideText[kTextBufferSize];
  // A report of the 8-bit buffers fits in as many UTF-16 units.
  if (MultiByteToWideChar(CP_ACP, 0, serviceName, -1, wideName, kTextBufferSize) > 0 &&
      MultiByteToWideChar(CP_ACP, 0, text, -1, wideText, kTextBufferSize) > 0) {
    if (HANDLE source = RegisterEventSourceW(nullptr, wideName)) {
      const wchar_t* strings[] = {wideText};
      ReportEventW(source, type, 0, kEventTextMessage, nullptr, 1, 0, strings, nullptr);
      DeregisterEventSource(source);
    }
  }
}

}  // namespace

void reportFailureEvent(const char* text) {
  reportEvent(EVENTLOG_ERROR_TYPE, text);
  keepLastFailure(text);
}

void reportWarningEvent(const char* text) { reportEvent(EVENTLOG_WARNING_TYPE, text); }

void clearLastFailure() {
  static char path[kPathSize];
  HKEY key;
  if (!serviceKeyPath(serviceName, path, "\\Parameters") ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  // Written only when there is something to clear.
  if (RegQueryValueExA(key, kLastFailure, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    RegDeleteValueA(key, kLastFailure);
  RegCloseKey(key);
}

LONG prepareLastFailure(const char* name, void* sid) {
  static char path[kPathSize];
  if (!serviceKeyPath(name, path, "\\Parameters")) return ERROR_INVALID_NAME;
  HKEY key;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr, &key,
                               nullptr);
  if (error != ERROR_SUCCESS || !sid) {
    if (error == ERROR_SUCCESS) RegCloseKey(key);
    return error;
  }
  PACL current = nullptr, updated = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  error = static_cast<LONG>(GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                            &current, nullptr, &descriptor));
  if (error == ERROR_SUCCESS) {
    EXPLICIT_ACCESSW entry{};
    entry.grfAccessPermissions = KEY_QUERY_VALUE | KEY_SET_VALUE;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    error = static_cast<LONG>(SetEntriesInAclW(1, &entry, current, &updated));
  }
  if (error == ERROR_SUCCESS)
    error = static_cast<LONG>(
        SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, updated, nullptr));
  if (updated) LocalFree(updated);
  if (descriptor) LocalFree(descriptor);
  RegCloseKey(key);
  return error;
}

std::string readLastFailure(const char* name) {
  static char path[kPathSize];
  if (!serviceKeyPath(name, path, "\\Parameters")) return {};
  DWORD size = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path, kLastFailure, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return {};
  // Sized by the value itself, whoever wrote it.
  std::string text(size, '\0');
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path, kLastFailure, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
    return {};
  text.resize(strnlen(text.data(), text.size()));
  return text;
}

LONG registerEventSource(const char* name) {
  static char path[kPathSize];
  static wchar_t exe[kTextBufferSize];
  if (!eventSourceKeyPath(name, path)) return ERROR_INVALID_NAME;
  DWORD units = GetModuleFileNameW(nullptr, exe, kTextBufferSize);
  if (units == 0 || units >= kTextBufferSize) return ERROR_FILENAME_EXCED_RANGE;
  HKEY key;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  error = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe),
                         (units + 1) * sizeof(wchar_t));
  if (error == ERROR_SUCCESS)
    error = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
  RegCloseKey(key);
  return error;
}

LONG removeEventSource(const char* name) {
  static char path[kPathSize];
  if (!eventSourceKeyPath(name, path)) return ERROR_INVALID_NAME;
  return RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
}

}  // namespace zanto
