// Service management through the service control manager (see
// ServiceCommands.h). Handles left open on a failure are released by the
// process end.
#include "ServiceCommands.h"

#include <cstdio>
#include <cstring>

#include "ConfigBlock.h"
#include "LauncherMain.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

namespace {

constexpr DWORD kOwnInteractiveProcess = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

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

using ChangeConfig2W = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

void setDescription(SC_HANDLE service) {
  static wchar_t description[kTextBufferSize];
  getWideStringSetting(setting::ServiceDescription, description);
  if (!description[0]) return;
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi) return;
  auto change =
      reinterpret_cast<ChangeConfig2W>(reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")));
  if (!change) return;
  SERVICE_DESCRIPTIONW record{description};
  change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

}  // namespace

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
  static wchar_t wideName[kTextBufferSize], wideBinary[kTextBufferSize + 2], wideDependencies[kTextBufferSize];
  int listBytes = 0;
  if (list)
    while (list[listBytes] || list[listBytes + 1]) ++listBytes;
  SC_HANDLE service = nullptr;
  if (serviceBinaryPath(getExecutablePath(), binary, sizeof binary) &&
      toWide(serviceName, -1, wideName, kTextBufferSize) && toWide(binary, -1, wideBinary, kTextBufferSize + 2) &&
      (!list || toWide(list, listBytes + 2, wideDependencies, kTextBufferSize)))
    service = CreateServiceW(manager, wideName, wideName, SERVICE_ALL_ACCESS, kOwnInteractiveProcess, startType,
                             SERVICE_ERROR_NORMAL, wideBinary, nullptr, nullptr, list ? wideDependencies : nullptr,
                             nullptr, nullptr);
  if (!service) {
    say("Could not create service.\n");
    return 1;
  }
  setDescription(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  sayName("Installed service '%s'.\n");
  return 0;
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
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
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
