// The process-wide state, on the ground floor of the launcher: the service name
// in use, the run mode and with it where reports go, the code of the last
// failure reported, the service's status record and its reporting, and the end
// work that higher floors register for reports made on lower ones. Every other
// file may read it; it includes none of them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zanto {

// The service's name: the block's ApplicationName, the command line's, or the
// one the control manager started the service under.
extern char serviceName[];

// Where reports go. Service mode: to the event log and the last failure, never
// to a box. Console errors: to standard error (console kinds, command words).
void useEventLog();
bool isEventLogMode();
void useConsoleErrors();
bool isConsoleErrorMode();

// The id of the last configured message reported, or the code a report without
// one noted (0: none): the service-specific exit code of a failed start.
int32_t lastReportedMessageId();
void noteFailureCode(int32_t code);
// Failure codes of reports that carry no configured message.
constexpr int32_t kFailureBlockUnreadable = 1020;
constexpr int32_t kFailureFirstRun = 1021;
constexpr int32_t kFailureNoTempDirectory = 1022;
constexpr int32_t kFailureUntrustedFile = 1023;

// The status record, written whole under one lock and reported at once; reports
// come from the control handler, the stop watcher, the exit hook and the service
// thread, and once stopped nothing reports again. Without a status handle (run in
// a console) nothing is reported.
extern SERVICE_STATUS serviceStatus;
void setServiceStatusHandle(SERVICE_STATUS_HANDLE handle);
bool hasServiceStatusHandle();
// StartPending: start pending until main is called, failures as service-specific codes.
void setStartPendingMode(bool on);
bool isStartPendingMode();
// The first request returns true; every later one false.
bool markStopRequested();
bool stopWasRequested();
// Stopped with these codes, unless stopped already.
void reportStopped(DWORD win32ExitCode, DWORD specificExitCode);
// Moves to `state` unless the service has stopped meanwhile (or, for running,
// a stop is pending); a pending report may also move the check point.
void reportState(DWORD state, bool nextCheckPoint);
// Re-reports the record as it stands (any other control).
void reportCurrentState();
// Moves a pending start's check point; false once the start is no longer pending.
bool tickStartPending();
// Running, right before main; clients waiting for the start may go on.
void reportStarted();
// Stopped after a failed start, unless already stopped: exit code 1, or with
// StartPending 1066 and the failure's code.
void reportFailedStart();

// End work owned by higher floors (the output capture's drain, the exit
// cleanup), registered when that work first exists, so that a report on any
// floor can end the process properly. Both run nothing until registered.
void setOutputDrain(void (*drain)());
void setExitCleanup(void (*cleanup)());
void drainOutputAtEnd();
void runExitCleanupAtEnd();

}  // namespace zanto
