// The service run: what the control dispatcher calls when the control manager
// starts the launcher as a service, the control and console handlers, and the
// reports that make the service end in the stopped state.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "JniLaunch.h"
#include "ProcessState.h"

namespace zanto {

// The dispatcher's arguments as UTF-16, the service name first; handed to the
// Java launch.
extern std::vector<std::wstring> serviceArguments;

void WINAPI serviceMain(DWORD argumentCount, LPSTR* arguments);
// Stop, shutdown and pre-shutdown request the stop; every control re-reports.
DWORD WINAPI serviceControlHandler(DWORD control, DWORD eventType, void* eventData, void* context);
BOOL WINAPI consoleCtrlHandler(DWORD event);
void reportStoppedAtExit();
// Enters the control dispatcher for a service whose configuration block cannot be
// read, which reports that and stops; false when not started as a service.
bool serveUnreadableBlock(const char* problem);
// The service's launch sequence in the console, without the control manager:
// the console's control events (Ctrl+C, Ctrl+Break, close) stop the application
// as a service stop does. Returns 1 when the launch fails, 0 when a stop came
// before the JVM existed; otherwise the process ends with the application's exit
// status (0 after a stop, 1053 after a stop that outlasted StopTimeout).
int runInConsole();
// Installs consoleRunCtrlHandler, which turns every console control event into
// one stop request.
void installConsoleStop();
BOOL WINAPI consoleRunCtrlHandler(DWORD event);
// Stop requests made so far in this process (the first one counts).
int stopRequestCount();
// The JNI "exit" hook: the JVM calls it on System.exit and may then end the
// process without the runtime's exit processing, so the final report is made
// here.
void JNICALL jvmExitHook(jint status);

}  // namespace zanto
