// The service management commands: the launcher installs, removes, starts and
// stops itself as a Windows service under `serviceName`. Each prints its
// outcome on standard output and returns 0 on success or 1 on failure (the exit
// code).
#pragma once

#include <windows.h>

#include <cstddef>

namespace zanto {

int installService(DWORD startType);

using ChangeConfig2W = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
// The recovery and delayed-start settings through `change` (ChangeServiceConfig2W
// or null when the system has none). A refused call is logged and named in a
// line on standard output; the installation stands.
void applyRecovery(SC_HANDLE service, ChangeConfig2W change, DWORD startType);
// The pre-shutdown timeout from StopTimeout (with a margin), so that at system
// shutdown Windows waits for the stop; none when StopTimeout is 0.
void applyPreshutdownTimeout(SC_HANDLE service, ChangeConfig2W change);
int uninstallService(bool verbose);
int startInstalledService();
int stopInstalledService(bool verbose);
// One line with the state, and the Win32 and service-specific exit codes when
// stopped, then the text of the last start's failure if there is one; 0 when
// the service exists, 1 when not.
int printServiceStatus();
// Stops the service as stopInstalledService does (unless it is stopped), then
// starts it; 1 when either fails.
int restartInstalledService();
// The word printed for a service state, such as "running".
const char* serviceStateName(DWORD state);
// True when the service ended in the stopped state; waits while stop pending,
// as long as the check point grows or the wait hint has not run out.
bool waitForServiceStop(SC_HANDLE service);

// The dependency list from `setting` (pieces split at ',', empty ones skipped)
// as a double-zero-terminated list in `buffer`, or null when there is none. A
// piece that does not fit whole is left out with all that follow.
const char* buildDependencyList(const char* setting, char* buffer, size_t size);
// The binary path to register: `path` in double quotes when it holds a blank,
// so that the control manager cannot start a program named by its first words.
// False (and `out` empty) when it does not fit.
bool serviceBinaryPath(const char* path, char* out, size_t size);

}  // namespace zanto
