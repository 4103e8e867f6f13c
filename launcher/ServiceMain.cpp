// The service run sequence (see ServiceMain.h). The status record is written
// whole by each writer and reported at once; the stop request reaches the
// service thread only through the auto-reset stop event.
#include "ServiceMain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DeletionQueue.h"
#include "ErrorReport.h"
#include "JavaVMLauncher.h"
#include "LauncherMain.h"
#include "Log.h"
#include "OutputCapture.h"
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
volatile LONG consoleStopRequested;
constexpr DWORD kCloseGraceMs = 10000;

// Run in a console there is no control manager to report to.
void report() {
  if (statusHandle) SetServiceStatus(statusHandle, &serviceStatus);
}

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

// Leaves the JVM running after main, as its application may go on in threads of
// its own, until the stop event.
bool startApplication() {
  if (!stopEvent) stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return LoadDLL(true) && launchProgram(serviceArguments, false, jvmExitHook);
}

[[noreturn]] void stopApplicationOnRequest() {
  WaitForSingleObject(stopEvent, INFINITE);
  shutdownJvm();
  drainOutputCapture();
  serviceStatus.dwCurrentState = SERVICE_STOPPED;
  report();
  std::fflush(stdout);
  _exit(0);
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
  std::fflush(stderr);
  drainOutputCapture();
  if (serviceStatus.dwCurrentState == SERVICE_STOPPED) return;
  // An application that ends by itself leaves its extracted files behind; the
  // next run deletes them, as after a stop (a restarted service would pile them
  // up otherwise).
  if (!stopRequested) runExitCleanup();
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
  startOutputCapture(false);
  if (!startApplication()) {
    reportStopped(1, 0);
    return;
  }
  serviceStatus.dwCurrentState = SERVICE_RUNNING;
  report();
  logMessage("registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
  stopApplicationOnRequest();
}

BOOL WINAPI consoleRunCtrlHandler(DWORD event) {
  logMessage("console run: control event %lu, stopping", event);
  if (!InterlockedExchange(&consoleStopRequested, 1)) requestStop(false);
  // After a close, logoff or shutdown event the system ends the process as soon
  // as the handler returns: give the JVM's exit the time the system allows.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(kCloseGraceMs);
  return TRUE;
}

int runInConsole() {
  useConsoleErrors();
  serviceStatus.dwCurrentState = SERVICE_RUNNING;
  serviceArguments.push_back(toWide(serviceName));
  // Before the launch, so that an early Ctrl+C stops the application once it
  // runs instead of killing the process halfway.
  installConsoleStop();
  processDeletionQueue();
  startOutputCapture(true);
  if (!startApplication()) return 1;
  stopApplicationOnRequest();
}

void installConsoleStop() {
  if (!stopEvent) stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(consoleRunCtrlHandler, TRUE);
}

bool consoleStopPending() { return stopEvent && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

}  // namespace zanto
