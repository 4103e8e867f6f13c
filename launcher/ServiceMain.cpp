// The service run sequence (see ServiceMain.h). The status record is written
// whole under one lock and reported at once; the control handler only signals
// the auto-reset stop event, and a thread of its own carries the stop out, as
// main may still run on the service thread.
#include "ServiceMain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ConfigBlock.h"
#include "DeletionQueue.h"
#include "ErrorReport.h"
#include "EventLog.h"
#include "Extraction.h"
#include "JavaVMLauncher.h"
#include "Log.h"
#include "OutputCapture.h"
#include "ProcessState.h"
#include "RecoveryPlan.h"
#include "Settings.h"
#include "TextBuffer.h"
#include "WinLoader.h"

namespace zanto {

std::vector<std::wstring> serviceArguments;

namespace {

constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr DWORD kWaitHint = 50000;
// How often a pending start or stop moves its check point: well within the wait hint.
constexpr DWORD kCheckPointIntervalMs = 2000;
// A start in progress: clients such as net start wait as long as the check point
// moves within this time.
constexpr DWORD kStartWaitHint = 10000;
volatile LONG stopRequests;  // how many requests came, for the console run's check
volatile LONG consoleStopRequested;
constexpr DWORD kCloseGraceMs = 10000;
INIT_ONCE cleanupOnce = INIT_ONCE_STATIC_INIT;
const char* unreadableBlock = nullptr;

// Keeps a pending start's check point moving until the start has ended either way.
DWORD WINAPI startTicker(void*) {
  for (;;) {
    Sleep(kCheckPointIntervalMs);
    if (!tickStartPending()) return 0;
  }
}

// Ahead of HotSpot's own console handler, installed at the JVM's creation, which
// would end the service on a console event; the handler added last is asked first.
void serviceHandlerFirst() {
  logMessage("registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleCtrlHandler, FALSE);
  SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
}

BOOL CALLBACK queueExtraction(INIT_ONCE*, void*, void**) {
  runExitCleanup();
  return TRUE;
}

// The extracted files are queued once, whichever end comes first; a second
// caller waits until they are, as the process may end right after it.
void queueExtractionOnce() { InitOnceExecuteOnce(&cleanupOnce, queueExtraction, nullptr, nullptr); }

DWORD WINAPI stopWatcher(void*);

// Only starts the stop watcher, which does the stop's work: a run that is never
// stopped has no such thread.
void requestStop(bool shutdown) {
  InterlockedIncrement(&stopRequests);
  // Started first: the stop goes on while the report travels to the control
  // manager (a stopped report made meanwhile is not overwritten).
  if (markStopRequested()) {
    HANDLE watcher = CreateThread(nullptr, 0, stopWatcher, nullptr, 0, nullptr);
    if (watcher) CloseHandle(watcher);
  }
  reportState(SERVICE_STOP_PENDING, shutdown);
}

// Late: the stop has outlasted StopTimeout and is reported stopped already; the
// output gets a short moment only.
constexpr unsigned long kLateDrainMs = 1000;

// The streams are flushed within the drain's bound: a flush of its own here would
// wait on a full pipe, or on a stream lock an application thread holds there.
[[noreturn]] void endProcess(UINT exitCode, unsigned long drainMs = 5000) {
  drainOutputCaptureWithin(drainMs);
  // Not ExitProcess: a JVM stuck in its exit would hold the process in its
  // DLL detach.
  TerminateProcess(GetCurrentProcess(), exitCode);
  _exit(static_cast<int>(exitCode));
}

DWORD WINAPI exitJvmThread(void*) {
  if (stopJvm()) {
    // The JVM did not exit; the service stops anyway.
    reportStopped(NO_ERROR, 0);
    endProcess(0);
  }
  return 0;
}

// Started by the first stop request, does what the control handler must not:
// queues the extracted files, ends the JVM on a thread of its own (main may
// still run on the service thread), and keeps the check point moving until the
// process ends or StopTimeout has passed.
DWORD WINAPI stopWatcher(void*) {
  const uint64_t start = GetTickCount64();
  const uint64_t limitMs = uint64_t{stopTimeoutSeconds(configStore())} * 1000;
  // The exit first: queueing may wait on the queue's lock, and the exit hook
  // waits for the queueing before the process ends.
  HANDLE exiting = CreateThread(nullptr, 0, exitJvmThread, nullptr, 0, nullptr);
  if (exiting)
    CloseHandle(exiting);
  else
    exitJvmThread(nullptr);
  queueExtractionOnce();
  for (;;) {
    DWORD wait = kCheckPointIntervalMs;
    if (limitMs) {
      uint64_t elapsed = GetTickCount64() - start;
      if (elapsed >= limitMs) break;
      if (limitMs - elapsed < wait) wait = static_cast<DWORD>(limitMs - elapsed);
    }
    Sleep(wait);
    reportState(SERVICE_STOP_PENDING, true);
  }
  logError("the stop did not end within StopTimeout (%lu s): ending the process",
           static_cast<unsigned long>(limitMs / 1000));
  reportStopped(ERROR_SERVICE_REQUEST_TIMEOUT, 0);
  endProcess(ERROR_SERVICE_REQUEST_TIMEOUT, kLateDrainMs);
}

// A JVM installs a console handler of its own at creation (unless -Xrs),
// which would end it on Ctrl+C with status 130; the handler added last is
// asked first, so the console run's goes on top again.
void consoleStopFirst() {
  SetConsoleCtrlHandler(consoleRunCtrlHandler, FALSE);
  SetConsoleCtrlHandler(consoleRunCtrlHandler, TRUE);
}

// The launch, up to main's return. Stopped: a stop came before the JVM existed,
// and none was created.
LaunchResult startApplication(void (*jvmCreated)(), void (*beforeMain)()) {
  if (stopWasRequested()) return LaunchResult::Stopped;
  if (!LoadDLL(true)) return LaunchResult::Failed;
  // The runtime's C library may have bound its descriptors before the capture.
  bindRuntimeDescriptors();
  return launchProgram(serviceArguments, false, jvmExitHook, jvmCreated, beforeMain);
}

// A service whose block cannot be read: connected only to say why it cannot start.
void WINAPI unreadableBlockMain(DWORD argumentCount, LPSTR* arguments) {
  if (argumentCount > 0 && arguments[0]) copyText(serviceName, kTextBufferSize, arguments[0]);
  useEventLog();
  setStartPendingMode(true);
  serviceStatus = SERVICE_STATUS{kServiceType, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, kStartWaitHint};
  setServiceStatusHandle(RegisterServiceCtrlHandlerExA(serviceName, serviceControlHandler, nullptr));
  if (!hasServiceStatusHandle()) return;
  reportState(SERVICE_START_PENDING, false);
  noteFailureCode(kFailureBlockUnreadable);
  showError(unreadableBlock);
  reportFailedStart();
}

// After main: waits for the stop (which ends the process), or with
// EndWithApplication for the application's last non-daemon thread.
[[noreturn]] void runUntilEnd() {
  if (!stopWasRequested() && getIntSetting(setting::EndWithApplication) != 0) {
    destroyJvmAfterMain();
    // Ended by itself, or by a stop that came meanwhile: either is a clean end.
    queueExtractionOnce();
    reportStopped(NO_ERROR, 0);
    endProcess(0);
  }
  for (;;) Sleep(INFINITE);
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
  drainOutputCapture();
  reportStopped(NO_ERROR, 0);
}

bool serveUnreadableBlock(const char* problem) {
  unreadableBlock = problem;
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, unreadableBlockMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) != 0;
}

void JNICALL jvmExitHook(jint status) {
  drainOutputCapture();
  if (serviceStatus.dwCurrentState == SERVICE_STOPPED) return;
  // An application that ends by itself leaves its extracted files behind; the
  // next run deletes them, as after a stop (a restarted service would pile them
  // up otherwise).
  queueExtractionOnce();
  // An exit the service asked for is a clean stop; an application that ends the
  // JVM by itself with a failure status must not be shown as a clean stop.
  if (stopWasRequested() || status == 0)
    reportStopped(NO_ERROR, 0);
  else
    reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(status));
}

DWORD WINAPI serviceControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      requestStop(false);
      break;
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      requestStop(true);
      break;
    default:
      reportCurrentState();
      break;
  }
  return NO_ERROR;
}

BOOL WINAPI consoleCtrlHandler(DWORD) {
  logMessage("ConsoleCtrlHandler event");
  return TRUE;
}

void WINAPI serviceMain(DWORD argumentCount, LPSTR* arguments) {
  useEventLog();
  // The name the control manager started it under is the service's, whatever the
  // block or the image path say: its event source, last failure and logs go there.
  if (argumentCount > 0 && arguments[0] && *arguments[0] && std::strcmp(arguments[0], serviceName) != 0) {
    logMessage("started as service '%s' (configured '%s')", arguments[0], serviceName);
    copyText(serviceName, kTextBufferSize, arguments[0]);
  }
  const bool startPendingMode = getIntSetting(setting::StartPending) != 0;
  setStartPendingMode(startPendingMode);
  serviceStatus.dwServiceType = kServiceType;
  serviceStatus.dwCurrentState = startPendingMode ? SERVICE_START_PENDING : SERVICE_RUNNING;
  // Pre-shutdown: at system shutdown Windows then waits for the stop as long as
  // the installation asked (StopTimeout and a margin), not a few seconds.
  serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
  serviceStatus.dwWin32ExitCode = NO_ERROR;
  serviceStatus.dwServiceSpecificExitCode = 0;
  serviceStatus.dwCheckPoint = 0;
  // Stop is accepted from the first report: the start ends at its next step.
  serviceStatus.dwWaitHint = startPendingMode ? kStartWaitHint : kWaitHint;
  setServiceStatusHandle(RegisterServiceCtrlHandlerExA(serviceName, serviceControlHandler, nullptr));
  if (!hasServiceStatusHandle()) return;
  reportState(serviceStatus.dwCurrentState, false);
  if (startPendingMode) {
    HANDLE ticker = CreateThread(nullptr, 0, startTicker, nullptr, 0, nullptr);
    if (ticker) CloseHandle(ticker);
  }
  clearLastFailure();
  std::atexit(reportStoppedAtExit);
  // Connected first: a failure here is reported to the control manager, not lost
  // in a start that times out.
  extractIncludedFilesOrFail();
  processDeletionQueue();
  for (DWORD i = 0; i < argumentCount; ++i) serviceArguments.push_back(toWide(arguments[i]));
  startOutputCapture(false);
  LaunchResult launched = startApplication(serviceHandlerFirst, startPendingMode ? reportStarted : nullptr);
  if (launched != LaunchResult::Started) {
    if (launched == LaunchResult::Stopped) logMessage("stop requested during the start: no JVM created");
    queueExtractionOnce();
    drainOutputCapture();
    if (launched == LaunchResult::Stopped)
      reportStopped(NO_ERROR, 0);
    else
      reportFailedStart();
    return;
  }
  reportState(SERVICE_RUNNING, false);
  runUntilEnd();
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
  LaunchResult launched = startApplication(consoleStopFirst, nullptr);
  if (launched != LaunchResult::Started) return launched == LaunchResult::Stopped ? 0 : 1;
  runUntilEnd();
}

void installConsoleStop() {
  SetConsoleCtrlHandler(consoleRunCtrlHandler, TRUE);
}

int stopRequestCount() { return stopRequests; }

}  // namespace zanto
