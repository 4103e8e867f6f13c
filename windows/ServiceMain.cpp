// The service run sequence (see ServiceMain.h). The status record is written
// whole by each writer and reported at once; the stop request reaches the
// service thread only through the auto-reset stop event.
#include "ServiceMain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DeletionQueue.h"
#include "JavaVMLauncher.h"
#include "LauncherMain.h"
#include "Log.h"
#include "WinLoader.h"

namespace zanto {

SERVICE_STATUS serviceStatus;
std::vector<std::wstring> serviceArguments;

namespace {

constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr DWORD kWaitHint = 50000;

SERVICE_STATUS_HANDLE statusHandle;
HANDLE stopEvent;
volatile LONG stopRequested;

void report() { SetServiceStatus(statusHandle, &serviceStatus); }

void reportStopped(DWORD win32ExitCode, DWORD specificExitCode) {
  serviceStatus.dwCurrentState = SERVICE_STOPPED;
  serviceStatus.dwWin32ExitCode = win32ExitCode;
  serviceStatus.dwServiceSpecificExitCode = specificExitCode;
  report();
}

void requestStop(bool shutdown) {
  runExitCleanup();
  InterlockedExchange(&stopRequested, 1);
  serviceStatus.dwCurrentState = SERVICE_STOP_PENDING;
  if (shutdown) ++serviceStatus.dwCheckPoint;
  report();
  SetEvent(stopEvent);
}

std::wstring toWide(const char* text) {
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
  wide.resize(static_cast<size_t>(units - 1));
  return wide;
}

}  // namespace

void reportStoppedAtExit() {
  std::fflush(stdout);
  if (serviceStatus.dwCurrentState != SERVICE_STOPPED) reportStopped(NO_ERROR, 0);
}

void JNICALL jvmExitHook(jint status) {
  std::fflush(stdout);
  if (serviceStatus.dwCurrentState == SERVICE_STOPPED) return;
  // An exit the service asked for is a clean stop; an application that ends the
  // JVM by itself with a failure status must not be shown as a clean stop.
  if (stopRequested || status == 0)
    reportStopped(NO_ERROR, 0);
  else
    reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(status));
}

void WINAPI serviceControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      requestStop(false);
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      requestStop(true);
      break;
    default:
      report();
      break;
  }
}

BOOL WINAPI consoleCtrlHandler(DWORD) {
  logMessage("ConsoleCtrlHandler event");
  return TRUE;
}

void WINAPI serviceMain(DWORD argumentCount, LPSTR* arguments) {
  serviceStatus.dwServiceType = kServiceType;
  serviceStatus.dwCurrentState = SERVICE_RUNNING;
  serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  serviceStatus.dwWin32ExitCode = NO_ERROR;
  serviceStatus.dwServiceSpecificExitCode = 0;
  serviceStatus.dwCheckPoint = 0;
  serviceStatus.dwWaitHint = kWaitHint;
  statusHandle = RegisterServiceCtrlHandlerA(serviceName, serviceControlHandler);
  if (!statusHandle) return;
  report();
  std::atexit(reportStoppedAtExit);
  processDeletionQueue();
  for (DWORD i = 0; i < argumentCount; ++i) serviceArguments.push_back(toWide(arguments[i]));
  stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!LoadDLL(true) || !launchProgram(serviceArguments, false, jvmExitHook)) {
    reportStopped(1, 0);
    return;
  }
  serviceStatus.dwCurrentState = SERVICE_RUNNING;
  report();
  logMessage("registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
  WaitForSingleObject(stopEvent, INFINITE);
  shutdownJvm();
  serviceStatus.dwCurrentState = SERVICE_STOPPED;
  report();
  std::fflush(stdout);
  _exit(0);
}

}  // namespace zanto
