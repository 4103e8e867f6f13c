// Service management through the service control manager (see
// ServiceCommands.h). Handles left open on a failure are released by the
// process end.
#include "ServiceCommands.h"

#include <cstdio>
#include <cstring>

#include "AccountRights.h"
#include "ConfigBlock.h"
#include "EventLog.h"
#include "FileTrust.h"
#include "Log.h"
#include "Paths.h"
#include "ProcessState.h"
#include "RecoveryPlan.h"
#include "ServiceAccount.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

constexpr DWORD kOwnInteractiveProcess = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kStopRetryMs = 250;
constexpr DWORD kStartStopWaitMs = 120000;

// Printed texts must reach a pipe even when the process later ends without
// running the runtime's exit processing.
void say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void sayName(const char* format) {
  printTo(stdout, format, serviceName);
  std::fflush(stdout);
}

// `count` bytes of 8-bit text (zero bytes included) as UTF-16 in `out`; false
// when they do not convert or fit.
bool toWide(const char* text, int count, wchar_t* out, int units) {
  return MultiByteToWideChar(CP_ACP, 0, text, count, out, units) > 0;
}

// Looked up at run time, as the function is not there on every system.
ChangeConfig2W changeConfig2() {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi) return nullptr;
  return reinterpret_cast<ChangeConfig2W>(reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")));
}

void setDescription(SC_HANDLE service, ChangeConfig2W change) {
  static wchar_t description[kTextBufferSize];
  getWideStringSetting(setting::ServiceDescription, description);
  if (!description[0] || !change) return;
  SERVICE_DESCRIPTIONW record{description};
  change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

// An optional part of the configuration: a refusal is a warning, never a failed
// installation, since the service itself is in place and works without it.
void applyOptional(SC_HANDLE service, ChangeConfig2W change, DWORD level, void* info, const char* what) {
  DWORD error = ERROR_PROC_NOT_FOUND;
  if (change && change(service, level, info)) return;
  if (change) error = GetLastError();
  logMessage("warning: %s not applied, ChangeServiceConfig2W(%lu) failed with error %lu", what, level, error);
  printTo(stdout, "%s not applied (error %lu).\n", what, error);
  std::fflush(stdout);
}

// Wide text for a message line on standard output.
const char* shown(const wchar_t* text) {
  static char out[kTextBufferSize];
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr) <= 0) out[0] = '\0';
  return out;
}

// Zeroes the password however install ends.
struct PasswordBuffer {
  wchar_t text[kTextBufferSize] = {};
  ~PasswordBuffer() { SecureZeroMemory(text, sizeof text); }
};

}  // namespace

void applyRecovery(SC_HANDLE service, ChangeConfig2W change, DWORD startType) {
  RecoverySettings settings;
  settings.restartOnFailure = getIntSetting(setting::RestartOnFailure);
  settings.delayFirst = getIntSetting(setting::RestartDelayFirst);
  settings.delaySecond = getIntSetting(setting::RestartDelaySecond);
  settings.delayLater = getIntSetting(setting::RestartDelayLater);
  settings.resetPeriod = getIntSetting(setting::FailureResetPeriod);
  settings.nonCrashFailures = getIntSetting(setting::RestartOnNonCrashFailure);
  settings.delayedAutoStart = getIntSetting(setting::DelayedAutoStart);
  RecoveryPlan plan = recoveryPlan(settings, startType == SERVICE_AUTO_START);
  if (plan.restart) {
    SC_ACTION actions[3];
    for (int i = 0; i < 3; ++i) actions[i] = SC_ACTION{SC_ACTION_RESTART, plan.delaysMs[i]};
    SERVICE_FAILURE_ACTIONSW record{plan.resetSeconds, nullptr, nullptr, 3, actions};
    applyOptional(service, change, SERVICE_CONFIG_FAILURE_ACTIONS, &record, "Recovery actions");
  }
  if (plan.nonCrashFailures) {
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    applyOptional(service, change, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, "Restart on non-crash failures");
  }
  if (plan.delayedStart) {
    SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
    applyOptional(service, change, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, "Delayed automatic start");
  }
}

void applyPreshutdownTimeout(SC_HANDLE service, ChangeConfig2W change) {
  SERVICE_PRESHUTDOWN_INFO info{preshutdownTimeoutMs(stopTimeoutSeconds(configStore()))};
  if (info.dwPreshutdownTimeout)
    applyOptional(service, change, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info, "Pre-shutdown timeout");
}

const char* buildDependencyList(const char* setting, char* buffer, size_t size) {
  size_t used = 0;
  const char* p = setting;
  while (*p) {
    const char* end = std::strchr(p, ',');
    size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (length) {
      // The piece, its zero byte and the final zero byte must all fit.
      if (used + length + 2 > size) break;
      std::memcpy(buffer + used, p, length);
      used += length;
      buffer[used++] = '\0';
    }
    if (!end) break;
    p = end + 1;
  }
  if (!used) return nullptr;
  buffer[used] = '\0';
  return buffer;
}

bool serviceBinaryPath(const char* path, char* out, size_t size) {
  bool quote = std::strchr(path, ' ') != nullptr;
  bool fits = quote ? formatText(out, size, "\"%s\"", path) : copyText(out, size, path);
  if (!fits) out[0] = '\0';
  return fits;
}

int installService(DWORD startType) {
  static wchar_t wideName[kTextBufferSize], accountText[kTextBufferSize];
  if (!toWide(serviceName, -1, wideName, kTextBufferSize)) {
    say("Could not create service.\n");
    return 1;
  }
  // Everything the account needs is settled before the old service is removed.
  if (!serviceAccountText(accountText, kTextBufferSize)) {
    say("ZANTO_SERVICE_ACCOUNT is too long.\n");
    return 1;
  }
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
  ServiceAccount account =
      parseServiceAccount(reinterpret_cast<const char16_t*>(accountText), reinterpret_cast<const char16_t*>(wideName));
  if (account.kind == AccountKind::Invalid) {
    printTo(stdout, "Service account '%s' cannot be used: %s.\n", shown(accountText), account.problem);
    std::fflush(stdout);
    return 1;
  }
  const wchar_t* accountName = account.name.empty() ? nullptr : reinterpret_cast<const wchar_t*>(account.name.c_str());
  PasswordBuffer password;
  if (accountNeedsPassword(account.kind) && !servicePassword(accountName, password.text, kTextBufferSize)) {
    printTo(stdout, "Service account '%s' needs a password: set ZANTO_SERVICE_PASSWORD or enter it when asked.\n",
            shown(accountName));
    std::fflush(stdout);
    return 1;
  }
  logMessage("installing service '%s' as %s", serviceName, accountName ? shown(accountName) : "LocalSystem");
  // Whoever may add files beside the executable chooses the DLLs it loads and the
  // files that configure it: such a folder gets no service.
  static char folder[kTextBufferSize], why[kTextBufferSize];
  copyText(folder, sizeof folder, getExecutablePath());
  if (char* slash = std::strrchr(folder, '\\')) slash[slash > folder && slash[-1] == ':' ? 1 : 0] = '\0';
  if (!folderMayHoldService(folder, why)) {
    printTo(stdout,
            "Not installed: %s. Put the executable in a folder that only administrators may change (below "
            "Program Files, say), or take the others' rights away (icacls).\n",
            why);
    std::fflush(stdout);
    return 1;
  }

  uninstallService(false);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    say("Could not open SCManager.\n");
    return 1;
  }
  static char setting[kTextBufferSize], dependencies[kTextBufferSize], binary[kTextBufferSize + 2];
  getStringSetting(setting::ServiceDependencies, setting, sizeof setting);
  const char* list = buildDependencyList(setting, dependencies, sizeof dependencies);
  // The wide call, because Wine's CreateServiceA keeps only the first
  // dependency.
  static wchar_t wideBinary[kTextBufferSize + 2], wideDependencies[kTextBufferSize], displayName[kTextBufferSize];
  getWideStringSetting(setting::DisplayName, displayName);
  int listBytes = 0;
  if (list)
    while (list[listBytes] || list[listBytes + 1]) ++listBytes;
  // Absent (blocks of other tools): the interactive type they were made for.
  const bool interactive = !hasSetting(setting::InteractiveService) || getIntSetting(setting::InteractiveService) != 0;
  DWORD type = accountMayInteract(account.kind) && interactive ? kOwnInteractiveProcess : SERVICE_WIN32_OWN_PROCESS;
  SC_HANDLE service = nullptr;
  if (serviceBinaryPath(getExecutablePath(), binary, sizeof binary) &&
      toWide(binary, -1, wideBinary, kTextBufferSize + 2) &&
      (!list || toWide(list, listBytes + 2, wideDependencies, kTextBufferSize)))
    service =
        CreateServiceW(manager, wideName, displayName[0] ? displayName : wideName, SERVICE_ALL_ACCESS, type, startType,
                       SERVICE_ERROR_NORMAL, wideBinary, nullptr, nullptr, list ? wideDependencies : nullptr,
                       accountName, accountNeedsPassword(account.kind) ? password.text : nullptr);
  // Handed on: not kept for the rest of the installation.
  SecureZeroMemory(password.text, sizeof password.text);
  if (!service) {
    say("Could not create service.\n");
    return 1;
  }
  ChangeConfig2W change = changeConfig2();
  setDescription(service, change);
  applyRecovery(service, change, startType);
  applyPreshutdownTimeout(service, change);
  // Reports still reach the event log without it, only less readable there.
  if (LONG error = registerEventSource(serviceName)) {
    logMessage("warning: event source not registered, error %ld", error);
    printTo(stdout, "Event source not registered (error %ld).\n", error);
    std::fflush(stdout);
  }
  // Where the service, whatever its account, keeps the text of a failed start.
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidError = serviceAccountSid(account.kind, accountName, sid);
  LONG keyError = sidError && sidError != ERROR_NONE_MAPPED ? static_cast<LONG>(sidError)
                                                            : prepareLastFailure(serviceName, sidError ? nullptr : sid);
  if (keyError) {
    logMessage("warning: the last failure's key not prepared, error %ld", keyError);
    printTo(stdout, "The service's account may not be able to record why a start failed (error %ld).\n", keyError);
    std::fflush(stdout);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  int result = 0;
  // The control manager does not grant the right itself: without it the
  // service cannot log on.
  if (account.kind == AccountKind::User) {
    DWORD error = sidError ? sidError : grantServiceLogonRightToSid(sid);
    if (error) {
      logMessage("warning: LsaAddAccountRights(SeServiceLogonRight) for %s failed with error %lu", shown(accountName),
                 error);
      printTo(stdout,
              "Could not grant 'Log on as a service' to '%s' (error %lu); the service cannot start until the account "
              "holds that right.\n",
              shown(accountName), error);
      result = 1;
    } else {
      printTo(stdout, "Granted 'Log on as a service' to '%s'.\n", shown(accountName));
    }
    std::fflush(stdout);
  }
  sayName("Installed service '%s'.\n");
  return result;
}

int uninstallService(bool verbose) {
  stopInstalledService(false);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    if (verbose) say("Could not open SCManager.\n");
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, serviceName, DELETE);
  if (!service || !DeleteService(service)) {
    if (verbose) say("Could not delete service.\n");
    return 1;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  removeEventSource(serviceName);
  if (verbose) sayName("Uninstalled service '%s'.\n");
  return 0;
}

int startInstalledService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) {
    say("Could not open SCManager.\n");
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_START);
  if (!service || !StartServiceA(service, 0, nullptr)) {
    say("Could not start service.\n");
    return 1;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  sayName("Starting service '%s'.\n");
  return 0;
}

int stopInstalledService(bool verbose) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) {
    if (verbose) say("Could not open SCManager.\n");
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) {
    if (verbose) say("Could not stop service.\n");
    CloseServiceHandle(manager);
    return 1;
  }
  SERVICE_STATUS status;
  // A control manager that refuses controls to a starting service (1061) gets the
  // stop once the start is over, which a stop pending keeps short.
  BOOL sent;
  DWORD waited = 0;
  while (!(sent = ControlService(service, SERVICE_CONTROL_STOP, &status)) &&
         GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_START_PENDING &&
         waited < kStartStopWaitMs) {
    Sleep(kStopRetryMs);
    waited += kStopRetryMs;
  }
  if (!sent) {
    if (verbose) say("Could not stop service.\n");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 1;
  }
  sayName("Stopping service '%s'.\n");
  say(waitForServiceStop(service) ? "Service stopped\n" : "Error while stopping service\n");
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}

const char* serviceStateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continuing";
    case SERVICE_PAUSE_PENDING: return "pausing";
    case SERVICE_PAUSED: return "paused";
    default: return "in an unknown state";
  }
}

int printServiceStatus() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) {
    say("Could not open SCManager.\n");
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
      sayName("Service '%s' is not installed.\n");
    else
      say("Could not query service.\n");
    CloseServiceHandle(manager);
    return 1;
  }
  SERVICE_STATUS status;
  bool queried = QueryServiceStatus(service, &status) != 0;
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!queried) {
    say("Could not query service.\n");
    return 1;
  }
  if (status.dwCurrentState == SERVICE_STOPPED) {
    printTo(stdout, "Service '%s' is stopped (exit code %lu, service-specific exit code %lu).\n", serviceName,
            status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
    // Not through printTo, which cuts at its buffer.
    std::string failure = readLastFailure(serviceName);
    if (!failure.empty()) {
      std::fputs(failure.c_str(), stdout);
      std::fputs("\n", stdout);
    }
  } else
    printTo(stdout, "Service '%s' is %s.\n", serviceName, serviceStateName(status.dwCurrentState));
  std::fflush(stdout);
  return 0;
}

int restartInstalledService() {
  // A stopped service is only started: "stop" would fail on it.
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS status;
  bool stopped = service && QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  if (!stopped && stopInstalledService(true) != 0) return 1;
  return startInstalledService();
}

bool waitForServiceStop(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return false;
  DWORD start = GetTickCount();
  DWORD checkPoint = status.dwCheckPoint;
  while (status.dwCurrentState == SERVICE_STOP_PENDING) {
    Sleep(500);
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCheckPoint > checkPoint) {
      start = GetTickCount();
      checkPoint = status.dwCheckPoint;
    } else if (GetTickCount() - start > status.dwWaitHint) {
      break;
    }
  }
  return status.dwCurrentState == SERVICE_STOPPED;
}

}  // namespace zanto
