// The process-wide state (see ProcessState.h).
#include "ProcessState.h"

#include <cstdio>

#include "Settings.h"

namespace zanto {

char serviceName[kTextBufferSize];
SERVICE_STATUS serviceStatus;

namespace {

bool eventLogMode = false;
bool consoleErrorMode = false;
int32_t reportedMessageId = 0;

// The failure code of a report that named none.
constexpr DWORD kFailureUnspecified = 1009;

SERVICE_STATUS_HANDLE statusHandle;
SRWLOCK statusLock = SRWLOCK_INIT;
bool startPendingMode = false;
volatile LONG stopRequested;

void (*outputDrain)() = nullptr;
void (*exitCleanup)() = nullptr;

// Called with the lock held.
void report() {
  if (statusHandle) SetServiceStatus(statusHandle, &serviceStatus);
}

}  // namespace

void useEventLog() { eventLogMode = true; }
bool isEventLogMode() { return eventLogMode; }
void useConsoleErrors() { consoleErrorMode = true; }
bool isConsoleErrorMode() { return consoleErrorMode; }

int32_t lastReportedMessageId() { return reportedMessageId; }
void noteFailureCode(int32_t code) { reportedMessageId = code; }

void setServiceStatusHandle(SERVICE_STATUS_HANDLE handle) { statusHandle = handle; }
bool hasServiceStatusHandle() { return statusHandle != nullptr; }
void setStartPendingMode(bool on) { startPendingMode = on; }
bool isStartPendingMode() { return startPendingMode; }
bool markStopRequested() { return !InterlockedExchange(&stopRequested, 1); }
bool stopWasRequested() { return stopRequested != 0; }

void reportStopped(DWORD win32ExitCode, DWORD specificExitCode) {
  AcquireSRWLockExclusive(&statusLock);
  if (serviceStatus.dwCurrentState != SERVICE_STOPPED) {
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwWin32ExitCode = win32ExitCode;
    serviceStatus.dwServiceSpecificExitCode = specificExitCode;
    report();
  }
  ReleaseSRWLockExclusive(&statusLock);
}

void reportState(DWORD state, bool nextCheckPoint) {
  AcquireSRWLockExclusive(&statusLock);
  if (serviceStatus.dwCurrentState != SERVICE_STOPPED && !(state == SERVICE_RUNNING && stopRequested)) {
    serviceStatus.dwCurrentState = state;
    if (nextCheckPoint) ++serviceStatus.dwCheckPoint;
    report();
  }
  ReleaseSRWLockExclusive(&statusLock);
}

void reportCurrentState() {
  AcquireSRWLockExclusive(&statusLock);
  report();
  ReleaseSRWLockExclusive(&statusLock);
}

bool tickStartPending() {
  AcquireSRWLockExclusive(&statusLock);
  bool pending = serviceStatus.dwCurrentState == SERVICE_START_PENDING;
  if (pending) {
    ++serviceStatus.dwCheckPoint;
    report();
  }
  ReleaseSRWLockExclusive(&statusLock);
  return pending;
}

// The start has succeeded as far as the launcher can tell, and clients waiting
// for it (net start, dependent services) may go on.
void reportStarted() {
  AcquireSRWLockExclusive(&statusLock);
  if (serviceStatus.dwCurrentState == SERVICE_START_PENDING && !stopRequested) {
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    report();
  }
  ReleaseSRWLockExclusive(&statusLock);
}

void reportFailedStart() {
  if (!startPendingMode) return reportStopped(1, 0);
  DWORD code = static_cast<DWORD>(lastReportedMessageId());
  reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, code ? code : kFailureUnspecified);
}

void setOutputDrain(void (*drain)()) { outputDrain = drain; }
void setExitCleanup(void (*cleanup)()) { exitCleanup = cleanup; }

// Without a capture the streams still go out before the process ends.
void drainOutputAtEnd() {
  if (outputDrain) return outputDrain();
  std::fflush(stdout);
  std::fflush(stderr);
}

void runExitCleanupAtEnd() {
  if (exitCleanup) exitCleanup();
}

}  // namespace zanto
